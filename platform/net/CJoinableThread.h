// A thread that can be waited for with a time limit and, when it will not end, given up on
// without ending the process; a thread cannot be killed safely, so giving up means detaching.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace vexa::platform {

class CJoinableThread {
  public:
    CJoinableThread() = default;
    CJoinableThread(CJoinableThread&& other) noexcept;
    CJoinableThread& operator=(CJoinableThread&& other) noexcept;
    CJoinableThread(const CJoinableThread&) = delete;
    CJoinableThread& operator=(const CJoinableThread&) = delete;
    // A thread still running is given up on, never joined or terminated here.
    ~CJoinableThread();

    // Runs fn on a new thread with the given stack size (0: the system's default). False, with
    // the error number in *error, when none could be started.
    bool Start(std::function<void()> fn, int* error, std::size_t stackBytes = 0);
    // Waits up to timeoutMs (<0: no limit) for fn to return; true once it has and the thread
    // is joined (also when there never was a thread).
    bool WaitFor(int timeoutMs);
    // Detaches a thread that is still running; it finishes on its own.
    void Abandon();
    bool IsRunning() const { return m_pShared != nullptr; }

  private:
    struct SShared;
    static void* Main(void* shared);
    std::shared_ptr<SShared> m_pShared;
};

}  // namespace vexa::platform
