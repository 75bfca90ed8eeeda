// Produces the bytes of an upload's body in order - the simple parts, each file with its header
// and closing CRLF, the closing section - reading the files as the transfer asks for more.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "net/CSendData.h"
#include "platform/upload/HttpPost.h"

namespace vexa {

class CMultipartBody : public platform::IPostBody {
  public:
    CMultipartBody(const CSendData& data, std::string closing);
    ~CMultipartBody() override;
    CMultipartBody(const CMultipartBody&) = delete;
    CMultipartBody& operator=(const CMultipartBody&) = delete;

    // A file that cannot be opened or read any more, or whose size is no longer the one
    // counted in the announced length, is an error: the body would not match its length.
    long Read(char* buffer, std::size_t size) override;

    bool Failed() const { return m_failed; }
    std::uint64_t BytesProduced() const { return m_produced; }

  private:
    struct Piece {
        std::string text;          // bytes to send as they are, or
        std::string path;          // a file to stream, when not empty
        std::uint64_t length = 0;  // the file's counted size
    };
    long ReadFile(Piece& piece, char* buffer, std::size_t size);
    void ClosePiece();

    std::vector<Piece> m_pieces;
    std::size_t m_index = 0;
    std::uint64_t m_offset = 0;  // within the current piece
    std::FILE* m_file = nullptr;
    bool m_failed = false;
    std::uint64_t m_produced = 0;
};

}  // namespace vexa
