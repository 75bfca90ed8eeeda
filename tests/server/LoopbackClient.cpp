#include "tests/server/LoopbackClient.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace vexa::testing {

namespace {
using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// One read of what is there; -2 on time-out.
long ReadSome(int fd, char* buf, std::size_t size, Clock::time_point deadline) {
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, MsLeft(deadline));
    if (r <= 0) return -2;
    long n = recv(fd, buf, size, 0);
    return n < 0 ? 0 : n;  // a reset counts as a close
}
}  // namespace

CLoopbackClient::~CLoopbackClient() {
    Close();
}

bool CLoopbackClient::Connect(int port, int receiveBuffer) {
    Close();
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return false;
    if (receiveBuffer > 0)
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool CLoopbackClient::Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        long n = send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string CLoopbackClient::ReadUntilClose(int timeoutMs, bool* closed) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out;
    char buf[65536];
    for (;;) {
        long n = ReadSome(m_fd, buf, sizeof buf, deadline);
        if (n == -2) {
            if (closed != nullptr) *closed = false;
            return out;
        }
        if (n == 0) {
            if (closed != nullptr) *closed = true;
            return out;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
}

std::string CLoopbackClient::ReadExactly(std::size_t n, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out;
    char buf[65536];
    while (out.size() < n) {
        long got = ReadSome(m_fd, buf, std::min(sizeof buf, n - out.size()), deadline);
        if (got <= 0) break;
        out.append(buf, static_cast<std::size_t>(got));
    }
    return out;
}

std::string CLoopbackClient::ReadHttpReply(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out;
    char c;
    while (out.size() < 4 || out.compare(out.size() - 4, 4, "\r\n\r\n") != 0) {
        if (ReadSome(m_fd, &c, 1, deadline) != 1) return out;
        out.push_back(c);
    }
    std::size_t length = 0;
    std::size_t at = out.find("Content-Length: ");
    if (at != std::string::npos) length = std::strtoul(out.c_str() + at + 16, nullptr, 10);
    return out + ReadExactly(length, MsLeft(deadline));
}

bool CLoopbackClient::WaitClosed(int timeoutMs) {
    bool closed = false;
    ReadUntilClose(timeoutMs, &closed);
    return closed;
}

void CLoopbackClient::Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
}

namespace {

// Entries of a folder of /proc/self, the stream's own descriptor included; -1 when unreadable.
int CountEntries(const char* folder) {
    int count = 0;
    DIR* d = opendir(folder);
    if (d == nullptr) return -1;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++count;
    closedir(d);
    return count;
}

}  // namespace

int CountOpenDescriptors() {
    int count = CountEntries("/proc/self/fd");
    return count < 0 ? -1 : count - 1;  // the directory stream's own
}

int CountThreads() {
    return CountEntries("/proc/self/task");
}

int FreeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return 0;
    }
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    close(fd);
    return ntohs(sa.sin_port);
}

}  // namespace vexa::testing
