#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "audio/CAudioPlayRec.h"
#include "platform/alsa/CAlsaWaveDevices.h"
#include "platform/core/Paths.h"
#include "platform/glib/CGlibUiLoop.h"
#include "tests/audio/engine/AlsaFixture.h"
#include "tests/audio/engine/EngineFixture.h"
#include "tests/fakes/CRecordingMessageBox.h"

extern char** environ;

namespace vexa::testing {
namespace {

using platform::CGlibUiLoop;

constexpr std::uint32_t kBytesPerSecond = 44100;
constexpr std::uint32_t kBuffer = 4096;

class AlsaEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_device = &SetUpPacedDevice();
        ASSERT_FALSE(m_device->folder.empty()) << "espeak-ng, sox or the paced device is missing";
        platform::SetUiLoop(&m_loop);
        platform::SetWaveDevices(&m_devices);
        m_speech = ReadFileBytes(m_device->speech);
        ASSERT_GT(m_speech.size(), 4u * kBytesPerSecond);
    }
    void TearDown() override {
        m_engine.reset();
        platform::SetWaveDevices(nullptr);
        platform::SetUiLoop(nullptr);
    }
    static void Hook(std::uint32_t msg, void* context) {
        auto* self = static_cast<AlsaEngineTest*>(context);
        if (msg == platform::MM_WIM_DATA) self->m_bufferTimes.push_back(self->m_loop.NowMs());
    }
    void Record(std::uint32_t ms) {
        m_engine = std::make_unique<CAudioPlayRec>();
        ASSERT_TRUE(m_engine->Create(0, 0, this));
        m_engine->SetNotify(&AlsaEngineTest::Hook, this);
        ASSERT_TRUE(m_engine->StartRecording(0));
        ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
        std::uint64_t end = m_loop.NowMs() + ms;
        m_loop.RunUntil([&] { return m_loop.NowMs() >= end; }, ms + 1000);
        m_engine->Stop();
        ASSERT_TRUE(
            m_loop.RunUntil([&] { return m_engine->GetState() == CAudioPlayRec::Ready; }, 3000));
    }

    const PacedDevice* m_device = nullptr;
    CGlibUiLoop m_loop;
    platform::CAlsaWaveDevices m_devices;
    CRecordingMessageBox m_boxes;
    std::unique_ptr<CAudioPlayRec> m_engine;
    std::vector<std::uint64_t> m_bufferTimes;
    std::vector<std::uint8_t> m_speech;
};

TEST_F(AlsaEngineTest, TheDeviceListHoldsThePacedDeviceInBothDirections) {
    EXPECT_EQ(m_devices.WaveInCount(), 1u);
    EXPECT_EQ(m_devices.WaveOutCount(), 1u);
    std::string name;
    EXPECT_EQ(m_devices.WaveInName(0, name), platform::MMSYSERR_NOERROR);
    EXPECT_EQ(name, "Vexa paced test device");
    // No mixer exists here: the probe falls back to the mapper, which opens too.
    EXPECT_EQ(FindInputDevice(), platform::WAVE_MAPPER);
}

TEST_F(AlsaEngineTest, ThreeSecondsOfSpeechArriveExactlyAndAtTheDevicesPace) {
    auto started = std::chrono::steady_clock::now();
    Record(3000);
    EXPECT_TRUE(m_boxes.Texts().empty());
    auto file = ReadFileBytes(platform::StateFolder() + "/test.wav");
    ASSERT_GE(file.size(), 46u);
    std::uint32_t n = U32At(file, 42);
    ASSERT_EQ(file.size(), 46u + n);
    EXPECT_EQ(n % kBuffer, 0u);
    EXPECT_GE(n, kBytesPerSecond * 26 / 10);
    EXPECT_LE(n, kBytesPerSecond * 34 / 10);
    // The capture starts at the device's first sample: the file is the source's beginning,
    // nothing lost, nothing twice.
    ASSERT_LE(n, m_speech.size());
    EXPECT_TRUE(std::equal(file.begin() + 46, file.end(), m_speech.begin()));

    // 4096 bytes at 44100 bytes per second: a buffer about every 93 ms. The bounds leave room
    // for a loaded machine (buffers handled late come in bursts) and still fail a device that
    // delivers everything at once or at half its pace.
    ASSERT_GE(m_bufferTimes.size(), 20u);
    std::vector<std::uint64_t> gaps;
    for (std::size_t i = 1; i < m_bufferTimes.size(); ++i)
        gaps.push_back(m_bufferTimes[i] - m_bufferTimes[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    std::uint64_t median = gaps[gaps.size() / 2];
    EXPECT_GE(median, 45u);
    EXPECT_LE(median, 180u);
    std::uint64_t span = m_bufferTimes.back() - m_bufferTimes.front();
    std::printf("captured %u bytes in %zu buffers, median gap %llu ms, span %llu ms\n", n,
                m_bufferTimes.size(), static_cast<unsigned long long>(median),
                static_cast<unsigned long long>(span));
    std::uint64_t expected = (m_bufferTimes.size() - 1) * kBuffer * 1000 / kBytesPerSecond;
    EXPECT_GE(span, expected * 75 / 100);
    EXPECT_LE(span, expected * 125 / 100 + 500);
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - started)
                       .count();
    EXPECT_LT(elapsed, 9000);
}

TEST_F(AlsaEngineTest, PlaybackOfTheRecordingPlaysItsBytes) {
    Record(3000);
    auto file = ReadFileBytes(platform::StateFolder() + "/test.wav");
    ASSERT_GT(file.size(), 46u + kBytesPerSecond);
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_engine->Play());
    ASSERT_TRUE(
        m_loop.RunUntil([&] { return m_engine->GetState() == CAudioPlayRec::Ready; }, 8000));
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - started)
                       .count();
    EXPECT_TRUE(m_boxes.Texts().empty());
    auto played = ReadFileBytes(m_device->played);
    EXPECT_EQ(played.size(), file.size() - 46);
    EXPECT_TRUE(played == std::vector<std::uint8_t>(file.begin() + 46, file.end()));
    // Played at the device's pace, not all at once.
    std::uint64_t duration = (file.size() - 46) * 1000 / kBytesPerSecond;
    std::printf("played %zu bytes (%llu ms of sound) in %lld ms\n", played.size(),
                static_cast<unsigned long long>(duration), static_cast<long long>(elapsed));
    EXPECT_GE(static_cast<std::uint64_t>(elapsed), duration * 8 / 10);
    // Ends soon after the sound, with room for a loaded machine.
    EXPECT_LE(static_cast<std::uint64_t>(elapsed), duration + 2500);
}

