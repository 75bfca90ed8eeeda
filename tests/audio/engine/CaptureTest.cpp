#include <algorithm>

#include "tests/audio/engine/EngineFixture.h"

namespace vexa::testing {
namespace {

using platform::MM_WIM_CLOSE;
using platform::MM_WIM_DATA;

constexpr std::uint32_t kBuffer = 4096;

class CaptureTest : public EngineTest {};

TEST_F(CaptureTest, StatesThroughOneCaptureAndTheCloseByTheLastBuffer) {
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Idle);
    CreateEngine();
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Ready);
    EXPECT_EQ(m_engine->GetDeviceName(), "Sim Microphone");

    ASSERT_TRUE(m_engine->StartRecording(0));
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Recording);
    ASSERT_EQ(m_devices.inFormats.size(), 1u);
    const auto& f = m_devices.inFormats[0];
    EXPECT_EQ(+f.wFormatTag, 1);
    EXPECT_EQ(+f.nChannels, 1);
    EXPECT_EQ(+f.nSamplesPerSec, 22050u);
    EXPECT_EQ(+f.nAvgBytesPerSec, 44100u);
    EXPECT_EQ(+f.nBlockAlign, 2);
    EXPECT_EQ(+f.wBitsPerSample, 16);
    EXPECT_EQ(m_devices.InQueued(), 5);

    // A second start changes nothing.
    EXPECT_TRUE(m_engine->StartRecording(0));
    EXPECT_EQ(m_devices.calls["in.open"], 1);
    EXPECT_TRUE(m_boxes.Texts().empty());

    m_loop.RunFor(500);
    EXPECT_GT(m_messages[MM_WIM_DATA], 3);
    m_engine->Stop();
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Stopping);
    EXPECT_TRUE(m_loop.HasTimer(m_engine->GetWindow(), CAudioPlayRec::TIMER_CAPTURE_STOP));

    // At the device's pace the ring is back well before the stop timer.
    m_loop.RunFor(600);
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Ready);
    EXPECT_EQ(m_messages[MM_WIM_CLOSE], 1);
    EXPECT_EQ(m_devices.openIn, 0);
    EXPECT_FALSE(m_loop.HasTimer(m_engine->GetWindow(), CAudioPlayRec::TIMER_CAPTURE_STOP));
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(CaptureTest, SamplesAfterStopAreNotWrittenAndNothingIsLostBefore) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    m_loop.RunFor(1000);
    int returned = m_messages[MM_WIM_DATA];
    EXPECT_EQ(m_devices.droppedBytes, 0u);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());

    auto file = ReadFileBytes(StatePath("test.wav"));
    std::uint32_t n = static_cast<std::uint32_t>(returned) * kBuffer;
    ASSERT_EQ(file.size(), 46u + n);
    std::vector<std::uint8_t> data(file.begin() + 46, file.end());
    ASSERT_GE(m_devices.captured.size(), n + kBuffer);  // the device went on after Stop
    EXPECT_TRUE(std::equal(data.begin(), data.end(), m_devices.captured.begin()));
}

TEST_F(CaptureTest, StartWhileStoppingFailsAndKeepsThePendingClose) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    m_loop.RunFor(300);
    m_engine->Stop();
    EXPECT_FALSE(m_engine->StartRecording(0));
    EXPECT_TRUE(HasBox("Class status error"));
    EXPECT_FALSE(m_engine->Play());
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Stopping);
    ASSERT_TRUE(RunUntilReady());
    auto file = ReadFileBytes(StatePath("test.wav"));
    ASSERT_GE(file.size(), 46u);
    EXPECT_EQ(U32At(file, 42), file.size() - 46);
    EXPECT_EQ(m_devices.calls["in.open"], 1);
}

TEST_F(CaptureTest, PlayDuringCaptureAndStartDuringPlaybackFail) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    m_loop.RunFor(300);
    EXPECT_FALSE(m_engine->Play());
    EXPECT_TRUE(HasBox("Class status error"));
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Recording);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());

    m_boxes.Clear();
    ASSERT_TRUE(m_engine->Play());
    EXPECT_FALSE(m_engine->StartRecording(0));
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{"Class status error"});
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Playing);
}

TEST_F(CaptureTest, TheStopTimerClosesWhenBuffersDoNotComeBack) {
    CreateEngine();
    // Every re-queue fails: the ring drains and the buffers stay counted as queued.
    m_devices.Fail("in.prepare", platform::MMSYSERR_NOMEM, 5, -1);
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    m_loop.RunFor(1000);
    EXPECT_TRUE(HasBoxEndingWith(" waveInPrepareHeader() failed"));
    EXPECT_EQ(m_devices.InQueued(), 0);
    m_engine->Stop();
    m_loop.RunFor(990);
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Stopping);
    m_loop.RunFor(20);
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Ready);
    EXPECT_EQ(m_devices.openIn, 0);
    auto file = ReadFileBytes(StatePath("test.wav"));
    EXPECT_EQ(file.size(), 46u + 5 * kBuffer);
}

