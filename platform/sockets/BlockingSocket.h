// Blocking TCP client sockets over IPv4: the few calls the raw-socket HTTP client needs, so that
// the client itself stays free of any one platform's socket interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexa::platform::blocking {

using SocketHandle = std::intptr_t;
// The platform's "no socket" value (descriptor 0 is a valid socket here, so it cannot be that).
constexpr SocketHandle kNoSocket = -1;

// A stream socket with the protocol number the resolver gives for "tcp"; kNoSocket on failure.
SocketHandle CreateTcpSocket();

// First IPv4 address of host (a name or dotted text), first byte first. False when unknown.
bool ResolveHostV4(const char* host, std::uint8_t address[4]);

// Connects to address:port; blocks until the peer answers or the attempt fails.
bool ConnectV4(SocketHandle socket, const std::uint8_t address[4], int port);

// Sends all size bytes (a peer that has gone away gives an error, never a signal).
// Returns the bytes sent, or -1 on an error.
long SendAll(SocketHandle socket, const char* data, std::size_t size);

// One receive of at most size bytes: bytes received, 0 when the peer has closed, -1 on an
// error or a time-out.
long ReceiveSome(SocketHandle socket, char* buffer, std::size_t size);

bool CloseSocket(SocketHandle socket);

// Receive (receive == true) or send time-out in milliseconds; 0 means none.
bool SetSocketTimeout(SocketHandle socket, int milliseconds, bool receive);

// A second handle on the same connection, owned and closed on its own; kNoSocket on failure.
SocketHandle DuplicateSocket(SocketHandle socket);

}  // namespace vexa::platform::blocking
