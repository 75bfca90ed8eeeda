// One HTTP POST whose body the caller produces piece by piece: the platform's HTTP client sends
// the caller's headers and exactly the announced number of body bytes, then reads the reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vexa::platform {

class IPostBody {
  public:
    virtual ~IPostBody() = default;
    // Fills up to size bytes: the count written, 0 at the end of the body, -1 on an error
    // (the transfer is then abandoned).
    virtual long Read(char* buffer, std::size_t size) = 0;
};

struct HttpPostRequest {
    std::string agent;  // User-Agent
    std::string host;   // name or address; an IPv6 address without brackets
    int port = 80;
    // HTTPS with the peer's certificate and name verified; a failed check fails the request.
    bool tls = false;
    std::string path;  // sent as given
    // Extra request lines without CRLF ("Name: value"). Host and Content-Length come from the
    // client; no "Expect: 100-continue" is sent.
    std::vector<std::string> headers;
    std::uint64_t contentLength = 0;
};

// Developers and tests can name their own CA certificates (a PEM file) in VEXA_TLS_CA_FILE; they
// are then trusted in place of the system's.
//
// True when the request was sent in full and the reply read to its end, whatever its status.
// False on a connection, transfer or body error. The reply body goes to reply (cut at 1 MiB);
// the reply's HTTP status to *status when given (0 when no answer came).
bool HttpPost(const HttpPostRequest& request, IPostBody& body, std::string& reply,
              int* status = nullptr);

}  // namespace vexa::platform