TEST_F(CaptureTest, AnEarlierStopTimerDoesNotCloseTheNextCapture) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    m_loop.RunFor(200);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady(900));
    ASSERT_TRUE(m_engine->StartRecording(0));
    m_loop.RunFor(1500);
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Recording);
    EXPECT_EQ(m_devices.openIn, 1);
}

TEST_F(CaptureTest, ChannelModesFeedTheTracks) {
    struct Case {
        int mode;
        std::uint16_t channels;
    };
    for (Case c : {Case{0, 1}, Case{1, 2}, Case{2, 1}}) {
        SCOPED_TRACE(c.mode);
        m_devices.captured.clear();
        m_messages.clear();
        CreateEngine();
        ASSERT_TRUE(m_engine->StartRecording(c.mode));
        ASSERT_TRUE(m_engine->OpenOutput(0, "left.wav"));
        ASSERT_TRUE(m_engine->OpenOutput(1, "right.wav"));
        m_loop.RunFor(700);
        int returned = m_messages[MM_WIM_DATA];
        m_engine->Stop();
        ASSERT_TRUE(RunUntilReady());

        std::uint16_t captureChannels = c.mode == 0 ? 1 : 2;
        EXPECT_EQ(+m_devices.inFormats.back().nChannels, captureChannels);
        auto left = ReadFileBytes(StatePath("left.wav"));
        auto right = ReadFileBytes(StatePath("right.wav"));
        std::uint32_t n = static_cast<std::uint32_t>(returned) * kBuffer;
        std::uint32_t perTrack = c.mode == 2 ? n / 2 : n;
        auto header = ExpectedWaveHeader(c.channels, perTrack);
        ASSERT_EQ(left.size(), 46u + perTrack);
        ASSERT_EQ(right.size(), 46u + perTrack);
        EXPECT_TRUE(std::equal(header.begin(), header.end(), left.begin()));
        EXPECT_TRUE(std::equal(header.begin(), header.end(), right.begin()));
        const auto& cap = m_devices.captured;
        for (std::uint32_t i = 0; i < perTrack; ++i) {
            std::uint8_t l = c.mode == 2 ? cap[(i / 2) * 4 + i % 2] : cap[i];
            std::uint8_t r = c.mode == 2 ? cap[(i / 2) * 4 + 2 + i % 2] : cap[i];
            ASSERT_EQ(left[46 + i], l) << i;
            ASSERT_EQ(right[46 + i], r) << i;
        }
    }
}

TEST_F(CaptureTest, BufferCountFollowsTheCaptureFormat) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(1));
    EXPECT_EQ(m_devices.InQueued(), 6);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
    ASSERT_TRUE(m_engine->StartRecording(0));
    EXPECT_EQ(m_devices.InQueued(), 5);
}

TEST_F(CaptureTest, DeviceNumbersOutsideEitherDirectionAreRefused) {
    m_devices.inCount = 2;
    m_devices.outCount = 1;
    EXPECT_FALSE(m_engine->Create(2, 0, nullptr));
    EXPECT_FALSE(m_engine->Create(1, 0, nullptr));
    EXPECT_EQ(m_boxes.Texts(),
              (std::vector<std::string>{"Error audio device", "Error audio device"}));
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Idle);
    m_devices.inCount = 0;
    m_devices.outCount = 0;
    EXPECT_TRUE(m_engine->Create(platform::WAVE_MAPPER, 0, nullptr));
    EXPECT_EQ(m_engine->GetDeviceName(), "Sim Sound Mapper");
}

struct FailureCase {
    const char* op;
    int skip;
    const char* text;
    bool startSucceeds;
};

class CaptureFailureTest : public EngineTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CaptureFailureTest, ShowsTheDriverMessageAndEndsCleanly) {
    const FailureCase& c = GetParam();
    CreateEngine();
    m_devices.Fail(c.op, platform::MMSYSERR_ALLOCATED, c.skip);
    bool started = m_engine->StartRecording(0);
    EXPECT_EQ(started, c.startSucceeds);
    if (started) {
        ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
        m_loop.RunFor(600);
        m_engine->Stop();
    }
    EXPECT_TRUE(RunUntilReady(2000));
    std::string expected = std::string("WAVEIN:4:in: ") +
                           platform::StandardWaveErrorText(platform::MMSYSERR_ALLOCATED) + " " +
                           c.text;
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{expected});
    EXPECT_EQ(m_devices.openIn, 0);
    if (started) {
        auto file = ReadFileBytes(StatePath("test.wav"));
        ASSERT_GE(file.size(), 46u);
        EXPECT_EQ(U32At(file, 42), file.size() - 46);
    }
    // The engine can record again afterwards.
    m_boxes.Clear();
    EXPECT_TRUE(m_engine->StartRecording(0));
    EXPECT_TRUE(m_boxes.Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    DeviceCalls, CaptureFailureTest,
    ::testing::Values(FailureCase{"in.open", 0, "waveInOpen()", false},
                      FailureCase{"in.prepare", 0, "AddInputBufferToQueue Failed", true},
                      FailureCase{"in.add", 2, "waveInAddBuffer() failed", true},
                      FailureCase{"in.start", 0, "waveInStart() failed", false},
                      FailureCase{"in.unprepare", 1, "waveInUnprepareHeader() failed", true},
                      FailureCase{"in.prepare", 6, "waveInPrepareHeader() failed", true},
                      FailureCase{"in.add", 7, "waveInAddBuffer() failed", true},
                      FailureCase{"in.reset", 0, "waveInReset() failed", true},
                      FailureCase{"in.close", 0, "waveInClose() failed", true}));

