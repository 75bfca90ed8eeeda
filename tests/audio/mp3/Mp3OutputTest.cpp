// The recorder's MP3 output on simulated devices, with the real encoder library and with test
// builds of it that lack entry points or fail on request.
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <utility>

#include "platform/core/Paths.h"
#include "platform/dynlib/DynamicLibrary.h"
#include "tests/audio/engine/EngineFixture.h"
#include "tests/audio/mp3/Mp3TestSupport.h"

namespace vexa::testing {
namespace {

int OpenFileCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++n;
        closedir(dir);
    }
    return n;
}

bool LibraryMapped(const std::string& folder) {
    std::ifstream maps("/proc/self/maps");
    std::stringstream all;
    all << maps.rdbuf();
    return all.str().find(folder + "/liblame_enc.so") != std::string::npos;
}

class Mp3Output : public EngineTest {
  protected:
    Mp3Output() {
        UseLibrary(LAME_ENC_DIR);
        unsetenv("VEXA_TEST_LAME_FAULT");
        // The per-user library folder is the test's own, never the account's.
        if (const char* old = std::getenv("XDG_DATA_HOME")) m_oldData = old;
        setenv("XDG_DATA_HOME", m_userData.Path().c_str(), 1);
    }
    ~Mp3Output() override {
        m_engine.reset();
        platform::SetDynamicLibraryFolder("");
        unsetenv("VEXA_TEST_LAME_FAULT");
        if (m_oldData)
            setenv("XDG_DATA_HOME", m_oldData->c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }
    void UseLibrary(const std::string& folder) { platform::SetDynamicLibraryFolder(folder); }

    // The simulated microphone hears the given interleaved samples, over and over.
    void Hear(std::vector<std::int16_t> samples) {
        m_signal = std::move(samples);
        m_devices.source = [this](std::uint64_t offset) {
            std::uint64_t sample = (offset / 2) % m_signal.size();
            auto value = static_cast<std::uint16_t>(m_signal[sample]);
            return static_cast<std::uint8_t>(offset % 2 == 0 ? value & 0xFF : value >> 8);
        };
    }

    // Records for about ms of device time with the outputs given, then stops and waits for the
    // close.
    void Record(int channelMode, const std::vector<std::pair<int, std::string>>& outputs,
                std::uint64_t ms, std::vector<bool>* opened = nullptr) {
        CreateEngine();
        ASSERT_TRUE(m_engine->StartRecording(channelMode));
        for (const auto& [track, name] : outputs) {
            bool ok = m_engine->OpenOutput(track, name);
            if (opened != nullptr) opened->push_back(ok);
        }
        m_loop.RunFor(ms);
        m_engine->Stop();
        ASSERT_TRUE(RunUntilReady());
    }

    std::vector<std::int16_t> Decode(const std::string& mp3, int* channels) {
        std::string wav = mp3 + ".decoded.wav";
        if (!DecodeMp3(mp3, wav)) return {};
        return ReadWavSamples(wav, channels);
    }

    std::vector<std::int16_t> m_signal;
    CTempDir m_userData;
    std::optional<std::string> m_oldData;
};

TEST_F(Mp3Output, MonoCaptureGivesATaggedMp3MatchingTheWav) {
    Hear(SpeechLikeSignal(22050 * 3, 1));
    Record(0, {{0, "test.wav"}, {0, "Test.MP3"}}, 2000);
    EXPECT_TRUE(m_boxes.Texts().empty());

    std::vector<std::uint8_t> mp3 = ReadBytes(StatePath("test.mp3"));
    std::vector<Mp3Frame> frames = ParseMp3Frames(mp3);
    ASSERT_GT(frames.size(), 10u);
    EXPECT_EQ(frames.back().offset + frames.back().length, mp3.size());
    for (const Mp3Frame& f : frames) {
        EXPECT_EQ(f.mpegVersion, 2);
        EXPECT_EQ(f.sampleRate, 22050);
        EXPECT_EQ(f.channelMode, 3);
    }
    auto tag = ReadInfoTag(mp3, frames[0]);
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->frames, frames.size() - 1);

    std::vector<std::int16_t> wav = ReadWavSamples(StatePath("test.wav"));
    int channels = 0;
    std::vector<std::int16_t> decoded = Decode(StatePath("test.mp3"), &channels);
    EXPECT_EQ(channels, 1);
    // The samples still staged at the close are encoded too: nothing of the end is lost.
    EXPECT_GE(decoded.size(), wav.size());
    EXPECT_LE(decoded.size(), wav.size() + 576u);
    EXPECT_GT(Correlation(decoded, wav), 0.95);
}

