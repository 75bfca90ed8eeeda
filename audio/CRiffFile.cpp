#include "audio/CRiffFile.h"

#include <algorithm>

namespace vexa {

namespace {
// Large enough that a capture buffer goes out in one system call.
constexpr std::size_t kStreamBuffer = 64 * 1024;
constexpr std::uint32_t kChunkHeader = 8;
}  // namespace

CRiffFile::~CRiffFile() {
    Close();
}

bool CRiffFile::Open(const std::string& path, Mode mode) {
    Close();
    m_writing = mode == Mode::Create;
    m_file = std::fopen(path.c_str(), m_writing ? "w+b" : "rb");
    if (m_file == nullptr) return false;
    std::setvbuf(m_file, nullptr, _IOFBF, kStreamBuffer);
    return true;
}

bool CRiffFile::Close() {
    if (m_file == nullptr) return true;
    bool ok = std::fclose(m_file) == 0;
    m_file = nullptr;
    return ok;
}

bool CRiffFile::Delete(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

std::int64_t CRiffFile::Tell() const {
    return m_file == nullptr ? -1 : static_cast<std::int64_t>(std::ftell(m_file));
}

bool CRiffFile::ReadU32(std::uint32_t& value) {
    std::uint8_t b[4];
    if (std::fread(b, 1, 4, m_file) != 4) return false;
    value = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
            (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    return true;
}

bool CRiffFile::WriteU32(std::uint32_t value) {
    std::uint8_t b[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                         static_cast<std::uint8_t>(value >> 16),
                         static_cast<std::uint8_t>(value >> 24)};
    return std::fwrite(b, 1, 4, m_file) == 4;
}

bool CRiffFile::WriteU32At(std::uint32_t offset, std::uint32_t value) {
    return std::fseek(m_file, static_cast<long>(offset), SEEK_SET) == 0 && WriteU32(value);
}

bool CRiffFile::CreateChunk(RiffChunk& chunk, bool riff) {
    if (m_file == nullptr || !m_writing) return false;
    std::int64_t start = Tell();
    if (start < 0) return false;
    if (riff) chunk.ckid = FOURCC_RIFF;
    if (!WriteU32(chunk.ckid) || !WriteU32(chunk.cksize)) return false;
    chunk.dwDataOffset = static_cast<std::uint32_t>(start) + kChunkHeader;
    if (riff && !WriteU32(chunk.fccType)) return false;
    chunk.dwFlags = RIFF_CHUNK_DIRTY;
    return true;
}

bool CRiffFile::Ascend(RiffChunk& chunk) {
    if (m_file == nullptr) return false;
    if (chunk.dwFlags & RIFF_CHUNK_DIRTY) {
        std::int64_t end = Tell();
        if (end < static_cast<std::int64_t>(chunk.dwDataOffset)) return false;
        auto size = static_cast<std::uint32_t>(end - chunk.dwDataOffset);
        if (size & 1u) {
            if (std::fputc(0, m_file) == EOF) return false;
            ++end;
        }
        if (size != chunk.cksize) {
            if (!WriteU32At(chunk.dwDataOffset - 4, size)) return false;
            chunk.cksize = size;
        }
        chunk.dwFlags &= ~RIFF_CHUNK_DIRTY;
        return std::fseek(m_file, static_cast<long>(end), SEEK_SET) == 0;
    }
    std::uint64_t next = std::uint64_t{chunk.dwDataOffset} + chunk.cksize + (chunk.cksize & 1u);
    return std::fseek(m_file, static_cast<long>(next), SEEK_SET) == 0;
}

bool CRiffFile::Descend(RiffChunk& chunk, const RiffChunk* parent, Find find) {
    if (m_file == nullptr) return false;
    // Chunk offsets are 32-bit: a header past that range would wrap its data offset around and
    // send the search back to an earlier chunk, for ever.
    std::uint64_t end =
        parent != nullptr ? std::uint64_t{parent->dwDataOffset} + parent->cksize : UINT32_MAX;
    end = std::min<std::uint64_t>(end, UINT32_MAX);
    std::uint32_t wantId = chunk.ckid;
    std::uint32_t wantType = chunk.fccType;
    for (;;) {
        std::int64_t start = Tell();
        if (start < 0 || static_cast<std::uint64_t>(start) + kChunkHeader > end) return false;
        std::uint32_t id = 0;
        std::uint32_t size = 0;
        if (!ReadU32(id) || !ReadU32(size)) return false;
        std::uint32_t dataOffset = static_cast<std::uint32_t>(start) + kChunkHeader;
        std::uint32_t type = 0;
        bool isList = id == FOURCC_RIFF || id == MakeFourCC('L', 'I', 'S', 'T');
        if (isList && size >= 4) {
            if (!ReadU32(type)) return false;
        }
        bool match = find == Find::None || (find == Find::Chunk && id == wantId) ||
                     (find == Find::Riff && id == FOURCC_RIFF && type == wantType);
        if (match) {
            chunk.ckid = id;
            chunk.cksize = size;
            chunk.fccType = type;
            chunk.dwDataOffset = dataOffset;
            chunk.dwFlags = 0;
            return true;
        }
        std::uint64_t next = std::uint64_t{dataOffset} + size + (size & 1u);
        if (next > end || std::fseek(m_file, static_cast<long>(next), SEEK_SET) != 0) return false;
    }
}

std::int32_t CRiffFile::Read(void* data, std::uint32_t size) {
    if (m_file == nullptr) return -1;
    std::size_t got = std::fread(data, 1, size, m_file);
    if (got == 0 && std::ferror(m_file)) return -1;
    return static_cast<std::int32_t>(got);
}

std::int32_t CRiffFile::Write(const void* data, std::uint32_t size) {
    if (m_file == nullptr || !m_writing) return -1;
    std::int64_t pos = Tell();
    if (pos < 0) return -1;
    // Past the largest size the chunk sizes would wrap around and describe a short file.
    std::uint64_t room = static_cast<std::uint64_t>(pos) >= m_maxFileSize ? 0 : m_maxFileSize - pos;
    auto take = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, room));
    return static_cast<std::int32_t>(std::fwrite(data, 1, take, m_file));
}

bool CRiffFile::UpdateSizes(const RiffChunk& outer, const RiffChunk& inner) {
    if (m_file == nullptr || !m_writing) return false;
    std::int64_t pos = Tell();
    if (pos < static_cast<std::int64_t>(inner.dwDataOffset) ||
        pos < static_cast<std::int64_t>(outer.dwDataOffset))
        return false;
    bool ok =
        WriteU32At(inner.dwDataOffset - 4, static_cast<std::uint32_t>(pos - inner.dwDataOffset)) &&
        WriteU32At(outer.dwDataOffset - 4, static_cast<std::uint32_t>(pos - outer.dwDataOffset));
    ok = std::fseek(m_file, static_cast<long>(pos), SEEK_SET) == 0 && ok;
    return std::fflush(m_file) == 0 && ok;
}

}  // namespace vexa
