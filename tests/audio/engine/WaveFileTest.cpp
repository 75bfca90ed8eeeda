#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <memory>

#include "audio/CRiffFile.h"
#include "tests/audio/engine/EngineFixture.h"

namespace vexa::testing {
namespace {

constexpr std::uint32_t kBuffer = 4096;

std::string RunCommand(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe.get()) != nullptr) out += buf;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

class WaveFileTest : public EngineTest {};

TEST_F(WaveFileTest, ARecordingOfNBytesIsTheHeaderAndTheSamplesByteForByte) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    m_loop.RunFor(1200);
    int returned = m_messages[platform::MM_WIM_DATA];
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());

    std::uint32_t n = static_cast<std::uint32_t>(returned) * kBuffer;
    auto file = ReadFileBytes(StatePath("test.wav"));
    auto expected = ExpectedWaveHeader(1, n);
    expected.insert(expected.end(), m_devices.captured.begin(), m_devices.captured.begin() + n);
    EXPECT_EQ(file, expected);

    std::string path = StatePath("test.wav");
    EXPECT_EQ(RunCommand("soxi -r '" + path + "' 2>&1"), "22050");
    EXPECT_EQ(RunCommand("soxi -c '" + path + "' 2>&1"), "1");
    EXPECT_EQ(RunCommand("soxi -b '" + path + "' 2>&1"), "16");
    EXPECT_EQ(RunCommand("soxi -s '" + path + "' 2>&1"), std::to_string(n / 2));
}

TEST_F(WaveFileTest, ANewRecordingReplacesTheOldFile) {
    WriteFileBytes(StatePath("test.wav"), std::vector<std::uint8_t>(200000, 0x55));
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    m_loop.RunFor(200);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
    auto file = ReadFileBytes(StatePath("test.wav"));
    ASSERT_GE(file.size(), 46u);
    EXPECT_EQ(file.size(), 46u + U32At(file, 42));
    EXPECT_LT(file.size(), 200000u);
}

TEST_F(WaveFileTest, SizesOnDiskFollowTheDataWhileRecording) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    // From the start the file on disk is a valid empty WAV.
    auto empty = ReadFileBytes(StatePath("test.wav"));
    EXPECT_EQ(empty, ExpectedWaveHeader(1, 0));

    m_loop.RunFor(2600);
    auto file = ReadFileBytes(StatePath("test.wav"));
    ASSERT_GE(file.size(), 46u);
    std::uint32_t data = U32At(file, 42);
    EXPECT_EQ(U32At(file, 4), data + 38);
    // At most one second behind what was captured, and never ahead of what is on disk.
    EXPECT_GE(data, 44100u * 26 / 10 - 44100u - 5 * kBuffer);
    EXPECT_LE(46u + data, file.size());
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
}

TEST_F(WaveFileTest, ChannelModeTwoWritesMonoHeadersForEachTrack) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(2));
    ASSERT_TRUE(m_engine->OpenOutput(0, "l.wav"));
    m_loop.RunFor(300);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
    auto file = ReadFileBytes(StatePath("l.wav"));
    ASSERT_GE(file.size(), 46u);
    EXPECT_EQ(U16At(file, 22), 1);       // channels
    EXPECT_EQ(U32At(file, 28), 44100u);  // bytes per second
    EXPECT_EQ(U16At(file, 32), 2);       // block
    EXPECT_FALSE(FileExists(StatePath("r.wav")));
    std::string path = StatePath("l.wav");
    EXPECT_EQ(RunCommand("soxi -c '" + path + "' 2>&1"), "1");
}

TEST_F(WaveFileTest, AnOutputFileThatCannotBeCreatedIsReported) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    EXPECT_FALSE(m_engine->OpenOutput(0, "no-such-folder/test.wav"));
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{"Open wave file failed"});
    // The capture goes on.
    m_loop.RunFor(300);
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Recording);
}

TEST_F(WaveFileTest, AWriteThatFallsShortStopsTheCaptureWithItsMessage) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    // The file system takes no more than 100000 bytes of any file.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    m_loop.RunFor(4000);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{"Write file failed"});
    EXPECT_EQ(m_engine->GetState(), CAudioPlayRec::Ready);
    EXPECT_EQ(m_devices.openIn, 0);
    auto file = ReadFileBytes(StatePath("test.wav"));
    ASSERT_GE(file.size(), 46u);
    EXPECT_LE(file.size(), 100000u);
    EXPECT_LE(46u + U32At(file, 42), file.size());
}

class RiffFileTest : public ::testing::Test {
  protected:
    CTempFolder m_dir;
    std::string Path() const { return m_dir.Path() + "/x.riff"; }
};

