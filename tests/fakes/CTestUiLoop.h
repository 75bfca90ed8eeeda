// A deterministic UI loop for tests: posted messages run in order, timers fire on a virtual
// clock that moves only when the test says so.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

#include "platform/core/UiLoop.h"

namespace vexa::testing {

class CTestUiLoop : public platform::IUiLoop {
  public:
    // Installs itself as the process's loop for its lifetime.
    CTestUiLoop();
    ~CTestUiLoop() override;

    platform::WindowHandle AddTarget(platform::IMessageTarget* target) override;
    void RemoveTarget(platform::WindowHandle window) override;
    bool PostMessage(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                     std::intptr_t lParam) override;
    bool SetTimer(platform::WindowHandle window, std::uintptr_t id,
                  std::uint32_t periodMs) override;
    void KillTimer(platform::WindowHandle window, std::uintptr_t id) override;
    std::uint64_t NowMs() override;

    // Delivers posted messages until none is left; the clock stands still. Returns how many ran.
    int RunPending();
    // Moves the clock forward by ms, firing timers at their due times and delivering posted
    // messages in between.
    void RunFor(std::uint64_t ms);
    // Waits up to realTimeoutMs of real time for a message posted from another thread, then
    // delivers what is queued. True when something ran.
    bool WaitForPosts(std::uint32_t realTimeoutMs);

    bool HasTimer(platform::WindowHandle window, std::uintptr_t id) const;

  private:
    struct Posted {
        platform::WindowHandle window;
        std::uint32_t msg;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };
    struct Timer {
        std::uint32_t period;
        std::uint64_t due;
        std::uint64_t order;
    };
    platform::IMessageTarget* Find(platform::WindowHandle window) const;

    mutable std::mutex m_lock;
    std::condition_variable m_posted;
    std::deque<Posted> m_queue;
    std::map<platform::WindowHandle, platform::IMessageTarget*> m_targets;
    std::map<std::pair<platform::WindowHandle, std::uintptr_t>, Timer> m_timers;
    platform::WindowHandle m_nextHandle = 1;
    std::uint64_t m_now = 0;
    std::uint64_t m_timerOrder = 0;
};

}  // namespace vexa::testing
