#include "platform/core/UiLoop.h"

#include <chrono>
#include <mutex>
#include <shared_mutex>

namespace vexa::platform {
namespace {

// What UiLoop() hands out: it forwards to the installed loop. Workers post from their own
// threads at any time, at exit too, so a post while no loop is installed is dropped, and
// SetUiLoop waits for posts under way before the old loop may go.
class CInstalledLoop : public IUiLoop {
  public:
    void Install(IUiLoop* loop) {
        std::unique_lock<std::shared_mutex> guard(m_lock);
        m_loop = loop;
    }

    WindowHandle AddTarget(IMessageTarget* target) override {
        std::shared_lock<std::shared_mutex> guard(m_lock);
        return m_loop != nullptr ? m_loop->AddTarget(target) : 0;
    }
    void RemoveTarget(WindowHandle window) override {
        std::shared_lock<std::shared_mutex> guard(m_lock);
        if (m_loop != nullptr) m_loop->RemoveTarget(window);
    }
    bool PostMessage(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                     std::intptr_t lParam) override {
        std::shared_lock<std::shared_mutex> guard(m_lock);
        return m_loop != nullptr && m_loop->PostMessage(window, msg, wParam, lParam);
    }
    bool SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t periodMs) override {
        std::shared_lock<std::shared_mutex> guard(m_lock);
        return m_loop != nullptr && m_loop->SetTimer(window, id, periodMs);
    }
    void KillTimer(WindowHandle window, std::uintptr_t id) override {
        std::shared_lock<std::shared_mutex> guard(m_lock);
        if (m_loop != nullptr) m_loop->KillTimer(window, id);
    }
    std::uint64_t NowMs() override {
        std::shared_lock<std::shared_mutex> guard(m_lock);
        if (m_loop != nullptr) return m_loop->NowMs();
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }

  private:
    std::shared_mutex m_lock;
    IUiLoop* m_loop = nullptr;
};

// Never destroyed: threads that outlive main may still post.
CInstalledLoop& Installed() {
    static CInstalledLoop& loop = *new CInstalledLoop;
    return loop;
}

}  // namespace

IUiLoop& UiLoop() {
    return Installed();
}

void SetUiLoop(IUiLoop* loop) {
    Installed().Install(loop);
}

bool PostToUiLoop(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                  std::intptr_t lParam) {
    return Installed().PostMessage(window, msg, wParam, lParam);
}

}  // namespace vexa::platform
