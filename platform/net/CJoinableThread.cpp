#include "platform/net/CJoinableThread.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

namespace vexa::platform {

struct CJoinableThread::SDone {
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
};

CJoinableThread& CJoinableThread::operator=(CJoinableThread&& other) noexcept {
    if (this != &other) {
        Abandon();
        m_thread = std::move(other.m_thread);
        m_pDone = std::move(other.m_pDone);
    }
    return *this;
}

CJoinableThread::~CJoinableThread() {
    Abandon();
}

bool CJoinableThread::Start(std::function<void()> fn, int* error) {
    Abandon();
    auto done = std::make_shared<SDone>();
    try {
        m_thread = std::thread([done, fn = std::move(fn)]() {
            fn();
            std::lock_guard<std::mutex> g(done->lock);
            done->done = true;
            done->cv.notify_all();
        });
    } catch (const std::system_error& e) {
        if (error != nullptr) *error = e.code().value();
        return false;
    } catch (...) {
        if (error != nullptr) *error = ENOMEM;
        return false;
    }
    m_pDone = std::move(done);
    return true;
}

bool CJoinableThread::WaitFor(int timeoutMs) {
    if (!m_thread.joinable()) return true;
    {
        std::unique_lock<std::mutex> g(m_pDone->lock);
        auto isDone = [this] { return m_pDone->done; };
        if (timeoutMs < 0) {
            m_pDone->cv.wait(g, isDone);
        } else if (!m_pDone->cv.wait_for(g, std::chrono::milliseconds(timeoutMs), isDone)) {
            return false;
        }
    }
    // fn has returned; what is left of the thread is its exit, so this join is short.
    m_thread.join();
    m_pDone.reset();
    return true;
}

void CJoinableThread::Abandon() {
    if (m_thread.joinable()) m_thread.detach();
    m_pDone.reset();
}

}  // namespace vexa::platform
