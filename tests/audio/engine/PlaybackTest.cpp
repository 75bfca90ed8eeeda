#include "tests/audio/engine/EngineFixture.h"

namespace vexa::testing {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> data(n);
    for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + seed + i / 251);
    return data;
}

class PlaybackTest : public EngineTest {
  protected:
    void WriteTestWav(const std::vector<std::uint8_t>& bytes) {
        WriteFileBytes(StatePath("test.wav"), bytes);
    }
    std::vector<std::uint8_t> Wave(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                                   const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> chunks;
        PutChunk(chunks, "fmt ", FormatBody(channels, rate, bits));
        PutChunk(chunks, "data", data);
        return RiffWave(chunks);
    }
};

TEST_F(PlaybackTest, PlaysInTheFilesFormatWithItsBufferCountToTheEnd) {
    struct Case {
        std::uint16_t channels;
        std::uint32_t rate;
        std::uint16_t bits;
        int buffers;
    };
    for (Case c : {Case{2, 44100, 16, 8}, Case{1, 8000, 8, 2}, Case{2, 22050, 8, 5},
                   Case{1, 22050, 16, 5}}) {
        SCOPED_TRACE(c.rate);
        CreateEngine();
        m_devices.played.clear();
        m_devices.maxOutQueued = 0;
        // Long enough to cycle the ring several times, and not a whole number of buffers.
        auto data = Pattern(4096 * 13 + 1234);
        WriteTestWav(Wave(c.channels, c.rate, c.bits, data));
        ASSERT_TRUE(m_engine->Play());
        EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Playing);
        const auto& f = m_devices.outFormats.back();
        EXPECT_EQ(+f.nChannels, c.channels);
        EXPECT_EQ(+f.nSamplesPerSec, c.rate);
        EXPECT_EQ(+f.wBitsPerSample, c.bits);
        EXPECT_EQ(m_devices.maxOutQueued, c.buffers);
        std::uint64_t ms = data.size() * 1000 / f.nAvgBytesPerSec;
        ASSERT_TRUE(RunUntilReady(ms + 2000));
        // Everything, and nothing of an earlier buffer after the end.
        EXPECT_EQ(m_devices.played, data);
        EXPECT_EQ(m_devices.openOut, 0);
        EXPECT_TRUE(m_boxes.Texts().empty());
    }
}

TEST_F(PlaybackTest, AFileShorterThanTheRingQueuesOnlyTheFilledBuffers) {
    CreateEngine();
    auto data = Pattern(5000);
    WriteTestWav(Wave(1, 22050, 16, data));
    ASSERT_TRUE(m_engine->Play());
    EXPECT_EQ(m_devices.OutQueued(), 2);
    ASSERT_TRUE(RunUntilReady());
    EXPECT_EQ(m_devices.played, data);
}

TEST_F(PlaybackTest, ChunksAroundFmtAndDataAreHandledAsTheyLie) {
    CreateEngine();
    auto data = Pattern(3000);
    std::vector<std::uint8_t> chunks;
    PutChunk(chunks, "LIST", {1, 2, 3, 4, 5});
    // An extensible format record: only its first 18 bytes are taken.
    PutChunk(chunks, "fmt ", FormatBody(1, 22050, 16, 40));
    PutChunk(chunks, "fact", {0, 0, 0, 0});
    PutChunk(chunks, "data", data);
    PutChunk(chunks, "tail", {7, 7, 7});
    WriteTestWav(RiffWave(chunks));
    ASSERT_TRUE(m_engine->Play());
    EXPECT_EQ(+m_devices.outFormats.back().cbSize, 22);
    ASSERT_TRUE(RunUntilReady());
    // Playback reads to the end of the file: the chunk after "data" plays too.
    std::vector<std::uint8_t> expected = data;
    PutChunk(expected, "tail", {7, 7, 7});
    EXPECT_EQ(m_devices.played, expected);
}

TEST_F(PlaybackTest, MalformedFilesGiveTheirMessages) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* message;
    };
    std::vector<std::uint8_t> fmt;
    PutChunk(fmt, "fmt ", FormatBody(1, 22050, 16));
    std::vector<std::uint8_t> data;
    PutChunk(data, "data", Pattern(100));
    std::vector<std::uint8_t> dataFirst = data;
    dataFirst.insert(dataFirst.end(), fmt.begin(), fmt.end());
    std::vector<std::uint8_t> noData = fmt;
    std::vector<std::uint8_t> emptyData = fmt;
    PutChunk(emptyData, "data", {});
    std::vector<std::uint8_t> notWave;
    PutTag(notWave, "RIFF");
    PutU32(notWave, 4);
    PutTag(notWave, "AVI ");

    std::vector<Case> cases = {
        {"missing", {}, "Open wave file failed"},
        {"not riff", Pattern(64), "Error descending into file"},
        {"other form", notWave, "Error descending into file"},
        {"no fmt", RiffWave(data), "Error descending in wave file"},
        {"data before fmt", RiffWave(dataFirst), "error reading data chunk"},
        {"no data", RiffWave(noData), "error reading data chunk"},
        {"empty data", RiffWave(emptyData), "Read sound data from file failed"},
    };
    CreateEngine();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_boxes.Clear();
        if (std::string(c.name) == "missing") {
            std::remove(StatePath("test.wav").c_str());
        } else {
            WriteTestWav(c.bytes);
        }
        EXPECT_FALSE(m_engine->Play());
        EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Ready);
        EXPECT_EQ(m_devices.openOut, 0);
        m_loop.RunFor(10);
    }
    // Nothing stays open: a good file plays afterwards.
    m_boxes.Clear();
    WriteTestWav(Wave(1, 22050, 16, Pattern(100)));
    EXPECT_TRUE(m_engine->Play());
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(PlaybackTest, AFormatWithoutSamplesIsRefusedAndDoesNotBlockLaterPlayback) {
    CreateEngine();
    std::vector<std::uint8_t> chunks;
    PutChunk(chunks, "fmt ", FormatBody(0, 22050, 16));
    PutChunk(chunks, "data", Pattern(100));
    WriteTestWav(RiffWave(chunks));
    EXPECT_FALSE(m_engine->Play());
    WriteTestWav(Wave(1, 22050, 16, Pattern(100)));
    EXPECT_TRUE(m_engine->Play());
}

