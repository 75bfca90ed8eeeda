#include "platform/net/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif

#include <cerrno>
#include <cstdio>

#include "platform/net/CManualResetEvent.h"

namespace vexa::platform {

int LastSocketError() {
    return errno;
}

bool IsWouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool IsOutOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

SocketHandle OpenStreamSocket() {
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

bool BindIPv4(SocketHandle s, const char* address, int port) {
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, address, &sa.sin_addr) != 1) {
        errno = EINVAL;
        return false;
    }
    return bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

int BoundPort(SocketHandle s) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

bool ListenSocket(SocketHandle s) {
    return listen(s, SOMAXCONN) == 0;
}

bool SetNonBlocking(SocketHandle s) {
    int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

SocketHandle AcceptSocket(SocketHandle listener, std::string* peerAddress, int* peerPort) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    SocketHandle s;
    do {
        s = accept4(listener, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (s < 0 && errno == EINTR);
    if (s < 0) return kInvalidSocket;
    // Replies go out as whole as they are given; the last small piece of one must not wait
    // for the peer's acknowledgement of the piece before it.
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const auto* b = reinterpret_cast<const unsigned char*>(&sa.sin_addr.s_addr);
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    if (peerAddress != nullptr) *peerAddress = text;
    if (peerPort != nullptr) *peerPort = ntohs(sa.sin_port);
    return s;
}

void CloseSocket(SocketHandle s) {
    if (s >= 0) close(s);
}

long ReceiveSome(SocketHandle s, char* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = recv(s, buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long SendSome(SocketHandle s, const char* data, std::size_t size, bool more) {
    int flags = MSG_NOSIGNAL;
#ifdef MSG_MORE
    if (more) flags |= MSG_MORE;
#else
    (void)more;
#endif
    ssize_t n;
    do {
        n = send(s, data, size, flags);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long SendFileSome(SocketHandle s, std::FILE* file, std::uint64_t offset, std::size_t size) {
    int fd = fileno(file);
#ifdef __linux__
    off_t at = static_cast<off_t>(offset);
    ssize_t n;
    do {
        n = sendfile(s, fd, &at, size);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
#else
    char buffer[65536];
    ssize_t got;
    do {
        got = pread(fd, buffer, size < sizeof buffer ? size : sizeof buffer,
                    static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return static_cast<long>(got);
    // What the socket does not take now is read again on the next call.
    return SendSome(s, buffer, static_cast<std::size_t>(got));
#endif
}

EWaitResult WaitSocketOrEvent(SocketHandle s, bool wantRead, bool wantWrite,
                              const CManualResetEvent& event, int timeoutMs, SSocketEvents* out) {
    pollfd fds[2];
    fds[0] = pollfd{event.Descriptor(), POLLIN, 0};
    short interest = 0;
    if (wantRead) interest |= POLLIN;
    if (wantWrite) interest |= POLLOUT;
    fds[1] = pollfd{s, interest, 0};
    int r;
    do {
        r = poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return EWaitResult::kFailed;
    if (r == 0) return EWaitResult::kTimeout;
    if (fds[0].revents != 0) return EWaitResult::kEvent;
    if (out != nullptr) {
        out->readable = (fds[1].revents & POLLIN) != 0;
        out->writable = (fds[1].revents & POLLOUT) != 0;
        out->closed = (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return EWaitResult::kSocket;
}

}  // namespace vexa::platform
