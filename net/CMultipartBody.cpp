#include "net/CMultipartBody.h"

#include <algorithm>
#include <cstring>

namespace vexa {

CMultipartBody::CMultipartBody(const CSendData& data, std::string closing) {
    if (!data.m_strFields.empty()) m_pieces.push_back({data.m_strFields, {}, 0});
    for (const auto& [path, part] : data.m_files) {
        m_pieces.push_back({part.header, {}, 0});
        m_pieces.push_back({{}, path, part.length});
        m_pieces.push_back({"\r\n", {}, 0});
    }
    m_pieces.push_back({std::move(closing), {}, 0});
}

CMultipartBody::~CMultipartBody() {
    ClosePiece();
}

void CMultipartBody::ClosePiece() {
    if (m_file != nullptr) std::fclose(m_file);
    m_file = nullptr;
}

long CMultipartBody::ReadFile(Piece& piece, char* buffer, std::size_t size) {
    if (m_file == nullptr) {
        m_file = std::fopen(piece.path.c_str(), "rb");
        if (m_file == nullptr) return -1;
    }
    std::uint64_t left = piece.length - m_offset;
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, size));
    std::size_t got = want > 0 ? std::fread(buffer, 1, want, m_file) : 0;
    if (got < want) return -1;  // read error, or the file has shrunk
    if (m_offset + got == piece.length) {
        // Bytes beyond the counted size would overrun the announced length.
        char extra;
        if (std::fread(&extra, 1, 1, m_file) != 0 || std::ferror(m_file)) return -1;
    }
    return static_cast<long>(got);
}

long CMultipartBody::Read(char* buffer, std::size_t size) {
    if (m_failed) return -1;
    std::size_t written = 0;
    while (written < size && m_index < m_pieces.size()) {
        Piece& piece = m_pieces[m_index];
        std::uint64_t total = piece.path.empty() ? piece.text.size() : piece.length;
        if (m_offset < total || (!piece.path.empty() && m_file == nullptr)) {
            long n;
            if (piece.path.empty()) {
                n = static_cast<long>(std::min<std::uint64_t>(total - m_offset, size - written));
                std::memcpy(buffer + written, piece.text.data() + m_offset,
                            static_cast<std::size_t>(n));
            } else {
                n = ReadFile(piece, buffer + written, size - written);
                if (n < 0) {
                    m_failed = true;
                    ClosePiece();
                    return -1;
                }
            }
            written += static_cast<std::size_t>(n);
            m_offset += static_cast<std::uint64_t>(n);
            if (m_offset < total) continue;
        }
        ClosePiece();
        ++m_index;
        m_offset = 0;
    }
    m_produced += written;
    return static_cast<long>(written);
}

}  // namespace vexa
