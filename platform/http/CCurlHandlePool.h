// The libcurl handles of the content downloads, kept between transfers: a handle keeps the
// connections its last transfer left open, so the next fetch from the same site goes out on one of
// them instead of paying for a new connection. All handles share DNS answers and TLS sessions.
#pragma once

#include <curl/curl.h>

#include <mutex>
#include <vector>

namespace vexa::platform {

class CCurlHandlePool {
  public:
    // The process's pool. It is never destroyed, so a worker still running at exit finds it.
    static CCurlHandlePool& Instance();

    // A handle with default options and the shared caches; nullptr when libcurl has no memory.
    CURL* Take();
    // Gives a handle back after its transfer. Handles beyond the idle limit are closed.
    void Give(CURL* handle);
    // Closes every idle handle and with it every connection kept open.
    void DropIdle();

  private:
    CCurlHandlePool();
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user);
    static void Unlock(CURL*, curl_lock_data data, void* user);

    std::mutex m_lock;
    std::vector<CURL*> m_idle;
    CURLSH* m_share = nullptr;
    // One lock per kind of shared data, as libcurl asks.
    std::mutex m_dataLocks[CURL_LOCK_DATA_LAST];
};

}  // namespace vexa::platform
