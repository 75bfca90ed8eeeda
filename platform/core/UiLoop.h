// The user-interface loop: window-message targets, posted messages and timers, as the desktop
// framework provides them. Every subsystem reaches it through UiLoop().
#pragma once

#include <cstdint>

namespace vexa::platform {

// A window handle: names a message target; 0 is no window.
using WindowHandle = std::uint32_t;

constexpr std::uint32_t WM_CLOSE = 0x0010;
constexpr std::uint32_t WM_TIMER = 0x0113;
constexpr std::uint32_t WM_USER = 0x0400;

class IMessageTarget {
  public:
    virtual ~IMessageTarget() = default;
    // Runs on the UI thread for every message posted to this target and every timer tick
    // (WM_TIMER with the timer id as wParam).
    virtual void OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

class IUiLoop {
  public:
    virtual ~IUiLoop() = default;
    // UI thread only. The target must outlive its registration.
    virtual WindowHandle AddTarget(IMessageTarget* target) = 0;
    // UI thread only. Kills the target's timers; messages still queued for it are dropped.
    virtual void RemoveTarget(WindowHandle window) = 0;
    // Any thread. False when the window does not exist (the message is dropped).
    virtual bool PostMessage(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                             std::intptr_t lParam) = 0;
    // UI thread only. A periodic timer; setting an existing id restarts it with the new period.
    virtual bool SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t periodMs) = 0;
    virtual void KillTimer(WindowHandle window, std::uintptr_t id) = 0;
    // Milliseconds on the loop's clock (monotonic; virtual in tests).
    virtual std::uint64_t NowMs() = 0;
};

// The process's loop. Set once by the program (or a test) before any subsystem uses it. While
// none is installed, messages posted are dropped (PostMessage false), as are targets and timers.
// SetUiLoop returns once no call into the previous loop is under way, so it may then be
// destroyed although worker threads still post.
IUiLoop& UiLoop();
void SetUiLoop(IUiLoop* loop);

// For workers the program does not wait for: posts to the installed loop, or drops the message
// (false) when the program has already removed its loop on the way out. SetUiLoop waits for a
// post under way, so the loop is never gone in the middle of one.
bool PostToUiLoop(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                  std::intptr_t lParam);

}  // namespace vexa::platform
