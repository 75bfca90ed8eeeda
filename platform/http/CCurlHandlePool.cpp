#include "platform/http/CCurlHandlePool.h"

namespace vexa::platform {

namespace {
// About the number of connections the web view opens to one server, with room for the upkeep.
constexpr std::size_t kMaxIdleHandles = 8;
}  // namespace

CCurlHandlePool& CCurlHandlePool::Instance() {
    static CCurlHandlePool* pool = new CCurlHandlePool();
    return *pool;
}

CCurlHandlePool::CCurlHandlePool() {
    m_share = curl_share_init();
    if (m_share == nullptr) return;
    curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &CCurlHandlePool::Lock);
    curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &CCurlHandlePool::Unlock);
    curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
    // Connections themselves stay with their handle: libcurl does not support one connection
    // cache used by several threads at once.
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

void CCurlHandlePool::Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    if (data >= 0 && data < CURL_LOCK_DATA_LAST)
        static_cast<CCurlHandlePool*>(user)->m_dataLocks[data].lock();
}

void CCurlHandlePool::Unlock(CURL*, curl_lock_data data, void* user) {
    if (data >= 0 && data < CURL_LOCK_DATA_LAST)
        static_cast<CCurlHandlePool*>(user)->m_dataLocks[data].unlock();
}

CURL* CCurlHandlePool::Take() {
    CURL* handle = nullptr;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (!m_idle.empty()) {
            handle = m_idle.back();
            m_idle.pop_back();
        }
    }
    if (handle == nullptr) handle = curl_easy_init();
    if (handle != nullptr && m_share != nullptr) curl_easy_setopt(handle, CURLOPT_SHARE, m_share);
    return handle;
}

void CCurlHandlePool::Give(CURL* handle) {
    if (handle == nullptr) return;
    // Options go back to their defaults; open connections, the share and the caches stay.
    curl_easy_reset(handle);
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_idle.size() < kMaxIdleHandles) {
            m_idle.push_back(handle);
            return;
        }
    }
    curl_easy_cleanup(handle);
}

void CCurlHandlePool::DropIdle() {
    std::vector<CURL*> idle;
    {
        std::lock_guard<std::mutex> g(m_lock);
        idle.swap(m_idle);
    }
    for (CURL* handle : idle) curl_easy_cleanup(handle);
}

}  // namespace vexa::platform
