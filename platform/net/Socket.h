// A thin layer over the system's stream sockets and readiness wait, so the server logic above it
// carries no socket headers of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vexa::platform {

class CManualResetEvent;

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

// The error number of the calling thread's last failed call.
int LastSocketError();
// True for the error a non-blocking call reports when it would have to wait.
bool IsWouldBlock(int error);
// True for the errors that say the process or system is out of descriptors.
bool IsOutOfDescriptors(int error);

// An IPv4 stream socket, close-on-exec; kInvalidSocket on failure.
SocketHandle OpenStreamSocket();
// Binds to the dotted IPv4 address and port (0 = any free port). Address reuse is on so that a
// restart is not refused by connections of the previous run still in their closing wait.
bool BindIPv4(SocketHandle s, const char* address, int port);
// The local port the socket is bound to, 0 when unknown.
int BoundPort(SocketHandle s);
bool ListenSocket(SocketHandle s);
bool SetNonBlocking(SocketHandle s);
// Accepts one pending connection as a non-blocking socket that sends what it is given at once
// (no coalescing delay), and gives the peer's dotted address and
// port; kInvalidSocket on failure (LastSocketError tells why).
SocketHandle AcceptSocket(SocketHandle listener, std::string* peerAddress, int* peerPort);
void CloseSocket(SocketHandle s);

// >0 bytes received, 0 when the peer closed its end, -1 on failure.
long ReceiveSome(SocketHandle s, char* buffer, std::size_t size);
// Bytes taken (>=0) or -1 on failure; never raises a signal for a closed peer. With more, the
// system may hold the bytes back briefly to go out together with what is sent next.
long SendSome(SocketHandle s, const char* data, std::size_t size, bool more = false);
// Sends up to size bytes of the file from offset (the file's own position stays), straight from
// the system's file cache where it can: bytes taken (0 at the file's end) or -1 on failure.
long SendFileSome(SocketHandle s, std::FILE* file, std::uint64_t offset, std::size_t size);

enum class EWaitResult { kSocket, kEvent, kTimeout, kFailed };

struct SSocketEvents {
    bool readable = false;
    bool writable = false;
    bool closed = false;  // hang-up or error reported on the socket
};

// Waits until the socket is ready for what is asked (reading and/or writing), or the event is
// signalled, or timeoutMs passes (<0: no limit). The event wins when both are ready.
EWaitResult WaitSocketOrEvent(SocketHandle s, bool wantRead, bool wantWrite,
                              const CManualResetEvent& event, int timeoutMs, SSocketEvents* out);

}  // namespace vexa::platform