TEST_F(Mp3Output, ChannelModesChooseJointStereoOrOneMonoFilePerSide) {
    Hear(SpeechLikeSignal(22050 * 3, 2));
    Record(1, {{0, "joint.mp3"}}, 1500);
    int channels = 0;
    std::vector<Mp3Frame> frames = ParseMp3Frames(ReadBytes(StatePath("joint.mp3")));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[1].channelMode, 1);
    std::vector<std::int16_t> joint = Decode(StatePath("joint.mp3"), &channels);
    EXPECT_EQ(channels, 2);
    EXPECT_GT(Correlation(Channel(joint, 2, 1), Channel(m_signal, 2, 1)), 0.95);

    Record(2, {{0, "left.wav"}, {0, "left.mp3"}, {1, "right.wav"}, {1, "right.mp3"}}, 1500);
    EXPECT_TRUE(m_boxes.Texts().empty());
    for (const char* side : {"left", "right"}) {
        std::string base = StatePath(side);
        frames = ParseMp3Frames(ReadBytes(base + ".mp3"));
        ASSERT_FALSE(frames.empty()) << side;
        EXPECT_EQ(frames[1].channelMode, 3) << side;
        std::vector<std::int16_t> decoded = Decode(base + ".mp3", &channels);
        EXPECT_EQ(channels, 1);
        EXPECT_GT(Correlation(decoded, ReadWavSamples(base + ".wav")), 0.95) << side;
    }
    // The two sides differ, so each file must hold its own side.
    EXPECT_LT(
        Correlation(ReadWavSamples(StatePath("left.wav")), ReadWavSamples(StatePath("right.wav"))),
        0.9);
}

TEST_F(Mp3Output, OpeningTheSameOutputTwiceKeepsTheFirstStream) {
    Hear(SpeechLikeSignal(22050, 1));
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.mp3"));
    m_loop.RunFor(700);
    ASSERT_TRUE(m_engine->OpenOutput(0, "TEST.mp3"));
    m_loop.RunFor(700);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
    int channels = 0;
    std::vector<std::int16_t> decoded = Decode(StatePath("test.mp3"), &channels);
    std::vector<std::int16_t> wav = ReadWavSamples(StatePath("test.wav"));
    EXPECT_GE(decoded.size(), wav.size());
}

TEST_F(Mp3Output, TheLibraryIsLoadedForTheCaptureOnly) {
    Hear(SpeechLikeSignal(22050, 1));
    UseLibrary(NO_INFO_TAG_DIR);
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.mp3"));
    EXPECT_TRUE(LibraryMapped(NO_INFO_TAG_DIR));
    m_loop.RunFor(500);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
    EXPECT_FALSE(LibraryMapped(NO_INFO_TAG_DIR));
    // Lacking beWriteInfoTag, the tag still comes through beWriteVBRHeader.
    std::vector<std::uint8_t> mp3 = ReadBytes(StatePath("test.mp3"));
    std::vector<Mp3Frame> frames = ParseMp3Frames(mp3);
    ASSERT_GT(frames.size(), 5u);
    auto tag = ReadInfoTag(mp3, frames[0]);
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->frames, frames.size() - 1);
}

TEST_F(Mp3Output, WithoutAUsableLibraryTheWavStillRecords) {
    Hear(SpeechLikeSignal(22050, 1));
    CTempDir empty;
    for (const std::string& folder : {empty.Path(), std::string(NO_VERSION_DIR)}) {
        m_boxes.Clear();
        UseLibrary(folder);
        std::vector<bool> opened;
        Record(0, {{0, "test.wav"}, {0, "test.mp3"}, {1, "second.mp3"}}, 1000, &opened);
        EXPECT_EQ(opened, (std::vector<bool>{true, false, false}));
        const char* expected =
            folder == empty.Path() ? "Error loading lame_enc.DLL" : "Unable to get LAME interfaces";
        EXPECT_EQ(m_boxes.Texts(), (std::vector<std::string>{expected, expected}));
        EXPECT_FALSE(FileExists(StatePath("test.mp3")));
        EXPECT_FALSE(LibraryMapped(folder));
        EXPECT_GE(ReadWavSamples(StatePath("test.wav")).size(), 22050u * 9 / 10);
    }
}

