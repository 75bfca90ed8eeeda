// The UI loop on GLib's default main context: the desktop program's loop (GTK runs on it) and
// the real-time loop of integration tests, which need no display.
#pragma once

#include <glib.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/core/UiLoop.h"

namespace vexa::platform {

class CGlibUiLoop : public IUiLoop {
  public:
    CGlibUiLoop();
    ~CGlibUiLoop() override;
    CGlibUiLoop(const CGlibUiLoop&) = delete;
    CGlibUiLoop& operator=(const CGlibUiLoop&) = delete;

    WindowHandle AddTarget(IMessageTarget* target) override;
    void RemoveTarget(WindowHandle window) override;
    bool PostMessage(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                     std::intptr_t lParam) override;
    bool SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t periodMs) override;
    void KillTimer(WindowHandle window, std::uintptr_t id) override;
    std::uint64_t NowMs() override;

    // Runs the loop until done() is true or timeoutMs has passed; true when done() became true.
    bool RunUntil(const std::function<bool()>& done, std::uint32_t timeoutMs);
    // Dispatches whatever is ready without blocking.
    void RunPending();

  private:
    struct Timer;
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

}  // namespace vexa::platform
