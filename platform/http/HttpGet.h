// Blocking HTTP GET of one URL, streamed to a sink: the transfer behind the content downloads.
#pragma once

#include <cstddef>
#include <string>

namespace vexa::platform {

struct HttpGetOptions {
    std::string userAgent;
    long connectTimeoutMs = 30000;
    // Further attempts when no answer at all arrived (refused, unreachable, connect time-out).
    int connectRetries = 1;
    long retryDelayMs = 1000;
    // The transfer is given up when fewer than lowSpeedBytesPerSec bytes per second arrive for
    // this long (0: wait forever). Rounded up to whole seconds.
    long stallTimeoutMs = 30000;
    long lowSpeedBytesPerSec = 1;
    // The largest body taken (0: no bound): a longer one, stated or sent, breaks the transfer off.
    long long maxBodyBytes = 0;
    // Redirects followed, to http and https only; one more breaks the transfer off.
    long maxRedirects = 10;
};

// Receives one response. Calls come from the thread that called HttpGet.
class IHttpGetSink {
  public:
    virtual ~IHttpGetSink() = default;
    // Once, when the final response's head has arrived (redirects are followed first).
    // contentLength is -1 when the response states none. Returning false ends the transfer.
    virtual bool OnResponse(int status, long long contentLength) = 0;
    // Each piece of the body, in order. Returning false ends the transfer.
    virtual bool OnBody(const char* data, std::size_t size) = 0;
    // Now and then after OnResponse while the transfer runs, also while nothing arrives (about
    // once a second then), for a sink with work of its own between pieces.
    virtual void OnIdle() {}
};

// Why a transfer gave no usable response.
enum class HttpGetFailure {
    kNone,      // it succeeded
    kNoAnswer,  // nothing at all came back: no connection, or silence until a time-out
    kBroken,    // the site answered, but the transfer broke off or the sink ended it
};

// True when a response arrived and its body ended as the response's framing says. False when
// nothing usable arrived or the transfer broke off (also after a sink ended it); OnResponse may
// then have been called or not, and failure (when given) says which of the two it was. The
// environment's proxy settings apply. Thread-safe. Transfers to a site go out on a connection an
// earlier one left open when there is one.
bool HttpGet(const std::string& url, const HttpGetOptions& options, IHttpGetSink& sink,
             HttpGetFailure* failure = nullptr);

// Closes the connections kept open for later transfers.
void HttpGetDropIdleConnections();

}  // namespace vexa::platform
