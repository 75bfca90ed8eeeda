// A thread that can be waited for with a time limit and, when it will not end, given up on
// without ending the process; a thread cannot be killed safely, so giving up means detaching.
#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace vexa::platform {

class CJoinableThread {
  public:
    CJoinableThread() = default;
    CJoinableThread(CJoinableThread&&) noexcept = default;
    CJoinableThread& operator=(CJoinableThread&&) noexcept;
    // A thread still running is given up on, never joined or terminated here.
    ~CJoinableThread();

    // Runs fn on a new thread. False, with the error number in *error, when none could be started.
    bool Start(std::function<void()> fn, int* error);
    // Waits up to timeoutMs (<0: no limit) for fn to return; true once it has and the thread
    // is joined (also when there never was a thread).
    bool WaitFor(int timeoutMs);
    // Detaches a thread that is still running; it finishes on its own.
    void Abandon();
    bool IsRunning() const { return m_thread.joinable(); }

  private:
    struct SDone;
    std::thread m_thread;
    std::shared_ptr<SDone> m_pDone;
};

}  // namespace vexa::platform
