#include "platform/upload/HttpPost.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace vexa::platform {
namespace {

constexpr std::size_t kReplyLimit = 1 << 20;

// Without these, a host that accepts the connection and then never answers would hold the one
// upload worker, and with it every later upload, for good. The values follow the desktop
// client's own defaults.
constexpr long kConnectTimeoutS = 60;
constexpr long kStallTimeoutS = 60;

void GlobalInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t ReadBody(char* buffer, size_t size, size_t count, void* user) {
    long n = static_cast<IPostBody*>(user)->Read(buffer, size * count);
    return n < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(n);
}

size_t KeepReply(char* data, size_t size, size_t count, void* user) {
    auto* reply = static_cast<std::string*>(user);
    size_t n = size * count;
    if (reply->size() < kReplyLimit) reply->append(data, std::min(n, kReplyLimit - reply->size()));
    return n;  // read the rest, but keep only the start
}

std::string Url(const HttpPostRequest& request) {
    bool v6 = request.host.find(':') != std::string::npos;
    std::string url = request.tls ? "https://" : "http://";
    url += v6 ? "[" + request.host + "]" : request.host;
    url += ":" + std::to_string(request.port);
    if (request.path.empty() || request.path[0] != '/') url += '/';
    url += request.path;
    return url;
}

}  // namespace

bool HttpPost(const HttpPostRequest& request, IPostBody& body, std::string& reply, int* status) {
    if (status != nullptr) *status = 0;
    GlobalInitOnce();
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return false;

    curl_slist* headers = nullptr;
    bool listOk = true;
    for (const std::string& line : request.headers) {
        curl_slist* grown = curl_slist_append(headers, line.c_str());
        if (grown == nullptr)
            listOk = false;
        else
            headers = grown;
    }
    curl_slist* grown = curl_slist_append(headers, "Expect:");
    if (grown == nullptr)
        listOk = false;
    else
        headers = grown;

    CURLcode rc = CURLE_OUT_OF_MEMORY;
    if (listOk) {
        std::string url = Url(request);
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        // Exactly the scheme asked for: a host value from the environment must not switch it, and
        // a TLS upload that fails its checks must not go out in clear text instead.
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, request.tls ? "https" : "http");
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        if (const char* ca = std::getenv("VEXA_TLS_CA_FILE"); ca != nullptr && *ca != '\0') {
            curl_easy_setopt(curl, CURLOPT_CAINFO, ca);
            curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
        }
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_USERAGENT, request.agent.c_str());
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.contentLength));
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadBody);
        curl_easy_setopt(curl, CURLOPT_READDATA, &body);
        curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 65536L);
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, KeepReply);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutS);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallTimeoutS);
        rc = curl_easy_perform(curl);
        long code = 0;
        if (status != nullptr && curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK)
            *status = static_cast<int>(code);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return rc == CURLE_OK;
}

}  // namespace vexa::platform
