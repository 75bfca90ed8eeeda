#include "tests/fakes/CTestUiLoop.h"

#include <chrono>
#include <limits>
#include <optional>

namespace vexa::testing {

using platform::WindowHandle;

CTestUiLoop::CTestUiLoop() {
    platform::SetUiLoop(this);
}

CTestUiLoop::~CTestUiLoop() {
    platform::SetUiLoop(nullptr);
}

WindowHandle CTestUiLoop::AddTarget(platform::IMessageTarget* target) {
    std::lock_guard<std::mutex> guard(m_lock);
    WindowHandle handle = m_nextHandle++;
    m_targets[handle] = target;
    return handle;
}

void CTestUiLoop::RemoveTarget(WindowHandle window) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_targets.erase(window);
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        it = it->first.first == window ? m_timers.erase(it) : std::next(it);
    }
}

bool CTestUiLoop::PostMessage(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                              std::intptr_t lParam) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_targets.count(window) == 0) return false;
        m_queue.push_back({window, msg, wParam, lParam});
    }
    m_posted.notify_all();
    return true;
}

bool CTestUiLoop::SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t periodMs) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_targets.count(window) == 0) return false;
    m_timers[{window, id}] = Timer{periodMs, m_now + periodMs, m_timerOrder++};
    return true;
}

void CTestUiLoop::KillTimer(WindowHandle window, std::uintptr_t id) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_timers.erase({window, id});
}

std::uint64_t CTestUiLoop::NowMs() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_now;
}

bool CTestUiLoop::HasTimer(WindowHandle window, std::uintptr_t id) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_timers.count({window, id}) != 0;
}

platform::IMessageTarget* CTestUiLoop::Find(WindowHandle window) const {
    auto it = m_targets.find(window);
    return it == m_targets.end() ? nullptr : it->second;
}

int CTestUiLoop::RunPending() {
    int count = 0;
    for (;;) {
        Posted posted{};
        platform::IMessageTarget* target = nullptr;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_queue.empty()) return count;
            posted = m_queue.front();
            m_queue.pop_front();
            target = Find(posted.window);
        }
        if (target != nullptr) {
            target->OnMessage(posted.msg, posted.wParam, posted.lParam);
            ++count;
        }
    }
}

void CTestUiLoop::RunFor(std::uint64_t ms) {
    std::uint64_t end;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        end = m_now + ms;
    }
    for (;;) {
        RunPending();
        std::optional<std::pair<WindowHandle, std::uintptr_t>> next;
        platform::IMessageTarget* target = nullptr;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            std::uint64_t bestDue = std::numeric_limits<std::uint64_t>::max();
            std::uint64_t bestOrder = 0;
            for (auto& [key, timer] : m_timers) {
                if (timer.due > end) continue;
                if (timer.due < bestDue || (timer.due == bestDue && timer.order < bestOrder)) {
                    bestDue = timer.due;
                    bestOrder = timer.order;
                    next = key;
                }
            }
            if (!next) {
                m_now = end;
                return;
            }
            Timer& timer = m_timers[*next];
            m_now = timer.due;
            timer.due += timer.period == 0 ? 1 : timer.period;
            timer.order = m_timerOrder++;
            target = Find(next->first);
        }
        if (target != nullptr) target->OnMessage(platform::WM_TIMER, next->second, 0);
    }
}

bool CTestUiLoop::WaitForPosts(std::uint32_t realTimeoutMs) {
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_posted.wait_for(guard, std::chrono::milliseconds(realTimeoutMs),
                          [this] { return !m_queue.empty(); });
    }
    return RunPending() > 0;
}

}  // namespace vexa::testing