TEST_F(CaptureTest, NotificationsOfAClosedDeviceDoNotDisturbTheNextCapture) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "old.wav"));
    m_loop.RunFor(300);
    // Binding the device again closes the capture at once; its notifications are still queued
    // when the next capture starts.
    ASSERT_TRUE(m_engine->Create(0, 0, this));
    m_engine->SetNotify(&EngineTest::Hook, this);
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "new.wav"));
    m_loop.RunFor(500);
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Recording);
    EXPECT_EQ(m_devices.InQueued(), 5);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
    auto old = ReadFileBytes(StatePath("old.wav"));
    EXPECT_EQ(U32At(old, 42), old.size() - 46);
    auto fresh = ReadFileBytes(StatePath("new.wav"));
    EXPECT_EQ(U32At(fresh, 42), fresh.size() - 46);
    EXPECT_GE(fresh.size(), 46u + 4 * kBuffer);
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(CaptureTest, DestroyingTheEngineFinishesTheCaptureFiles) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    m_loop.RunFor(450);
    m_engine.reset();
    auto file = ReadFileBytes(StatePath("test.wav"));
    ASSERT_GE(file.size(), 46u + kBuffer);
    EXPECT_EQ(U32At(file, 4), file.size() - 8);
    EXPECT_EQ(U32At(file, 42), file.size() - 46);
    EXPECT_EQ(m_devices.openIn, 0);
}

TEST_F(CaptureTest, OutputNamesAreTakenInLowerCaseAndOnlyATrailingMp3IsMp3) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    EXPECT_TRUE(m_engine->OpenOutput(0, "Take.WAV"));
    EXPECT_TRUE(m_engine->OpenOutput(1, "A.mp3.MP3x.mp3"));
    EXPECT_FALSE(m_engine->OpenOutput(2, "bad.wav"));
    m_loop.RunFor(300);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
    EXPECT_TRUE(FileExists(StatePath("take.wav")));
    EXPECT_FALSE(FileExists(StatePath("Take.WAV")));
    // ".mp3" first occurs before the end: a WAV file under that name.
    auto file = ReadFileBytes(StatePath("a.mp3.mp3x.mp3"));
    ASSERT_GE(file.size(), 46u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_FALSE(FileExists(StatePath("bad.wav")));
}

TEST_F(CaptureTest, OutputsOpenOnlyWhileACaptureRuns) {
    CreateEngine();
    // Nothing would ever finish these, and the next capture would write into them.
    EXPECT_FALSE(m_engine->OpenOutput(0, "early.wav"));
    EXPECT_FALSE(m_engine->OpenOutput(1, "early.mp3"));
    EXPECT_FALSE(FileExists(StatePath("early.wav")));
    EXPECT_FALSE(FileExists(StatePath("early.mp3")));
    EXPECT_EQ(m_boxes.Texts(),
              (std::vector<std::string>{"Class status error", "Class status error"}));

    // Track 1 is free during a playback, but the format there is the played file's.
    std::vector<std::uint8_t> chunks;
    PutChunk(chunks, "fmt ", FormatBody(2, 44100, 16));
    PutChunk(chunks, "data", std::vector<std::uint8_t>(44100 * 4, 1));
    WriteFileBytes(StatePath("test.wav"), RiffWave(chunks));
    ASSERT_TRUE(m_engine->Play());
    EXPECT_FALSE(m_engine->OpenOutput(1, "during.wav"));
    EXPECT_FALSE(FileExists(StatePath("during.wav")));
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());

    m_boxes.Clear();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "take.wav"));
    m_loop.RunFor(300);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
    auto file = ReadFileBytes(StatePath("take.wav"));
    ASSERT_GE(file.size(), 46u + kBuffer);
    auto header = ExpectedWaveHeader(1, static_cast<std::uint32_t>(file.size() - 46));
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(CaptureTest, TheHookSeesEveryWaveMessageAfterItIsHandled) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    m_loop.RunFor(300);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
    ASSERT_FALSE(m_order.empty());
    EXPECT_EQ(m_order.front(), platform::MM_WIM_OPEN);
    EXPECT_EQ(m_order.back(), MM_WIM_CLOSE);
    // Messages outside the wave range reach neither the engine nor the hook.
    m_order.clear();
    platform::UiLoop().PostMessage(m_engine->GetWindow(), platform::MM_MIXM_CONTROL_CHANGE, 0, 0);
    platform::UiLoop().PostMessage(m_engine->GetWindow(), platform::MM_WIM_DATA, 999, 0);
    m_loop.RunPending();
    EXPECT_EQ(m_order, std::vector<std::uint32_t>{MM_WIM_DATA});
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Ready);
}

}  // namespace
}  // namespace vexa::testing
