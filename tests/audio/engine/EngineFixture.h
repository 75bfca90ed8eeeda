// Shared set-up of the engine tests: the test loop, recorded message boxes, simulated devices and
// a private recording folder; plus small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/CAudioPlayRec.h"
#include "tests/fakes/CRecordingMessageBox.h"
#include "tests/fakes/CSimWaveDevice.h"
#include "tests/fakes/CTestUiLoop.h"

namespace vexa::testing {

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool FileExists(const std::string& path);
std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t offset);
std::uint16_t U16At(const std::vector<std::uint8_t>& bytes, std::size_t offset);
void PutU32(std::vector<std::uint8_t>& bytes, std::uint32_t value);
void PutU16(std::vector<std::uint8_t>& bytes, std::uint16_t value);
void PutTag(std::vector<std::uint8_t>& bytes, const char* tag);
// A chunk: tag, size, body and the pad byte of an odd body.
void PutChunk(std::vector<std::uint8_t>& bytes, const char* tag,
              const std::vector<std::uint8_t>& body);
std::vector<std::uint8_t> FormatBody(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                                     std::size_t size = 16);
// "RIFF" size "WAVE" followed by the given chunks.
std::vector<std::uint8_t> RiffWave(const std::vector<std::uint8_t>& chunks);
// The 46-byte header this system writes for a capture track.
std::vector<std::uint8_t> ExpectedWaveHeader(std::uint16_t channels, std::uint32_t dataBytes);
// A temporary folder, removed with everything in it at destruction.
class CTempFolder {
  public:
    CTempFolder();
    ~CTempFolder();
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

// Keeps the loop running while a box is open, as a modal box does; at the first box it runs
// `whileOpen`, which stands for what happens before the user presses OK. Puts `previous` back
// as the box service at the end.
class CLoopingMessageBox : public platform::IMessageBox {
  public:
    CLoopingMessageBox(std::function<void()> whileOpen, platform::IMessageBox* previous);
    ~CLoopingMessageBox() override;
    void Show(const std::string& text, const std::string& caption) override;
    std::vector<std::string> texts;

  private:
    std::function<void()> m_whileOpen;
    platform::IMessageBox* m_previous;
};

class EngineTest : public ::testing::Test {
  protected:
    EngineTest();
    ~EngineTest() override;

    // Create on device 0 with a hook that counts wave messages.
    void CreateEngine(std::uint32_t device = 0);
    std::string StatePath(const std::string& name) const;
    // Runs the loop until the engine is Ready again or maxMs of virtual time passed.
    bool RunUntilReady(std::uint64_t maxMs = 3000);
    bool HasBox(const std::string& text) const;
    // Boxes of driver failures end in the operation's text.
    bool HasBoxEndingWith(const std::string& tail) const;

    CTempFolder m_state;
    std::string m_oldState;
    CTestUiLoop m_loop;
    CRecordingMessageBox m_boxes;
    CSimWaveDevices m_devices;
    std::unique_ptr<CAudioPlayRec> m_engine;
    std::map<std::uint32_t, int> m_messages;
    std::vector<std::uint32_t> m_order;

    static void Hook(std::uint32_t msg, void* context);
};

}  // namespace vexa::testing