TEST_F(AlsaEngineTest, AKilledRecordingLeavesAPlayableFile) {
    std::string wav = platform::StateFolder() + "/test.wav";
    std::remove(wav.c_str());
    pid_t child = 0;
    char program[] = VEXA_RECORD_UNTIL_KILLED;
    char* argv[] = {program, nullptr};
    ASSERT_EQ(posix_spawn(&child, program, nullptr, nullptr, argv, environ), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2600));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    auto file = ReadFileBytes(wav);
    ASSERT_GE(file.size(), 46u);
    std::uint32_t data = U32At(file, 42);
    std::printf("killed after 2.6 s: file %zu bytes, header says %u data bytes\n", file.size(),
                data);
    EXPECT_EQ(U32At(file, 4), data + 38);
    EXPECT_LE(46u + data, file.size());
    // At most about a second (and the ring) behind the 2.6 s it ran.
    EXPECT_GE(data, kBytesPerSecond / 2);
    EXPECT_TRUE(std::equal(file.begin() + 46, file.begin() + 46 + data, m_speech.begin()));
    std::string check = "sox '" + wav + "' -n stat 2>/dev/null";
    EXPECT_EQ(std::system(check.c_str()), 0);

    // And the engine plays it.
    m_engine = std::make_unique<CAudioPlayRec>();
    ASSERT_TRUE(m_engine->Create(0, 0, this));
    ASSERT_TRUE(m_engine->Play());
    ASSERT_TRUE(
        m_loop.RunUntil([&] { return m_engine->GetState() == CAudioPlayRec::Ready; }, 8000));
    EXPECT_TRUE(m_boxes.Texts().empty());
    auto played = ReadFileBytes(m_device->played);
    EXPECT_EQ(played.size(), (file.size() - 46) & ~1u);
}

// Last in this file: it adds devices to the process's ALSA configuration.
TEST_F(AlsaEngineTest, DeviceNumbersStayPutWhileOurCaptureHoldsAnExclusiveDevice) {
    // Two more devices; the first takes one opener at a time, as a sound card does.
    std::string extra = m_device->folder + "/more-devices.conf";
    std::string devices;
    for (const char* name : {"exclusive", "other"}) {
        devices += std::string("pcm.vexa_") + name + " {\n type vexapaced\n infile \"" +
                   m_device->speech + "\"\n outfile \"" + m_device->folder + "/" + name +
                   ".raw\"\n" +
                   (name == std::string("exclusive")
                        ? " lockfile \"" + m_device->folder + "/exclusive.lock\"\n"
                        : "") +
                   " hint { show on description \"Test device " + name + "\" }\n}\n";
    }
    WriteFileBytes(extra, std::vector<std::uint8_t>(devices.begin(), devices.end()));
    std::string previous = m_device->config;
    setenv("ALSA_CONFIG_PATH", (previous + ":" + extra).c_str(), 1);

    auto names = [](platform::IWaveDevices& list) {
        std::vector<std::string> all(list.WaveInCount());
        for (std::uint32_t i = 0; i < all.size(); ++i) list.WaveInName(i, all[i]);
        return all;
    };
    std::vector<std::string> before = names(m_devices);
    ASSERT_EQ(before.size(), 3u);
    auto at = std::find(before.begin(), before.end(), "Test device exclusive");
    ASSERT_NE(at, before.end());
    auto exclusive = static_cast<std::uint32_t>(at - before.begin());

    platform::WAVEFORMATEX format{platform::WAVE_FORMAT_PCM, 1, 22050, kBytesPerSecond, 2, 16, 0};
    std::unique_ptr<platform::IWaveIn> held, second;
    ASSERT_EQ(m_devices.OpenWaveIn(exclusive, format, 0, held), platform::MMSYSERR_NOERROR);
    EXPECT_EQ(m_devices.OpenWaveIn(exclusive, format, 0, second), platform::MMSYSERR_ALLOCATED)
        << "the device is not held";
    // While it is busy every number names the device it named before, and a new list (the
    // next start of the program) still has it.
    EXPECT_EQ(names(m_devices), before);
    platform::CAlsaWaveDevices later;
    EXPECT_EQ(names(later), before);
    EXPECT_EQ(held->Close(), platform::MMSYSERR_NOERROR);
    setenv("ALSA_CONFIG_PATH", previous.c_str(), 1);
}

}  // namespace
}  // namespace vexa::testing