TEST_F(Mp3Output, AFetchedLibraryIsUsedOnlyWhenItIsTheOneTheProgramWasBuiltWith) {
    Hear(SpeechLikeSignal(22050, 1));
    CTempDir program;  // installed nowhere: neither beside the program nor in its ../lib/vexa
    UseLibrary(program.Path());
    const std::string user = m_userData.File("quinbery");
    std::filesystem::create_directories(user);
    for (const char* build : {NO_INFO_TAG_DIR, LAME_ENC_DIR}) {
        m_boxes.Clear();
        std::filesystem::copy_file(std::string(build) + "/liblame_enc.so", user + "/liblame_enc.so",
                                   std::filesystem::copy_options::overwrite_existing);
        Record(0, {{0, "test.wav"}, {0, "test.mp3"}}, 1000);
        EXPECT_GE(ReadWavSamples(StatePath("test.wav")).size(), 22050u * 9 / 10);
        if (std::string(build) == LAME_ENC_DIR) {
            EXPECT_TRUE(m_boxes.Texts().empty()) << build;
            EXPECT_GT(ParseMp3Frames(ReadBytes(StatePath("test.mp3"))).size(), 10u);
        } else {
            // Another build's library (whoever put it there) counts as missing.
            EXPECT_EQ(m_boxes.Texts(), (std::vector<std::string>{"Error loading lame_enc.DLL"}));
            EXPECT_FALSE(FileExists(StatePath("test.mp3")));
        }
    }
}

TEST_F(Mp3Output, EightBitSamplesAreRefusedBeforeTheLibraryLoads) {
    // A playback of an 8-bit file leaves the engine's format at 8 bits.
    std::vector<std::uint8_t> body(8000, 0x80), chunks;
    PutChunk(chunks, "fmt ", FormatBody(1, 8000, 8));
    PutChunk(chunks, "data", body);
    platform::StateFolder();  // makes the folder
    WriteFileBytes(StatePath("test.wav"), RiffWave(chunks));
    CreateEngine();
    ASSERT_TRUE(m_engine->Play()) << (m_boxes.Texts().empty() ? "" : m_boxes.Texts()[0]);
    EXPECT_FALSE(m_engine->OpenOutput(0, "x.mp3"));
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{"Cannot record 8 bits mp3"});
    EXPECT_FALSE(LibraryMapped(LAME_ENC_DIR));
    m_engine->Stop();
    RunUntilReady();
}

TEST_F(Mp3Output, StreamFailuresAreShownOnceAndCloseEverything) {
    Hear(SpeechLikeSignal(22050, 1));
    UseLibrary(FAULTY_DIR);
    int files = OpenFileCount();

    setenv("VEXA_TEST_LAME_FAULT", "init", 1);
    std::vector<bool> opened;
    Record(0, {{0, "test.wav"}, {0, "test.mp3"}}, 500, &opened);
    EXPECT_EQ(opened, (std::vector<bool>{true, false}));
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{"Error opening encoding stream (4660)"});
    EXPECT_FALSE(FileExists(StatePath("test.mp3")));

    // The third chunk fails: the two before it stay in the file, the capture goes on.
    m_boxes.Clear();
    setenv("VEXA_TEST_LAME_FAULT", "encode:3", 1);
    Record(0, {{0, "test.wav"}, {0, "test.mp3"}}, 1000);
    EXPECT_EQ(m_boxes.Texts(),
              std::vector<std::string>{"m_ForMp3_Proc_hEncodeChunk() failed (4660)"});
    EXPECT_GE(ReadWavSamples(StatePath("test.wav")).size(), 22050u * 9 / 10);
    EXPECT_LE(ParseMp3Frames(ReadBytes(StatePath("test.mp3"))).size(), 2u);

    m_boxes.Clear();
    setenv("VEXA_TEST_LAME_FAULT", "deinit", 1);
    Record(0, {{0, "test.mp3"}}, 1000);
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{"beExitStream failed (4660)"});
    // Encoded so far and kept, but without the tag of a finished file.
    std::vector<std::uint8_t> mp3 = ReadBytes(StatePath("test.mp3"));
    std::vector<Mp3Frame> frames = ParseMp3Frames(mp3);
    ASSERT_GT(frames.size(), 5u);
    auto tag = ReadInfoTag(mp3, frames[0]);
    EXPECT_TRUE(!tag || tag->frames == 0);

    m_boxes.Clear();
    unsetenv("VEXA_TEST_LAME_FAULT");
    Record(0, {{0, "test.wav"}, {0, "/no/such/folder/test.mp3"}}, 500, &opened);
    EXPECT_EQ(m_boxes.Texts(),
              std::vector<std::string>{"Error creating file /no/such/folder/test.mp3"});

    EXPECT_FALSE(LibraryMapped(FAULTY_DIR));
    EXPECT_EQ(OpenFileCount(), files);
}

