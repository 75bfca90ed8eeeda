#include "platform/http/HttpGet.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/http/CCurlHandlePool.h"

namespace vexa::platform {

namespace {

void InitCurlOnce() {
    // curl_global_init is not safe to race with other threads' first transfers.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Response heads, redirects' included, together larger than this are no honest site's: a
// hostile one could otherwise keep the transfer busy with headers for ever.
constexpr std::size_t kMaxHeaderBytes = 256 * 1024;
constexpr long kReceiveBufferBytes = 256 * 1024;

struct Transfer {
    CURL* curl = nullptr;
    IHttpGetSink* sink = nullptr;
    long long maxBodyBytes = 0;
    std::size_t headerBytes = 0;
    long long bodyBytes = 0;
    bool anyHeader = false;  // some answer came back, so a retry would repeat a request
    bool responded = false;
    bool sinkEnded = false;

    bool Respond() {
        responded = true;
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_off_t length = -1;
        if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
            length = -1;
        if (!sink->OnResponse(static_cast<int>(status), static_cast<long long>(length))) {
            sinkEnded = true;
            return false;
        }
        return true;
    }
};

size_t OnHeader(char* /*data*/, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    t->anyHeader = true;
    t->headerBytes += size * count;
    return t->headerBytes > kMaxHeaderBytes ? 0 : size * count;
}

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t bytes = size * count;
    if (!t->responded && !t->Respond()) return 0;
    if (t->sinkEnded) return 0;
    t->bodyBytes += static_cast<long long>(bytes);
    if (t->maxBodyBytes > 0 && t->bodyBytes > t->maxBodyBytes) return 0;
    if (bytes > 0 && !t->sink->OnBody(data, bytes)) {
        t->sinkEnded = true;
        return 0;
    }
    return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (t->responded && !t->sinkEnded) t->sink->OnIdle();
    return 0;
}

// Only a connection that never came about is tried again; a site that accepted the request
// and then went quiet would just cost the stall time twice.
bool IsConnectFailure(CURL* curl, CURLcode code) {
    if (code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST ||
        code == CURLE_COULDNT_RESOLVE_PROXY)
        return true;
    if (code != CURLE_OPERATION_TIMEDOUT) return false;
    // A request that went out on a connection kept from an earlier transfer never connected
    // either, but it was sent.
    curl_off_t connectUs = 0;
    curl_off_t pretransferUs = 0;
    return curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connectUs) == CURLE_OK &&
           curl_easy_getinfo(curl, CURLINFO_PRETRANSFER_TIME_T, &pretransferUs) == CURLE_OK &&
           connectUs == 0 && pretransferUs == 0;
}

}  // namespace

bool HttpGet(const std::string& url, const HttpGetOptions& options, IHttpGetSink& sink,
             HttpGetFailure* failure) {
    InitCurlOnce();
    HttpGetFailure ignored;
    HttpGetFailure& why = failure != nullptr ? *failure : ignored;
    why = HttpGetFailure::kNoAnswer;
    for (int attempt = 0;; ++attempt) {
        // A handle of an earlier transfer, with the connections it left open to the site.
        CURL* curl = CCurlHandlePool::Instance().Take();
        if (curl == nullptr) return false;
        Transfer t;
        t.curl = curl;
        t.sink = &sink;
        t.maxBodyBytes = options.maxBodyBytes;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        // An https site is only ever read with its certificate and name checked. Developers and
        // tests can trust CA certificates of their own (a PEM file) in place of the system's.
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        if (const char* ca = std::getenv("VEXA_TLS_CA_FILE"); ca != nullptr && *ca != '\0') {
            curl_easy_setopt(curl, CURLOPT_CAINFO, ca);
            curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
        }
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, options.maxRedirects);
        curl_easy_setopt(curl, CURLOPT_USERAGENT, options.userAgent.c_str());
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
        // Credentials of the environment's proxy URL are offered with whatever scheme the proxy
        // asks for, so a 407 is answered once by curl itself.
        curl_easy_setopt(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
        // Always from the network: ask caches on the way not to answer from their store.
        curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        // A stated length over the bound is refused before any of the body is read.
        if (options.maxBodyBytes > 0)
            curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                             static_cast<curl_off_t>(options.maxBodyBytes));
        if (options.stallTimeoutMs > 0) {
            curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT,
                             options.lowSpeedBytesPerSec > 0 ? options.lowSpeedBytesPerSec : 1L);
            curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, (options.stallTimeoutMs + 999) / 1000);
        }
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnWrite);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
        // What has arrived is taken in one piece, not in libcurl's default 16 KiB: a large file
        // costs a few reads, writes and calls instead of one of each per 16 KiB.
        curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

        CURLcode code = curl_easy_perform(curl);
        // A response without a body never reaches the write callback.
        bool respondedNow = code == CURLE_OK && !t.responded ? t.Respond() : true;
        bool retry = code != CURLE_OK && !t.anyHeader && !t.responded &&
                     attempt < options.connectRetries && IsConnectFailure(curl, code);
        CCurlHandlePool::Instance().Give(curl);
        curl_slist_free_all(headers);

        if (code == CURLE_OK) {
            why = respondedNow ? HttpGetFailure::kNone : HttpGetFailure::kBroken;
            return respondedNow;
        }
        if (!retry) {
            why = t.anyHeader || t.responded ? HttpGetFailure::kBroken : HttpGetFailure::kNoAnswer;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(options.retryDelayMs));
    }
}

void HttpGetDropIdleConnections() {
    CCurlHandlePool::Instance().DropIdle();
}

}  // namespace vexa::platform