TEST_F(PlaybackTest, StopResetsTheDeviceAndClosesWhenTheBuffersAreBack) {
    CreateEngine();
    WriteTestWav(Wave(1, 22050, 16, Pattern(44100 * 3)));
    ASSERT_TRUE(m_engine->Play());
    m_loop.RunFor(500);
    m_engine->Stop();
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Stopping);
    EXPECT_EQ(m_devices.calls["out.reset"], 1);
    m_loop.RunPending();
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Ready);
    EXPECT_EQ(m_devices.openOut, 0);
    EXPECT_LT(m_devices.played.size(), 44100u);
    EXPECT_FALSE(m_loop.HasTimer(m_engine->GetWindow(), CAudioPlayRec::TIMER_PLAYBACK_STOP));
}

struct OutFailure {
    const char* op;
    int skip;
    const char* text;
    bool playSucceeds;
};

class PlaybackFailureTest : public PlaybackTest,
                            public ::testing::WithParamInterface<OutFailure> {};

TEST_P(PlaybackFailureTest, ShowsTheDriverMessageWithTheWaveOutText) {
    const OutFailure& c = GetParam();
    CreateEngine();
    WriteTestWav(Wave(1, 22050, 16, Pattern(4096 * 8)));
    m_devices.Fail(c.op, platform::MMSYSERR_NOMEM, c.skip);
    EXPECT_EQ(m_engine->Play(), c.playSucceeds);
    if (c.playSucceeds && std::string(c.op) == "out.reset") m_engine->Stop();
    EXPECT_TRUE(RunUntilReady(3000));
    std::string expected = std::string("WAVEIN:7:out: ") +
                           platform::StandardWaveErrorText(platform::MMSYSERR_NOMEM) + " " + c.text;
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{expected});
    EXPECT_EQ(m_devices.openOut, 0);
    m_boxes.Clear();
    EXPECT_TRUE(m_engine->Play());
    EXPECT_TRUE(m_boxes.Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    DeviceCalls, PlaybackFailureTest,
    ::testing::Values(OutFailure{"out.open", 0, "waveOutOpen() failed", false},
                      OutFailure{"out.prepare", 1, "waveOutPrepareHeader() failed", false},
                      OutFailure{"out.write", 0, "waveOutWrite() failed", false},
                      OutFailure{"out.prepare", 6, "waveOutPrepareHeader() failed", true},
                      OutFailure{"out.unprepare", 0, "waveOutUnprepareHeader() failed", true},
                      OutFailure{"out.reset", 0, "waveOutReset() failed", true},
                      OutFailure{"out.close", 0, "waveOutClose() failed", true}));

TEST_F(PlaybackTest, APlaybackThatEndsWhileARefillFailureIsShownStaysEnded) {
    CreateEngine();
    WriteTestWav(Wave(1, 22050, 16, Pattern(4096 * 8)));
    // The first refill fails; the rest of the file plays out and the playback closes before
    // the box is confirmed.
    m_devices.Fail("out.prepare", platform::MMSYSERR_NOMEM, 5);
    CLoopingMessageBox box([&] { m_loop.RunFor(2000); }, &m_boxes);
    ASSERT_TRUE(m_engine->Play());
    m_loop.RunFor(1000);
    ASSERT_EQ(box.texts.size(), 1u);
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Ready);
    EXPECT_FALSE(m_loop.HasTimer(m_engine->GetWindow(), CAudioPlayRec::TIMER_PLAYBACK_STOP));
    EXPECT_EQ(m_devices.openOut, 0);
    EXPECT_TRUE(m_engine->Play());
    EXPECT_EQ(box.texts.size(), 1u);
}

TEST_F(PlaybackTest, PlayRightAfterARecordingPlaysWhatWasRecorded) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    m_loop.RunFor(800);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
    auto file = ReadFileBytes(StatePath("test.wav"));
    ASSERT_TRUE(m_engine->Play());
    ASSERT_TRUE(RunUntilReady());
    EXPECT_EQ(m_devices.played, std::vector<std::uint8_t>(file.begin() + 46, file.end()));
    EXPECT_EQ(m_devices.outDeviceIds.back(), 0u);
}

}  // namespace
}  // namespace vexa::testing
