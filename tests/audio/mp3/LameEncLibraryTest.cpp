// The encoder library seen from outside, through its entry points as a loader resolves them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <thread>

#include "lame_enc/BladeMP3EncDLL.h"
#include "platform/dynlib/DynamicLibrary.h"
#include "tests/audio/mp3/Mp3TestSupport.h"

// Allocation failure on request, for the library's own allocations (it is loaded into this
// program, so it allocates through these).
namespace {
std::atomic<bool> g_failAllocations{false};
}  // namespace

void* operator new(std::size_t size) {
    if (g_failAllocations.load()) throw std::bad_alloc();
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
// These are the replacement pair, so free() does match the allocation here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace vexa::testing {
namespace {

struct Library {
    explicit Library(const char* folder) {
        platform::SetDynamicLibraryFolder(folder);
        handle = platform::LoadDynamicLibrary("lame_enc");
        platform::SetDynamicLibraryFolder("");
        init = Get<BEINITSTREAM>("beInitStream");
        encode = Get<BEENCODECHUNK>("beEncodeChunk");
        deinit = Get<BEDEINITSTREAM>("beDeinitStream");
        close = Get<BECLOSESTREAM>("beCloseStream");
        version = Get<BEVERSION>("beVersion");
        vbrHeader = Get<BEWRITEVBRHEADER>("beWriteVBRHeader");
        infoTag = Get<BEWRITEINFOTAG>("beWriteInfoTag");
    }
    ~Library() { platform::FreeDynamicLibrary(handle); }
    template <typename T>
    T Get(const char* name) {
        return reinterpret_cast<T>(platform::GetLibrarySymbol(handle, name));
    }
    platform::LibraryHandle handle = nullptr;
    BEINITSTREAM init = nullptr;
    BEENCODECHUNK encode = nullptr;
    BEDEINITSTREAM deinit = nullptr;
    BECLOSESTREAM close = nullptr;
    BEVERSION version = nullptr;
    BEWRITEVBRHEADER vbrHeader = nullptr;
    BEWRITEINFOTAG infoTag = nullptr;
};

// The record the recorder gives: 64 kbit/s, R3MIX preset, tag wanted, no bit reservoir.
BE_CONFIG RecorderConfig(BE_DWORD rate, BE_LONG mode, BE_LONG preset = LQP_R3MIX) {
    BE_CONFIG c;
    std::memset(&c, 0, sizeof c);
    c.dwConfig = BE_CONFIG_LAME;
    c.format.LHV1.dwStructVersion = 1;
    c.format.LHV1.dwStructSize = sizeof c;
    c.format.LHV1.dwSampleRate = rate;
    c.format.LHV1.nMode = mode;
    c.format.LHV1.dwBitrate = 64;
    c.format.LHV1.nPreset = preset;
    c.format.LHV1.dwMpegVersion = MPEG1;
    c.format.LHV1.bOriginal = 1;
    c.format.LHV1.bWriteVBRHeader = 1;
    c.format.LHV1.bNoRes = 1;
    return c;
}

class LameEncLibrary : public ::testing::Test {
  protected:
    // Encodes the samples in whole chunks into the file and closes the stream; the tag is left
    // to the caller. Returns the stream handle.
    HBE_STREAM EncodeFile(const BE_CONFIG& config, const std::vector<std::int16_t>& pcm,
                          const std::string& path) {
        BE_CONFIG c = config;
        BE_DWORD samples = 0, size = 0;
        HBE_STREAM stream = 0;
        EXPECT_EQ(lib.init(&c, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
        std::vector<std::uint8_t> out(size), file;
        std::vector<std::int16_t> chunk(samples);
        for (std::size_t at = 0; at + samples <= pcm.size(); at += samples) {
            std::memcpy(chunk.data(), &pcm[at], samples * 2);
            BE_DWORD n = 0;
            EXPECT_EQ(lib.encode(stream, samples, chunk.data(), out.data(), &n), BE_ERR_SUCCESSFUL);
            EXPECT_LE(n, size);
            file.insert(file.end(), out.begin(), out.begin() + n);
        }
        BE_DWORD n = 0;
        EXPECT_EQ(lib.deinit(stream, out.data(), &n), BE_ERR_SUCCESSFUL);
        file.insert(file.end(), out.begin(), out.begin() + n);
        EXPECT_EQ(lib.close(stream), BE_ERR_SUCCESSFUL);
        EXPECT_TRUE(WriteBytes(path, file.data(), file.size()));
        return stream;
    }

    Library lib{LAME_ENC_DIR};
    CTempDir dir;
};

TEST(LameEncRecords, FieldsSitWhereTheRecorderWritesThem) {
    using L = decltype(BE_CONFIG::format.LHV1);
    constexpr std::size_t base = offsetof(BE_CONFIG, format);
    EXPECT_EQ(base, 4u);
    EXPECT_EQ(base + offsetof(L, dwSampleRate), 12u);
    EXPECT_EQ(base + offsetof(L, nMode), 20u);
    EXPECT_EQ(base + offsetof(L, nPreset), 32u);
    EXPECT_EQ(base + offsetof(L, bOriginal), 60u);
    EXPECT_EQ(base + offsetof(L, bWriteVBRHeader), 64u);
    EXPECT_EQ(base + offsetof(L, bNoRes), 84u);
    EXPECT_EQ(base + offsetof(L, nQuality), 92u);
    EXPECT_EQ(base + offsetof(L, btReserved), 94u);
    EXPECT_EQ(offsetof(BE_VERSION, zHomepage), 8u);
    EXPECT_EQ(offsetof(BE_VERSION, byAlphaLevel), 137u);
}

TEST_F(LameEncLibrary, ReportsFrameSizedChunksAndASafeOutputSize) {
    ASSERT_NE(lib.init, nullptr);
    struct Case {
        BE_DWORD rate;
        BE_LONG mode;
        BE_DWORD samples;
        BE_DWORD size;
    } cases[] = {{22050, BE_MP3_MODE_MONO, 576, 7920},
                 {22050, BE_MP3_MODE_JSTEREO, 1152, 7920},
                 {44100, BE_MP3_MODE_MONO, 1152, 8640},
                 {44100, BE_MP3_MODE_STEREO, 2304, 8640}};
    for (const Case& c : cases) {
        BE_CONFIG config = RecorderConfig(c.rate, c.mode);
        BE_DWORD samples = 0, size = 0;
        HBE_STREAM stream = 0;
        ASSERT_EQ(lib.init(&config, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
        EXPECT_EQ(samples, c.samples) << c.rate << " mode " << c.mode;
        EXPECT_EQ(size, c.size) << c.rate << " mode " << c.mode;
        EXPECT_EQ(lib.close(stream), BE_ERR_SUCCESSFUL);
    }
}

TEST_F(LameEncLibrary, MonoStreamWithItsTagDecodesToTheSamplesGiven) {
    // Speech, then silence: the stretch a VBR encoder would take below the record's bitrate.
    std::vector<std::int16_t> pcm = SpeechLikeSignal(576 * 200, 1);
    pcm.resize(pcm.size() + 576 * 40, 0);
    std::string mp3 = dir.File("mono.mp3");
    HBE_STREAM stream = EncodeFile(RecorderConfig(22050, BE_MP3_MODE_MONO), pcm, mp3);
    ASSERT_EQ(lib.infoTag(stream, mp3.c_str()), BE_ERR_SUCCESSFUL);

    std::vector<std::uint8_t> data = ReadBytes(mp3);
    std::vector<Mp3Frame> frames = ParseMp3Frames(data);
    ASSERT_GT(frames.size(), 240u);
    EXPECT_EQ(frames.back().offset + frames.back().length, data.size());
    std::set<int> bitrates;
    for (const Mp3Frame& f : frames) {
        EXPECT_EQ(f.mpegVersion, 2);
        EXPECT_EQ(f.sampleRate, 22050);
        EXPECT_EQ(f.channelMode, 3);
        bitrates.insert(f.bitrateKbps);
    }
    // R3MIX is a VBR preset, and the record's bitrate is the least any frame gets.
    EXPECT_GT(bitrates.size(), 2u);
    EXPECT_GE(*bitrates.begin(), 64);
    auto tag = ReadInfoTag(data, frames[0]);
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->id, "Xing");
    EXPECT_EQ(tag->frames, frames.size() - 1);

    std::string wav = dir.File("mono.wav");
    ASSERT_TRUE(DecodeMp3(mp3, wav));
    int channels = 0;
    std::vector<std::int16_t> decoded = ReadWavSamples(wav, &channels);
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(decoded.size(), pcm.size());
    EXPECT_GT(Correlation(decoded, pcm), 0.95);
}

TEST_F(LameEncLibrary, WithoutPresetTheBitrateIsConstant) {
    std::vector<std::int16_t> pcm = SpeechLikeSignal(576 * 60, 1);
    std::string mp3 = dir.File("cbr.mp3");
    HBE_STREAM stream = EncodeFile(RecorderConfig(22050, BE_MP3_MODE_MONO, LQP_NOPRESET), pcm, mp3);
    ASSERT_EQ(lib.infoTag(stream, mp3.c_str()), BE_ERR_SUCCESSFUL);
    std::vector<std::uint8_t> data = ReadBytes(mp3);
    std::vector<Mp3Frame> frames = ParseMp3Frames(data);
    ASSERT_GT(frames.size(), 60u);
    for (const Mp3Frame& f : frames) EXPECT_EQ(f.bitrateKbps, 64);
    auto tag = ReadInfoTag(data, frames[0]);
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->id, "Info");
}

TEST_F(LameEncLibrary, JointStereoKeepsBothSides) {
    std::vector<std::int16_t> pcm = SpeechLikeSignal(576 * 120, 2);
    std::string mp3 = dir.File("stereo.mp3");
    HBE_STREAM stream = EncodeFile(RecorderConfig(22050, BE_MP3_MODE_JSTEREO), pcm, mp3);
    ASSERT_EQ(lib.infoTag(stream, mp3.c_str()), BE_ERR_SUCCESSFUL);
    std::vector<Mp3Frame> frames = ParseMp3Frames(ReadBytes(mp3));
    ASSERT_FALSE(frames.empty());
    for (const Mp3Frame& f : frames) EXPECT_EQ(f.channelMode, 1);
    std::string wav = dir.File("stereo.wav");
    ASSERT_TRUE(DecodeMp3(mp3, wav));
    int channels = 0;
    std::vector<std::int16_t> decoded = ReadWavSamples(wav, &channels);
    ASSERT_EQ(channels, 2);
    EXPECT_EQ(decoded.size(), pcm.size());
    EXPECT_GT(Correlation(Channel(decoded, 2, 0), Channel(pcm, 2, 0)), 0.95);
    EXPECT_GT(Correlation(Channel(decoded, 2, 1), Channel(pcm, 2, 1)), 0.95);
}

TEST_F(LameEncLibrary, VbrHeaderCallGoesToTheLatestClosedStream) {
    std::string a = dir.File("a.mp3"), b = dir.File("b.mp3");
    EncodeFile(RecorderConfig(22050, BE_MP3_MODE_MONO), SpeechLikeSignal(576 * 30, 1), a);
    EncodeFile(RecorderConfig(22050, BE_MP3_MODE_MONO), SpeechLikeSignal(576 * 50, 1), b);
    // Each file is finished right after its stream is closed, so the latest one is the file's.
    ASSERT_EQ(lib.vbrHeader(b.c_str()), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(lib.vbrHeader(a.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(lib.vbrHeader(a.c_str()), BE_ERR_INVALID_HANDLE);
    for (const std::string& path : {a, b}) {
        std::vector<std::uint8_t> data = ReadBytes(path);
        std::vector<Mp3Frame> frames = ParseMp3Frames(data);
        ASSERT_FALSE(frames.empty());
        auto tag = ReadInfoTag(data, frames[0]);
        ASSERT_TRUE(tag.has_value()) << path;
        EXPECT_EQ(tag->frames, frames.size() - 1) << path;
    }
}

TEST_F(LameEncLibrary, VbrHeaderCallAfterATaglessStreamLeavesOtherFilesAlone) {
    std::string tagged = dir.File("tagged.mp3"), plain = dir.File("plain.mp3");
    EncodeFile(RecorderConfig(22050, BE_MP3_MODE_MONO), SpeechLikeSignal(576 * 30, 1), tagged);
    BE_CONFIG noTag = RecorderConfig(22050, BE_MP3_MODE_MONO, LQP_NOPRESET);
    noTag.format.LHV1.bWriteVBRHeader = 0;
    EncodeFile(noTag, SpeechLikeSignal(576 * 30, 1, 7), plain);
    std::vector<std::uint8_t> before = ReadBytes(plain);
    // The latest closed stream wanted no tag: nothing of the earlier stream goes into its file.
    EXPECT_EQ(lib.vbrHeader(plain.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(ReadBytes(plain), before);
    // A stream closed before its flush has no tag to give, and takes the call all the same.
    BE_DWORD samples = 0, size = 0;
    HBE_STREAM unfinished = 0;
    ASSERT_EQ(lib.init(&noTag, &samples, &size, &unfinished), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(lib.close(unfinished), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(lib.vbrHeader(plain.c_str()), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(ReadBytes(plain), before);

    ASSERT_EQ(lib.vbrHeader(tagged.c_str()), BE_ERR_SUCCESSFUL);
    std::vector<std::uint8_t> data = ReadBytes(tagged);
    std::vector<Mp3Frame> frames = ParseMp3Frames(data);
    ASSERT_FALSE(frames.empty());
    auto tag = ReadInfoTag(data, frames[0]);
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->frames, frames.size() - 1);
}

TEST_F(LameEncLibrary, StreamsOnSeveralThreadsEncodeAsTheyWouldAlone) {
    std::vector<std::int16_t> pcm = SpeechLikeSignal(576 * 40, 1);
    const BE_CONFIG config = RecorderConfig(22050, BE_MP3_MODE_MONO);
    std::string alone = dir.File("alone.mp3");
    ASSERT_EQ(lib.infoTag(EncodeFile(config, pcm, alone), alone.c_str()), BE_ERR_SUCCESSFUL);

    constexpr int kThreads = 4;
    std::vector<std::string> paths(kThreads);
    for (int i = 0; i < kThreads; ++i) paths[i] = dir.File(std::to_string(i).append(".mp3"));
    std::vector<std::thread> threads(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        threads[i] = std::thread([&, i] {
            for (int round = 0; round < 3; ++round) {
                HBE_STREAM s = EncodeFile(config, pcm, paths[i]);
                EXPECT_EQ(lib.infoTag(s, paths[i].c_str()), BE_ERR_SUCCESSFUL);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    std::vector<std::uint8_t> expected = ReadBytes(alone);
    ASSERT_FALSE(expected.empty());
    for (const std::string& path : paths) EXPECT_EQ(ReadBytes(path), expected) << path;
}

TEST_F(LameEncLibrary, RunningOutOfMemoryIsAnErrorCodeNotAnException) {
    BE_CONFIG c = RecorderConfig(22050, BE_MP3_MODE_MONO);
    BE_DWORD samples = 0, size = 0;
    HBE_STREAM stream = 0;
    g_failAllocations = true;
    BE_ERR err = lib.init(&c, &samples, &size, &stream);
    g_failAllocations = false;
    EXPECT_EQ(err, BE_ERR_NO_MORE_HANDLES);

    // A stream whose tag cannot be kept is still flushed and closed.
    ASSERT_EQ(lib.init(&c, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
    std::vector<std::uint8_t> out(size);
    std::vector<std::int16_t> pcm = SpeechLikeSignal(samples * 4, 1);
    BE_DWORD n = 0;
    for (BE_DWORD at = 0; at < pcm.size(); at += samples)
        ASSERT_EQ(lib.encode(stream, samples, &pcm[at], out.data(), &n), BE_ERR_SUCCESSFUL);
    g_failAllocations = true;
    BE_ERR deinit = lib.deinit(stream, out.data(), &n);
    BE_ERR close = lib.close(stream);
    g_failAllocations = false;
    EXPECT_EQ(deinit, BE_ERR_SUCCESSFUL);
    EXPECT_EQ(close, BE_ERR_SUCCESSFUL);
    EXPECT_EQ(lib.close(stream), BE_ERR_INVALID_HANDLE);
}

TEST_F(LameEncLibrary, RefusesBadRecordsHandlesAndCallOrder) {
    BE_DWORD samples = 0, size = 0;
    HBE_STREAM stream = 0;
    BE_CONFIG c = RecorderConfig(22050, BE_MP3_MODE_MONO);
    c.dwConfig = BE_CONFIG_MP3;
    EXPECT_EQ(lib.init(&c, &samples, &size, &stream), BE_ERR_INVALID_FORMAT);
    for (BE_DWORD rate : {0u, 96000u}) {
        c = RecorderConfig(rate, BE_MP3_MODE_MONO);
        EXPECT_EQ(lib.init(&c, &samples, &size, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    }
    c = RecorderConfig(22050, 9);
    EXPECT_EQ(lib.init(&c, &samples, &size, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(lib.init(nullptr, &samples, &size, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);

    std::vector<std::uint8_t> out(7920);
    std::vector<std::int16_t> pcm(1152);
    BE_DWORD n = 0;
    HBE_STREAM madeUp = 0x1000;
    EXPECT_EQ(lib.encode(madeUp, 576, pcm.data(), out.data(), &n), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.deinit(madeUp, out.data(), &n), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.close(madeUp), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.infoTag(madeUp, dir.File("x.mp3").c_str()), BE_ERR_INVALID_HANDLE);

    c = RecorderConfig(22050, BE_MP3_MODE_JSTEREO);
    ASSERT_EQ(lib.init(&c, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
    // Interleaved stereo needs whole frames.
    EXPECT_EQ(lib.encode(stream, 575, pcm.data(), out.data(), &n),
              BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(lib.encode(stream, 576, pcm.data(), out.data(), &n), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(lib.infoTag(stream, dir.File("x.mp3").c_str()), BE_ERR_INVALID_HANDLE);  // still open
    EXPECT_EQ(lib.deinit(stream, out.data(), &n), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(lib.deinit(stream, out.data(), &n), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.encode(stream, 576, pcm.data(), out.data(), &n), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(lib.close(stream), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(lib.close(stream), BE_ERR_INVALID_HANDLE);
    // The tag of a closed stream goes only over an MP3 frame, never over other data.
    std::string text = dir.File("notes.txt");
    const char content[] = "not an mp3 file, and long enough to hold a frame's worth of bytes";
    ASSERT_TRUE(WriteBytes(text, content, sizeof content));
    EXPECT_NE(lib.infoTag(stream, text.c_str()), BE_ERR_SUCCESSFUL);
    std::vector<std::uint8_t> after = ReadBytes(text);
    EXPECT_EQ(std::string(after.begin(), after.end()), std::string(content, sizeof content));
    EXPECT_EQ(lib.infoTag(stream, text.c_str()), BE_ERR_INVALID_HANDLE);  // released anyway
}

TEST_F(LameEncLibrary, AHandleOnceReleasedNeverNamesALaterStream) {
    std::vector<std::uint8_t> out(7920);
    std::vector<std::int16_t> pcm = SpeechLikeSignal(576, 1);
    BE_DWORD samples = 0, size = 0, n = 0;
    BE_CONFIG c = RecorderConfig(22050, BE_MP3_MODE_MONO);
    // Streams opened and released one after the other, as captures do: some closed unflushed
    // (released at once), some finished with their tag.
    std::vector<HBE_STREAM> released;
    std::string mp3 = dir.File("t.mp3");
    for (int i = 0; i < 6; ++i) {
        HBE_STREAM s = 0;
        if (i % 2 == 0) {
            ASSERT_EQ(lib.init(&c, &samples, &size, &s), BE_ERR_SUCCESSFUL);
            ASSERT_EQ(lib.close(s), BE_ERR_SUCCESSFUL);
        } else {
            s = EncodeFile(c, SpeechLikeSignal(576 * 4, 1), mp3);
            ASSERT_EQ(lib.infoTag(s, mp3.c_str()), BE_ERR_SUCCESSFUL);
        }
        released.push_back(s);
    }
    HBE_STREAM open = 0;
    ASSERT_EQ(lib.init(&c, &samples, &size, &open), BE_ERR_SUCCESSFUL);
    released.push_back(open);
    EXPECT_EQ(std::set<HBE_STREAM>(released.begin(), released.end()).size(), released.size());
    EXPECT_EQ(std::count(released.begin(), released.end(), HBE_STREAM{0}), 0);
    released.pop_back();
    // A stale handle is refused and leaves the open stream alone.
    for (HBE_STREAM old : released) {
        EXPECT_EQ(lib.encode(old, 576, pcm.data(), out.data(), &n), BE_ERR_INVALID_HANDLE);
        EXPECT_EQ(lib.deinit(old, out.data(), &n), BE_ERR_INVALID_HANDLE);
        EXPECT_EQ(lib.close(old), BE_ERR_INVALID_HANDLE);
    }
    EXPECT_EQ(lib.encode(open, 576, pcm.data(), out.data(), &n), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(lib.close(open), BE_ERR_SUCCESSFUL);
}

TEST_F(LameEncLibrary, VersionRecordNamesTheLibraryAndTheEncoder) {
    BE_VERSION v;
    std::memset(&v, 0xAB, sizeof v);
    lib.version(&v);
    EXPECT_EQ(v.byDLLMajorVersion, 1);
    EXPECT_EQ(v.byDLLMinorVersion, 0);
    EXPECT_EQ(v.byMajorVersion, 3);
    EXPECT_GE(v.wYear, 2024);
    EXPECT_GE(v.byMonth, 1);
    EXPECT_LE(v.byMonth, 12);
    EXPECT_NE(std::memchr(v.zHomepage, '\0', sizeof v.zHomepage), nullptr);
    EXPECT_NE(std::string(v.zHomepage).find("lame"), std::string::npos);
    for (BE_BYTE b : v.btReserved) EXPECT_EQ(b, 0);
}

TEST_F(LameEncLibrary, OffersTheSevenEntryPointsAndNothingElse) {
    auto symbols = CommandOutput(std::string("nm -D --defined-only '") + LAME_ENC_DIR +
                                 "/liblame_enc.so' | awk '$2 ~ /[TtWwDdBbRrVvu]/ {print $3}'");
    ASSERT_TRUE(symbols.has_value());
    EXPECT_EQ(*symbols,
              "beCloseStream\nbeDeinitStream\nbeEncodeChunk\nbeInitStream\nbeVersion\n"
              "beWriteInfoTag\nbeWriteVBRHeader\n");
    // A name of a library it depends on is not one of its own.
    EXPECT_EQ(lib.Get<void*>("lame_init"), nullptr);
}

}  // namespace
}  // namespace vexa::testing
