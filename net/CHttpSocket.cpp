#include "net/CHttpSocket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/core/MessageBox.h"

namespace vexa {
namespace {

void ReportFailure(const char* call) {
    platform::ShowMessageBox(std::string(call) + "函数执行失败!", "错误");
}

// Appends text at *used when it fits with its NUL; false (nothing written) when it does not.
bool Append(char* header, std::size_t& used, const char* text) {
    std::size_t n = std::strlen(text);
    if (used + n + 1 > static_cast<std::size_t>(CHttpSocket::kHeaderSize)) return false;
    std::memcpy(header + used, text, n + 1);
    used += n;
    return true;
}

}  // namespace

CHttpSocket::CHttpSocket()
    : m_port(80),
      m_bConnected(false),
      m_s(platform::blocking::kNoSocket),
      m_bHostResolved(false),
      m_nCurIndex(0),
      m_bResponsed(false),
      m_nResponseHeaderSize(-1) {
    std::memset(m_requestheader, 0, sizeof m_requestheader);
    std::memset(m_ResponseHeader, 0, sizeof m_ResponseHeader);
    std::memset(m_ipaddr, 0, sizeof m_ipaddr);
    std::memset(m_hostAddress, 0, sizeof m_hostAddress);
}

CHttpSocket::CHttpSocket(const CHttpSocket& other)
    : m_port(other.m_port),
      m_bConnected(false),
      m_s(platform::blocking::DuplicateSocket(other.m_s)),
      m_bHostResolved(other.m_bHostResolved),
      m_nCurIndex(other.m_nCurIndex),
      m_bResponsed(other.m_bResponsed),
      m_nResponseHeaderSize(other.m_nResponseHeaderSize) {
    std::memcpy(m_requestheader, other.m_requestheader, sizeof m_requestheader);
    std::memcpy(m_ResponseHeader, other.m_ResponseHeader, sizeof m_ResponseHeader);
    std::memcpy(m_ipaddr, other.m_ipaddr, sizeof m_ipaddr);
    std::memcpy(m_hostAddress, other.m_hostAddress, sizeof m_hostAddress);
    m_bConnected = other.m_bConnected && m_s != platform::blocking::kNoSocket;
}

CHttpSocket& CHttpSocket::operator=(const CHttpSocket& other) {
    if (this == &other) return *this;
    CloseSocket();
    m_s = platform::blocking::DuplicateSocket(other.m_s);
    m_bConnected = other.m_bConnected && m_s != platform::blocking::kNoSocket;
    m_port = other.m_port;
    m_bHostResolved = other.m_bHostResolved;
    m_nCurIndex = other.m_nCurIndex;
    m_bResponsed = other.m_bResponsed;
    m_nResponseHeaderSize = other.m_nResponseHeaderSize;
    std::memcpy(m_requestheader, other.m_requestheader, sizeof m_requestheader);
    std::memcpy(m_ResponseHeader, other.m_ResponseHeader, sizeof m_ResponseHeader);
    std::memcpy(m_ipaddr, other.m_ipaddr, sizeof m_ipaddr);
    std::memcpy(m_hostAddress, other.m_hostAddress, sizeof m_hostAddress);
    return *this;
}

CHttpSocket::~CHttpSocket() {
    CloseSocket();
}

int CHttpSocket::Socket() {
    if (m_bConnected) return 0;
    // A socket left from a failed connect cannot be connected again; start with a fresh one.
    if (m_s != platform::blocking::kNoSocket) {
        platform::blocking::CloseSocket(m_s);
        m_s = platform::blocking::kNoSocket;
    }
    platform::blocking::SocketHandle s = platform::blocking::CreateTcpSocket();
    if (s == platform::blocking::kNoSocket) {
        ReportFailure("socket()");
        return 0;
    }
    m_s = s;
    return 1;
}

int CHttpSocket::Connect(const char* host, int port) {
    if (host == nullptr) return 0;
    if (m_bConnected) CloseSocket();
    m_port = port;
    if (!platform::blocking::ResolveHostV4(host, m_hostAddress)) {
        m_bHostResolved = false;
        ReportFailure("gethostbyname()");
        return 0;
    }
    m_bHostResolved = true;
    std::snprintf(m_ipaddr, sizeof m_ipaddr, "%d.%d.%d.%d", m_hostAddress[0], m_hostAddress[1],
                  m_hostAddress[2], m_hostAddress[3]);
    if (!platform::blocking::ConnectV4(m_s, m_hostAddress, port)) {
        ReportFailure("connect()");
        return 0;
    }
    m_bConnected = true;
    return 1;
}

const char* CHttpSocket::FormatRequestHeader(const char* server, const char* object, long& length,
                                             const char* cookie, const char* referer, long from,
                                             long to, int /*flag*/) {
    std::memset(m_requestheader, 0, sizeof m_requestheader);
    std::size_t used = 0;
    char range[64] = "";
    if (from > 0) {
        if (from < to)
            std::snprintf(range, sizeof range, "Range: bytes=%ld-%ld\r\n", from, to);
        else
            std::snprintf(range, sizeof range, "Range: bytes=%ld-\r\n", from);
    }
    const char* pieces[] = {
        "GET ",
        object != nullptr ? object : "",
        " HTTP/1.1\r\n",
        "Host:",
        server != nullptr ? server : "",
        "\r\n",
        referer != nullptr ? "Referer:" : "",
        referer != nullptr ? referer : "",
        referer != nullptr ? "\r\n" : "",
        "Accept:*/*\r\n",
        "User-Agent:Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n",
        "Connection:Keep-Alive\r\n",
        cookie != nullptr ? "Set Cookie:0" : "",
        cookie != nullptr ? cookie : "",
        cookie != nullptr ? "\r\n" : "",
        range,
        "\r\n",
    };
    for (const char* piece : pieces) {
        if (!Append(m_requestheader, used, piece)) {
            std::memset(m_requestheader, 0, sizeof m_requestheader);
            used = 0;
            break;
        }
    }
    length = static_cast<long>(used);
    return m_requestheader;
}

int CHttpSocket::SendRequest(const char* header, long length) {
    if (!m_bConnected) return 0;
    if (header == nullptr) header = m_requestheader;
    if (length == 0) length = static_cast<long>(std::strlen(header));
    if (length < 0) return 0;
    if (platform::blocking::SendAll(m_s, header, static_cast<std::size_t>(length)) < 0) {
        ReportFailure("send()");
        return 0;
    }
    // Every request has its own response header.
    m_bResponsed = false;
    int size = 0;
    GetResponseHeader(size);
    return 1;
}

long CHttpSocket::Receive(char* buffer, long size) {
    if (!m_bConnected || buffer == nullptr || size <= 0) return 0;
    long n = platform::blocking::ReceiveSome(m_s, buffer, static_cast<std::size_t>(size));
    if (n <= 0) CloseSocket();
    return n;
}

int CHttpSocket::CloseSocket() {
    if (m_s != platform::blocking::kNoSocket) {
        if (!platform::blocking::CloseSocket(m_s)) {
            ReportFailure("closesocket()");
            return 0;
        }
    }
    m_s = platform::blocking::kNoSocket;
    m_bConnected = false;
    return 1;
}

int CHttpSocket::GetRequestHeader(char* buffer, int size) const {
    if (buffer == nullptr || size <= 0) return 0;
    int n = std::min(size, static_cast<int>(std::strlen(m_requestheader)));
    std::memcpy(buffer, m_requestheader, static_cast<std::size_t>(n));
    return n;
}

int CHttpSocket::SetTimeout(int milliseconds, int kind) {
    if (!platform::blocking::SetSocketTimeout(m_s, milliseconds, kind == 0)) {
        ReportFailure("setsockopt()");
        return 0;
    }
    return 1;
}

void CHttpSocket::ReadResponseHeader() {
    std::memset(m_ResponseHeader, 0, sizeof m_ResponseHeader);
    m_nCurIndex = 0;
    int count = 0;
    // One byte at a time, so that not a byte of the body is taken from the socket.
    while (count < kHeaderSize) {
        char c = 0;
        if (platform::blocking::ReceiveSome(m_s, &c, 1) <= 0)
            break;  // closed or timed out: keep what came
        m_ResponseHeader[count++] = c;
        if (count >= 4 && std::memcmp(m_ResponseHeader + count - 4, "\r\n\r\n", 4) == 0) break;
    }
    m_nResponseHeaderSize = count;
    m_bResponsed = true;
}

const char* CHttpSocket::GetResponseHeader(int& length) {
    if (!m_bResponsed) ReadResponseHeader();
    length = m_nResponseHeaderSize;
    return m_ResponseHeader;
}

int CHttpSocket::GetResponseLine(char* line, int size) {
    if (m_nCurIndex >= m_nResponseHeaderSize) {
        m_nCurIndex = 0;
        return -1;
    }
    if (line == nullptr || size < 1) return 0;
    int count = 0;
    while (count < size && m_nCurIndex < m_nResponseHeaderSize) {
        char c = m_ResponseHeader[m_nCurIndex++];
        line[count++] = c;
        if (c == '\n') break;
    }
    return count;
}

int CHttpSocket::GetField(const char* name, char* value, int size) {
    if (!m_bResponsed || name == nullptr) return -1;
    // UTF-8 lead and trail bytes never collide, so a plain byte search cannot match inside a
    // character.
    const char* found = std::strstr(m_ResponseHeader, name);
    if (found == nullptr) return -1;
    // Offsets, not pointers: a name at the very end of a full header would put "2 bytes after
    // it" past the member.
    std::size_t end = std::strlen(m_ResponseHeader);
    std::size_t start =
        std::min(static_cast<std::size_t>(found - m_ResponseHeader) + std::strlen(name) + 2, end);
    const char* stop = std::strstr(m_ResponseHeader + start, "\r\n");
    int length = static_cast<int>((stop != nullptr ? stop - m_ResponseHeader : end) - start);
    if (value != nullptr && size > 0) {
        int n = std::min(length, size - 1);
        std::memcpy(value, m_ResponseHeader + start, static_cast<std::size_t>(n));
        value[n] = '\0';
    }
    return length;
}

int CHttpSocket::GetServerState() {
    if (!m_bResponsed) return -1;
    int state = 0;
    for (int i = 9; i < 12 && m_ResponseHeader[i] >= '0' && m_ResponseHeader[i] <= '9'; ++i) {
        state = state * 10 + (m_ResponseHeader[i] - '0');
    }
    return state;
}

}  // namespace vexa
