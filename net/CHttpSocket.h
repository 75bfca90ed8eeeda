// A small blocking HTTP/1.1 GET client on raw TCP sockets, exported from the executable for
// other modules. Failed socket calls are shown to the user in a message box.
#pragma once

#include <cstdint>

#include "platform/sockets/BlockingSocket.h"

#if defined(_WIN32)
#define VEXA_HTTPSOCKET_API __declspec(dllexport)
#else
#define VEXA_HTTPSOCKET_API __attribute__((visibility("default")))
#endif

namespace vexa {

// Use: Socket, Connect, FormatRequestHeader, SendRequest (reads the response header), then the
// header queries, then Receive until it returns 0 or less, then CloseSocket or destruction.
//
// Copies: a copy gets its own handle on the same connection (a duplicate), so each object closes
// only its own handle and neither leaves the other with a dead or reused descriptor.
class VEXA_HTTPSOCKET_API CHttpSocket {
  public:
    static constexpr int kHeaderSize = 1024;

    CHttpSocket();
    CHttpSocket(const CHttpSocket& other);
    CHttpSocket& operator=(const CHttpSocket& other);
    virtual ~CHttpSocket();

    // 1 when a socket exists afterwards; 0 when already connected (nothing is done) or on failure.
    int Socket();
    // 1 when connected to host:port. A connected object is closed first, so a reconnect needs a
    // fresh Socket() before Connect().
    int Connect(const char* host, int port);
    // Builds the GET request header into the object and returns it; length gets its byte count.
    // A header that would not fit in kHeaderSize bytes gives "" and length 0. flag is unused.
    const char* FormatRequestHeader(const char* server, const char* object, long& length,
                                    const char* cookie, const char* referer, long from, long to,
                                    int flag);
    // Sends header (null: the object's own; length 0: its whole length), then reads the
    // response header. 1 on success.
    int SendRequest(const char* header, long length);
    // One receive; 0 or less (peer closed, error, time-out) also closes the socket.
    long Receive(char* buffer, long size);
    int CloseSocket();
    // Copies min(size, header length) bytes without a terminating NUL; returns the count.
    int GetRequestHeader(char* buffer, int size) const;
    // kind 0: receive time-out, any other: send time-out.
    int SetTimeout(int milliseconds, int kind);
    // The response header of the last request (read now if it has not been yet).
    const char* GetResponseHeader(int& length);
    // The next header line with its line feed, no NUL added; -1 after the last line, and the
    // next call starts again at the first.
    int GetResponseLine(char* line, int size);
    // Value of the first occurrence of name in the response header, up to the next CR LF.
    // At most size-1 bytes are copied and a NUL is always added; the result is the value's full
    // length (larger than size-1 when it was cut), or -1 when there is no header or no name.
    int GetField(const char* name, char* value, int size);
    // The status code of the response, -1 while no response header has been read.
    int GetServerState();

  private:
    void ReadResponseHeader();

    char m_requestheader[kHeaderSize];
    char m_ResponseHeader[kHeaderSize + 1];  // the extra byte keeps a full header terminated
    int m_port;
    char m_ipaddr[256];
    bool m_bConnected;
    platform::blocking::SocketHandle m_s;
    std::uint8_t m_hostAddress[4];  // the last name lookup's first address
    bool m_bHostResolved;
    int m_nCurIndex;
    bool m_bResponsed;
    int m_nResponseHeaderSize;
};

}  // namespace vexa