TEST_F(RiffFileTest, AscendWritesTheTrueSizeAndPadsAnOddChunk) {
    CRiffFile file;
    ASSERT_TRUE(file.Open(Path(), CRiffFile::Mode::Create));
    RiffChunk riff;
    riff.fccType = FOURCC_WAVE;
    ASSERT_TRUE(file.CreateChunk(riff, true));
    RiffChunk chunk;
    chunk.ckid = MakeFourCC('a', 'b', 'c', 'd');
    ASSERT_TRUE(file.CreateChunk(chunk, false));
    ASSERT_EQ(file.Write("xyz", 3), 3);
    ASSERT_TRUE(file.Ascend(chunk));
    ASSERT_TRUE(file.Ascend(riff));
    ASSERT_TRUE(file.Close());

    std::vector<std::uint8_t> expected;
    PutTag(expected, "RIFF");
    PutU32(expected, 4 + 8 + 4);
    PutTag(expected, "WAVE");
    PutTag(expected, "abcd");
    PutU32(expected, 3);
    for (char c : std::string("xyz")) expected.push_back(static_cast<std::uint8_t>(c));
    expected.push_back(0);
    EXPECT_EQ(ReadFileBytes(Path()), expected);
}

TEST_F(RiffFileTest, DescendSearchesForwardWithinTheParentOnly) {
    std::vector<std::uint8_t> chunks;
    PutChunk(chunks, "junk", {1, 2, 3});
    PutChunk(chunks, "fmt ", FormatBody(1, 8000, 8));
    std::vector<std::uint8_t> bytes = RiffWave(chunks);
    // A chunk after the RIFF form is outside it.
    PutChunk(bytes, "data", {9, 9});
    WriteFileBytes(Path(), bytes);

    CRiffFile file;
    ASSERT_TRUE(file.Open(Path(), CRiffFile::Mode::Read));
    RiffChunk riff;
    riff.fccType = MakeFourCC('A', 'V', 'I', ' ');
    EXPECT_FALSE(file.Descend(riff, nullptr, CRiffFile::Find::Riff));

    ASSERT_TRUE(file.Open(Path(), CRiffFile::Mode::Read));
    riff.fccType = FOURCC_WAVE;
    ASSERT_TRUE(file.Descend(riff, nullptr, CRiffFile::Find::Riff));
    EXPECT_EQ(riff.dwDataOffset, 8u);
    RiffChunk chunk;
    chunk.ckid = FOURCC_FMT;
    ASSERT_TRUE(file.Descend(chunk, &riff, CRiffFile::Find::Chunk));
    EXPECT_EQ(chunk.cksize, 16u);
    EXPECT_EQ(chunk.dwDataOffset, 12u + 12u + 8u);
    ASSERT_TRUE(file.Ascend(chunk));
    chunk.ckid = FOURCC_DATA;
    EXPECT_FALSE(file.Descend(chunk, &riff, CRiffFile::Find::Chunk));
}

TEST_F(RiffFileTest, WritesStopAtTheLargestSizeTheHeaderCanDescribe) {
    // The same as at 4 GiB, at a size a test can write.
    CRiffFile file(64);
    ASSERT_TRUE(file.Open(Path(), CRiffFile::Mode::Create));
    RiffChunk riff;
    riff.fccType = FOURCC_WAVE;
    ASSERT_TRUE(file.CreateChunk(riff, true));
    RiffChunk chunk;
    chunk.ckid = FOURCC_DATA;
    ASSERT_TRUE(file.CreateChunk(chunk, false));
    std::vector<std::uint8_t> samples(100, 0x33);
    EXPECT_EQ(file.Write(samples.data(), 100), 44);
    EXPECT_EQ(file.Write(samples.data(), 2), 0);
    ASSERT_TRUE(file.Ascend(chunk));
    ASSERT_TRUE(file.Ascend(riff));
    ASSERT_TRUE(file.Close());
    auto bytes = ReadFileBytes(Path());
    ASSERT_EQ(bytes.size(), 64u);
    EXPECT_EQ(U32At(bytes, 4), 56u);
    EXPECT_EQ(U32At(bytes, 16), 44u);
}

TEST_F(RiffFileTest, ASearchEndsWhereChunkOffsetsCannotReach) {
    // A sparse 4 GiB file: a chunk skips to the last header a 32-bit offset can start at, and
    // that one's data would begin at offset 2^32.
    std::vector<std::uint8_t> first;
    PutTag(first, "JUNK");
    PutU32(first, 0xFFFFFFF0u);
    std::vector<std::uint8_t> last;
    PutTag(last, "JUNK");
    PutU32(last, 0);
    {
        std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(Path().c_str(), "wb"), std::fclose);
        ASSERT_TRUE(out);
        ASSERT_EQ(std::fwrite(first.data(), 1, first.size(), out.get()), first.size());
        ASSERT_EQ(fseeko(out.get(), 0xFFFFFFF8, SEEK_SET), 0);
        ASSERT_EQ(std::fwrite(last.data(), 1, last.size(), out.get()), last.size());
    }
    CRiffFile file;
    ASSERT_TRUE(file.Open(Path(), CRiffFile::Mode::Read));
    RiffChunk riff;
    riff.fccType = FOURCC_WAVE;
    EXPECT_FALSE(file.Descend(riff, nullptr, CRiffFile::Find::Riff));
}

}  // namespace
}  // namespace vexa::testing
