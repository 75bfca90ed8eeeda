// Simulated wave-in and wave-out devices on the UI loop's clock: capture fills queued buffers at
// the format's byte rate from a sample source, playback consumes them at that rate; returned
// buffers and closes are posted like a driver posts them. Failures can be injected per call.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/IWaveDevices.h"

namespace vexa::testing {

class CSimWaveDevices : public platform::IWaveDevices {
  public:
    // Installs itself as the process's wave devices for its lifetime.
    CSimWaveDevices();
    ~CSimWaveDevices() override;

    // Set-up.
    std::uint32_t inCount = 1;
    std::uint32_t outCount = 1;
    std::vector<std::string> inNames{"Sim Microphone"};
    // Mixer of each wave-in device (default: its own number); a missing entry for a device
    // listed in noMixer gives MMSYSERR_NODRIVER.
    std::map<std::uint32_t, std::uint32_t> mixerOf;
    std::vector<std::uint32_t> noMixer;
    // Captured byte at an absolute offset of the capture stream (default: a counting pattern
    // of 16-bit little-endian values).
    std::function<std::uint8_t(std::uint64_t)> source;
    // Time step of the simulation.
    std::uint32_t tickMs = 10;

    // Fails the call `op` ("in.open", "in.prepare", "in.add", "in.start", "in.unprepare",
    // "in.reset", "in.close", "out.open", "out.prepare", "out.write", "out.unprepare",
    // "out.reset", "out.pause", "out.close") with code, after `skip` successful calls.
    void Fail(const std::string& op, platform::MMRESULT code, int skip = 0, int times = 1);

    // Observations.
    std::vector<std::uint8_t> captured;  // bytes delivered into returned capture buffers
    std::uint64_t droppedBytes = 0;      // captured while no buffer was queued
    std::vector<std::uint8_t> played;    // bytes the output device played
    std::vector<platform::WAVEFORMATEX> inFormats;
    std::vector<platform::WAVEFORMATEX> outFormats;
    std::vector<std::uint32_t> outDeviceIds;
    std::vector<std::uint32_t> inDeviceIds;
    int maxOutQueued = 0;
    int openIn = 0;  // devices open now
    int openOut = 0;
    std::map<std::string, int> calls;
    // Queued buffers of the open devices.
    int InQueued() const;
    int OutQueued() const;

    // IWaveDevices.
    std::uint32_t WaveInCount() override { return inCount; }
    std::uint32_t WaveOutCount() override { return outCount; }
    platform::MMRESULT WaveInName(std::uint32_t deviceId, std::string& name) override;
    platform::MMRESULT OpenWaveIn(std::uint32_t deviceId, const platform::WAVEFORMATEX& format,
                                  platform::WindowHandle notify,
                                  std::unique_ptr<platform::IWaveIn>& device) override;
    platform::MMRESULT OpenWaveOut(std::uint32_t deviceId, const platform::WAVEFORMATEX& format,
                                   platform::WindowHandle notify,
                                   std::unique_ptr<platform::IWaveOut>& device) override;
    std::string WaveInErrorText(platform::MMRESULT code) override;
    std::string WaveOutErrorText(platform::MMRESULT code) override;

    // Used by the devices.
    bool ShouldFail(const std::string& op, platform::MMRESULT& code);

    class CDevice;

  private:
    struct FailRule {
        platform::MMRESULT code;
        int skip;
        int times;
    };
    std::map<std::string, FailRule> m_failures;
    std::vector<CDevice*> m_devices;
    std::uintptr_t m_nextSerial = 1;
    friend class CDevice;
};

}  // namespace vexa::testing