TEST_F(Mp3Output, ACaptureClosedWhileAnEncoderFailureIsShownIsLeftAlone) {
    Hear(SpeechLikeSignal(22050, 1));
    UseLibrary(FAULTY_DIR);
    setenv("VEXA_TEST_LAME_FAULT", "encode:3", 1);
    for (bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "a new capture started" : "closed");
        CreateEngine();
        ASSERT_TRUE(m_engine->StartRecording(0));
        ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
        ASSERT_TRUE(m_engine->OpenOutput(0, "test.mp3"));
        // The recording is stopped while the box is up, and the stop timer closes it; the
        // buffer whose chunk failed must not be queued again, least of all at a new device.
        CLoopingMessageBox box(
            [&] {
                m_engine->Stop();
                m_loop.RunFor(1500);
                if (!restart) return;
                // The next recording, with an MP3 output on the same track, runs a while.
                unsetenv("VEXA_TEST_LAME_FAULT");
                m_engine->StartRecording(0);
                m_engine->OpenOutput(0, "again.mp3");
                m_loop.RunFor(500);
            },
            &m_boxes);
        m_loop.RunFor(1000);
        EXPECT_EQ(box.texts,
                  std::vector<std::string>{"m_ForMp3_Proc_hEncodeChunk() failed (4660)"});
        if (restart) {
            EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Recording);
            EXPECT_EQ(m_devices.InQueued(), 5);
            m_engine->Stop();
        }
        ASSERT_TRUE(RunUntilReady());
        EXPECT_EQ(m_devices.openIn, 0);
        auto file = ReadFileBytes(StatePath("test.wav"));
        ASSERT_GE(file.size(), 46u);
        EXPECT_EQ(U32At(file, 42), file.size() - 46);
        if (restart) {
            std::vector<std::uint8_t> mp3 = ReadBytes(StatePath("again.mp3"));
            std::vector<Mp3Frame> frames = ParseMp3Frames(mp3);
            ASSERT_GT(frames.size(), 10u);
            EXPECT_EQ(frames.back().offset + frames.back().length, mp3.size());
        }
    }
}

TEST_F(Mp3Output, BuffersStagedWhileAWriteErrorIsShownAreEncodedInOrder) {
    Hear(SpeechLikeSignal(22050 * 3, 1));
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.mp3"));
    // The file system takes no more than 3000 bytes of the file, until room is made while the
    // box is up; meanwhile further buffers come back and are staged.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 3000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    CLoopingMessageBox box(
        [&] {
            setrlimit(RLIMIT_FSIZE, &old);
            m_loop.RunFor(500);
        },
        &m_boxes);
    m_loop.RunFor(1500);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());

    ASSERT_FALSE(box.texts.empty());
    for (const std::string& text : box.texts) EXPECT_EQ(text, "Output file write error");
    // Of the two seconds, only what the refused writes held is missing.
    int channels = 0;
    std::vector<std::int16_t> decoded = Decode(StatePath("test.mp3"), &channels);
    EXPECT_EQ(channels, 1);
    EXPECT_GT(decoded.size(), 22050u);
}

TEST_F(Mp3Output, DestroyingTheEngineMidCaptureFinishesTheMp3) {
    Hear(SpeechLikeSignal(22050, 1));
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.mp3"));
    m_loop.RunFor(800);
    m_engine.reset();
    std::vector<std::uint8_t> mp3 = ReadBytes(StatePath("test.mp3"));
    std::vector<Mp3Frame> frames = ParseMp3Frames(mp3);
    ASSERT_GT(frames.size(), 10u);
    auto tag = ReadInfoTag(mp3, frames[0]);
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->frames, frames.size() - 1);
}

}  // namespace
}  // namespace vexa::testing
