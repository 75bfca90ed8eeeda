// A blocking loopback TCP client for the server tests, with a time limit on every wait so a
// test never hangs on a server that does not answer.
#pragma once

#include <cstddef>
#include <string>

namespace vexa::testing {

class CLoopbackClient {
  public:
    CLoopbackClient() = default;
    ~CLoopbackClient();
    CLoopbackClient(const CLoopbackClient&) = delete;
    CLoopbackClient& operator=(const CLoopbackClient&) = delete;

    // receiveBuffer > 0 shrinks the socket's receive buffer, so that a large reply backs up.
    bool Connect(int port, int receiveBuffer = 0);
    bool Send(const std::string& bytes);
    // Reads until the peer closes or timeoutMs passes; *closed tells which.
    std::string ReadUntilClose(int timeoutMs, bool* closed = nullptr);
    // Reads exactly n bytes unless the peer closes or timeoutMs passes first.
    std::string ReadExactly(std::size_t n, int timeoutMs);
    // Reads one HTTP-style reply: the header up to the blank line and Content-Length more bytes.
    std::string ReadHttpReply(int timeoutMs);
    // True when the peer has closed (waits up to timeoutMs for it).
    bool WaitClosed(int timeoutMs);
    void Close();
    int Descriptor() const { return m_fd; }

  private:
    int m_fd = -1;
};

// Open file descriptors of this process.
int CountOpenDescriptors();
// Threads of this process.
int CountThreads();

// A port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();

}  // namespace vexa::testing
