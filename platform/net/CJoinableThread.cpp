#include "platform/net/CJoinableThread.h"

#include <pthread.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vexa::platform {

// Shared by the owner and the thread, so either may let go first.
struct CJoinableThread::SShared {
    std::function<void()> fn;
    pthread_t thread{};
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
};

void* CJoinableThread::Main(void* arg) {
    // The thread's own reference, taken over from Start.
    std::shared_ptr<SShared> shared(std::move(*static_cast<std::shared_ptr<SShared>*>(arg)));
    delete static_cast<std::shared_ptr<SShared>*>(arg);
    shared->fn();
    shared->fn = nullptr;
    std::lock_guard<std::mutex> g(shared->lock);
    shared->done = true;
    shared->cv.notify_all();
    return nullptr;
}

CJoinableThread::CJoinableThread(CJoinableThread&& other) noexcept
    : m_pShared(std::move(other.m_pShared)) {}

CJoinableThread& CJoinableThread::operator=(CJoinableThread&& other) noexcept {
    if (this != &other) {
        Abandon();
        m_pShared = std::move(other.m_pShared);
    }
    return *this;
}

CJoinableThread::~CJoinableThread() {
    Abandon();
}

bool CJoinableThread::Start(std::function<void()> fn, int* error, std::size_t stackBytes) {
    Abandon();
    auto shared = std::make_shared<SShared>();
    shared->fn = std::move(fn);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackBytes > 0) pthread_attr_setstacksize(&attr, stackBytes);
    auto* handoff = new std::shared_ptr<SShared>(shared);
    int rc = pthread_create(&shared->thread, &attr, &CJoinableThread::Main, handoff);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete handoff;
        if (error != nullptr) *error = rc;
        return false;
    }
    m_pShared = std::move(shared);
    return true;
}

bool CJoinableThread::WaitFor(int timeoutMs) {
    if (!m_pShared) return true;
    {
        std::unique_lock<std::mutex> g(m_pShared->lock);
        auto isDone = [this] { return m_pShared->done; };
        if (timeoutMs < 0) {
            m_pShared->cv.wait(g, isDone);
        } else if (!m_pShared->cv.wait_for(g, std::chrono::milliseconds(timeoutMs), isDone)) {
            return false;
        }
    }
    // fn has returned; what is left of the thread is its exit, so this join is short.
    pthread_join(m_pShared->thread, nullptr);
    m_pShared.reset();
    return true;
}

void CJoinableThread::Abandon() {
    if (m_pShared) pthread_detach(m_pShared->thread);
    m_pShared.reset();
}

}  // namespace vexa::platform
