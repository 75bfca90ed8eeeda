// The multipart upload being built: target, boundary, the encoded simple parts and the files,
// with the running length of the body they will make.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace vexa {

class CSendData {
  public:
    struct FilePart {
        std::string header;        // the part's lines up to and including the blank line
        std::uint64_t length = 0;  // the file's size when it was added
    };

    CSendData();

    std::uint16_t m_nPort = 80;
    bool m_bTls = false;  // verified TLS to the host, with no fall-back to clear text
    char m_szUrlPath[100] = {};
    char m_szHost[100] = {};
    const std::string m_strBoundary;
    // 64 bits: a recording over 4 GiB must not announce a wrapped length.
    std::uint64_t m_nBodyLength = 0;
    std::string m_strFields;
    std::map<std::string, FilePart> m_files;  // local path -> its part, each path once
};

// The process's one upload. Never destroyed, so that an upload still running at exit does not
// outlive it.
extern CSendData& g_sendData;

}  // namespace vexa
