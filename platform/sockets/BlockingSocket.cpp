#include "platform/sockets/BlockingSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vexa::platform::blocking {
namespace {

int Fd(SocketHandle socket) {
    return static_cast<int>(socket);
}

int TcpProtocolNumber() {
    // getprotobyname is not reentrant; the reentrant form keeps concurrent clients apart.
    protoent entry{};
    protoent* result = nullptr;
    char buffer[1024];
    if (getprotobyname_r("tcp", &entry, buffer, sizeof buffer, &result) == 0 && result != nullptr) {
        return result->p_proto;
    }
    return IPPROTO_TCP;
}

}  // namespace

SocketHandle CreateTcpSocket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, TcpProtocolNumber());
    return fd < 0 ? kNoSocket : fd;
}

bool ResolveHostV4(const char* host, std::uint8_t address[4]) {
    if (host == nullptr) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    std::memcpy(address, &in->sin_addr.s_addr, 4);
    ::freeaddrinfo(found);
    return true;
}

bool ConnectV4(SocketHandle socket, const std::uint8_t address[4], int port) {
    if (socket == kNoSocket || port < 0 || port > 65535) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    std::memcpy(&to.sin_addr.s_addr, address, 4);
    int rc;
    do {
        rc = ::connect(Fd(socket), reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

long SendAll(SocketHandle socket, const char* data, std::size_t size) {
    if (socket == kNoSocket) return -1;
    std::size_t sent = 0;
    while (sent < size) {
        ssize_t n = ::send(Fd(socket), data + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        sent += static_cast<std::size_t>(n);
    }
    return static_cast<long>(sent);
}

long ReceiveSome(SocketHandle socket, char* buffer, std::size_t size) {
    if (socket == kNoSocket) return -1;
    ssize_t n;
    do {
        n = ::recv(Fd(socket), buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

bool CloseSocket(SocketHandle socket) {
    if (socket == kNoSocket) return false;
    // After close the descriptor is gone even when close reports EINTR; retrying could close a
    // descriptor another thread has just opened.
    return ::close(Fd(socket)) == 0 || errno == EINTR;
}

bool SetSocketTimeout(SocketHandle socket, int milliseconds, bool receive) {
    if (socket == kNoSocket || milliseconds < 0) return false;
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    return ::setsockopt(Fd(socket), SOL_SOCKET, receive ? SO_RCVTIMEO : SO_SNDTIMEO, &tv,
                        sizeof tv) == 0;
}

SocketHandle DuplicateSocket(SocketHandle socket) {
    if (socket == kNoSocket) return kNoSocket;
    int fd = ::fcntl(Fd(socket), F_DUPFD_CLOEXEC, 0);
    return fd < 0 ? kNoSocket : fd;
}

}  // namespace vexa::platform::blocking
