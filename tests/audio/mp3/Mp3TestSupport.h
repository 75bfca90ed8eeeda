// What the MP3 tests share: a temporary folder, a speech-like test signal, an MPEG audio frame
// walker with the Info/Xing tag reader, decoding through the lame command and WAV reading.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexa::testing {

class CTempDir {
  public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

std::vector<std::uint8_t> ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const void* data, std::size_t size);

// Voiced syllables with pauses between them, so that an encoder's output varies with the content.
// Interleaved when channels is 2 (the right side a little quieter and later).
std::vector<std::int16_t> SpeechLikeSignal(std::size_t frames, int channels, unsigned seed = 1);

struct Mp3Frame {
    std::size_t offset = 0;
    std::size_t length = 0;
    int mpegVersion = 0;  // 1, 2, or 25 for MPEG-2.5
    int layer = 0;
    int bitrateKbps = 0;
    int sampleRate = 0;
    int channelMode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int samplesPerFrame = 0;
};

// Every frame from the start of the data (after an ID3v2 tag); stops at the first byte that
// does not start a frame.
std::vector<Mp3Frame> ParseMp3Frames(const std::vector<std::uint8_t>& data);

struct Mp3InfoTag {
    std::string id;  // "Xing" (VBR) or "Info" (CBR)
    std::uint32_t frames = 0;
};
// The tag in the given frame, when it holds one.
std::optional<Mp3InfoTag> ReadInfoTag(const std::vector<std::uint8_t>& data, const Mp3Frame& frame);

// Runs `lame --decode`; false when the command fails.
bool DecodeMp3(const std::string& mp3Path, const std::string& wavPath);
// The samples of a PCM WAV file (empty when it cannot be read).
std::vector<std::int16_t> ReadWavSamples(const std::string& path, int* channels = nullptr);

// Pearson correlation over the common length.
double Correlation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b);
// One channel of interleaved samples.
std::vector<std::int16_t> Channel(const std::vector<std::int16_t>& interleaved, int channels,
                                  int which);

// Output of a shell command (stdout), or nullopt when it cannot be run or fails.
std::optional<std::string> CommandOutput(const std::string& command);

}  // namespace vexa::testing
