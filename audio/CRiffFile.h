// Buffered RIFF chunk file I/O: create the RIFF form and sub-chunks, ascend writing the true size
// (and a pad byte after an odd size), descend with a forward search, read and write chunk data.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vexa {

constexpr std::uint32_t MakeFourCC(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24);
}

constexpr std::uint32_t FOURCC_RIFF = MakeFourCC('R', 'I', 'F', 'F');
constexpr std::uint32_t FOURCC_WAVE = MakeFourCC('W', 'A', 'V', 'E');
constexpr std::uint32_t FOURCC_FMT = MakeFourCC('f', 'm', 't', ' ');
constexpr std::uint32_t FOURCC_DATA = MakeFourCC('d', 'a', 't', 'a');

// The bookkeeping of one chunk, as the chunk calls fill and use it.
struct RiffChunk {
    std::uint32_t ckid = 0;
    std::uint32_t cksize = 0;
    std::uint32_t fccType = 0;       // form type of a RIFF chunk
    std::uint32_t dwDataOffset = 0;  // file offset of the chunk's data
    std::uint32_t dwFlags = 0;       // RIFF_CHUNK_DIRTY after CreateChunk
};

constexpr std::uint32_t RIFF_CHUNK_DIRTY = 0x1;

class CRiffFile {
  public:
    enum class Mode { Read, Create };
    enum class Find { None, Riff, Chunk };

    // The largest file a RIFF form can describe: its sizes are 32-bit, and an odd chunk still
    // takes a pad byte.
    static constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFEu;

    explicit CRiffFile(std::uint64_t maxFileSize = kMaxFileSize) : m_maxFileSize(maxFileSize) {}
    ~CRiffFile();
    CRiffFile(const CRiffFile&) = delete;
    CRiffFile& operator=(const CRiffFile&) = delete;

    // Create truncates or makes the file for writing (and reading back its header).
    bool Open(const std::string& path, Mode mode);
    bool IsOpen() const { return m_file != nullptr; }
    // Flushes and closes; false when buffered data could not be written.
    bool Close();
    static bool Delete(const std::string& path);

    // Writes the chunk header (and the form type of a RIFF chunk) at the current position.
    bool CreateChunk(RiffChunk& chunk, bool riff);
    // Writing: fixes the chunk's size to what was written and pads an odd size. Reading: moves
    // past the chunk's data and pad byte.
    bool Ascend(RiffChunk& chunk);
    // Reads chunk headers from the current position, within parent's data when given. Riff
    // looks for a RIFF chunk of chunk.fccType, Chunk for an id of chunk.ckid; None takes the
    // next chunk. Leaves the position at the found chunk's data (after a RIFF form type).
    bool Descend(RiffChunk& chunk, const RiffChunk* parent, Find find);

    // Bytes read, 0 at the end of the file, -1 on error.
    std::int32_t Read(void* data, std::uint32_t size);
    // Bytes written (fewer than size when the file system refuses them or the file would grow
    // past its largest size), -1 on error.
    std::int32_t Write(const void* data, std::uint32_t size);

    // Writes the sizes a crash would otherwise lose: the current size of each open chunk into its
    // header, then hands everything buffered to the system. The position is kept.
    bool UpdateSizes(const RiffChunk& outer, const RiffChunk& inner);

    std::int64_t Tell() const;

  private:
    bool WriteU32At(std::uint32_t offset, std::uint32_t value);
    bool ReadU32(std::uint32_t& value);
    bool WriteU32(std::uint32_t value);

    std::uint64_t m_maxFileSize;
    std::FILE* m_file = nullptr;
    bool m_writing = false;
};

}  // namespace vexa
