#include "tests/audio/mp3/Mp3TestSupport.h"

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vexa::testing {

CTempDir::CTempDir() {
    std::string base = std::filesystem::temp_directory_path().string() + "/vexa-mp3-XXXXXX";
    std::vector<char> name(base.begin(), base.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) != nullptr) m_path = name.data();
}

CTempDir::~CTempDir() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

bool WriteBytes(const std::string& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

std::vector<std::int16_t> SpeechLikeSignal(std::size_t frames, int channels, unsigned seed) {
    const double rate = 22050.0;
    std::vector<double> mono(frames);
    unsigned noise = seed * 2654435761u + 1;
    double phase = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / rate;
        // Syllables of 0.25 s with a 0.1 s pause after each, the pitch gliding within each.
        double inSyllable = std::fmod(t, 0.35);
        double envelope = inSyllable < 0.25 ? std::sin(M_PI * inSyllable / 0.25) : 0.0;
        double pitch = 140.0 + 60.0 * std::sin(2 * M_PI * 0.7 * t) + 30.0 * inSyllable;
        phase += 2 * M_PI * pitch / rate;
        double voiced = 0;
        for (int h = 1; h <= 12; ++h) {
            // Formant-like humps around 700 Hz and 1800 Hz.
            double f = pitch * h;
            double gain = std::exp(-std::pow((f - 700) / 300, 2)) +
                          0.5 * std::exp(-std::pow((f - 1800) / 400, 2)) + 0.05;
            voiced += gain * std::sin(phase * h) / h;
        }
        noise = noise * 1664525u + 1013904223u;
        double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.02;
        mono[i] = 9000.0 * envelope * voiced + 3000.0 * hiss;
    }
    auto clip = [](double v) {
        return static_cast<std::int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
    };
    std::vector<std::int16_t> out(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        out[i * static_cast<std::size_t>(channels)] = clip(mono[i]);
        if (channels == 2) out[i * 2 + 1] = clip(i >= 40 ? 0.7 * mono[i - 40] : 0.0);
    }
    return out;
}

namespace {

const int kBitratesV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1};
const int kBitratesV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1};
const int kRates[3] = {44100, 48000, 32000};

std::optional<Mp3Frame> ParseHeader(const std::vector<std::uint8_t>& d, std::size_t at) {
    if (at + 4 > d.size() || d[at] != 0xFF || (d[at + 1] & 0xE0) != 0xE0) return std::nullopt;
    Mp3Frame f;
    f.offset = at;
    int version = (d[at + 1] >> 3) & 3;
    int layer = (d[at + 1] >> 1) & 3;
    int bitrate = d[at + 2] >> 4;
    int rate = (d[at + 2] >> 2) & 3;
    int padding = (d[at + 2] >> 1) & 1;
    if (version == 1 || layer != 1 || bitrate == 0 || bitrate == 15 || rate == 3)
        return std::nullopt;  // only layer III with a fixed bitrate index
    f.mpegVersion = version == 3 ? 1 : (version == 2 ? 2 : 25);
    f.layer = 3;
    f.bitrateKbps = f.mpegVersion == 1 ? kBitratesV1[bitrate] : kBitratesV2[bitrate];
    f.sampleRate = kRates[rate] / (f.mpegVersion == 1 ? 1 : (f.mpegVersion == 2 ? 2 : 4));
    f.channelMode = d[at + 3] >> 6;
    f.samplesPerFrame = f.mpegVersion == 1 ? 1152 : 576;
    int slots = f.mpegVersion == 1 ? 144 : 72;
    int length = slots * f.bitrateKbps * 1000 / f.sampleRate + padding;
    f.length = static_cast<std::size_t>(length);
    return f;
}

}  // namespace

std::vector<Mp3Frame> ParseMp3Frames(const std::vector<std::uint8_t>& data) {
    std::vector<Mp3Frame> frames;
    std::size_t at = 0;
    if (data.size() >= 10 && std::memcmp(data.data(), "ID3", 3) == 0)
        at = 10 + ((data[6] & 0x7F) << 21 | (data[7] & 0x7F) << 14 | (data[8] & 0x7F) << 7 |
                   (data[9] & 0x7F));
    while (auto frame = ParseHeader(data, at)) {
        if (frame->offset + frame->length > data.size()) break;
        frames.push_back(*frame);
        at += frame->length;
    }
    return frames;
}

std::optional<Mp3InfoTag> ReadInfoTag(const std::vector<std::uint8_t>& data,
                                      const Mp3Frame& frame) {
    bool mono = frame.channelMode == 3;
    std::size_t sideInfo = frame.mpegVersion == 1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    std::size_t at = frame.offset + 4 + sideInfo;
    if (at + 12 > data.size()) return std::nullopt;
    std::string id(reinterpret_cast<const char*>(&data[at]), 4);
    if (id != "Xing" && id != "Info") return std::nullopt;
    Mp3InfoTag tag;
    tag.id = id;
    std::uint32_t flags = static_cast<std::uint32_t>(data[at + 4]) << 24 | data[at + 5] << 16 |
                          data[at + 6] << 8 | data[at + 7];
    if ((flags & 1) != 0)
        tag.frames = static_cast<std::uint32_t>(data[at + 8]) << 24 | data[at + 9] << 16 |
                     data[at + 10] << 8 | data[at + 11];
    return tag;
}

std::optional<std::string> CommandOutput(const std::string& command) {
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return out;
}

bool DecodeMp3(const std::string& mp3Path, const std::string& wavPath) {
    return CommandOutput("lame --quiet --decode '" + mp3Path + "' '" + wavPath + "' 2>&1")
        .has_value();
}

std::vector<std::int16_t> ReadWavSamples(const std::string& path, int* channels) {
    std::vector<std::uint8_t> d = ReadBytes(path);
    if (d.size() < 12 || std::memcmp(d.data(), "RIFF", 4) != 0 ||
        std::memcmp(d.data() + 8, "WAVE", 4) != 0)
        return {};
    std::size_t at = 12;
    int nChannels = 0;
    while (at + 8 <= d.size()) {
        std::uint32_t size;
        std::memcpy(&size, &d[at + 4], 4);
        if (std::memcmp(&d[at], "fmt ", 4) == 0 && at + 10 <= d.size()) {
            nChannels = d[at + 10] | d[at + 11] << 8;
        } else if (std::memcmp(&d[at], "data", 4) == 0) {
            std::size_t bytes = std::min<std::size_t>(size, d.size() - at - 8);
            std::vector<std::int16_t> samples(bytes / 2);
            std::memcpy(samples.data(), &d[at + 8], samples.size() * 2);
            if (channels != nullptr) *channels = nChannels;
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

double Correlation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    std::size_t n = std::min(a.size(), b.size());
    if (n == 0) return 0;
    double ma = 0, mb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= static_cast<double>(n);
    mb /= static_cast<double>(n);
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

std::vector<std::int16_t> Channel(const std::vector<std::int16_t>& interleaved, int channels,
                                  int which) {
    std::vector<std::int16_t> out;
    for (std::size_t i = static_cast<std::size_t>(which); i < interleaved.size();
         i += static_cast<std::size_t>(channels))
        out.push_back(interleaved[i]);
    return out;
}

}  // namespace vexa::testing
