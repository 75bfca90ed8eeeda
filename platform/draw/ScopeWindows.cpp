#include <atomic>

#include "platform/draw/COffscreenScopeWindow.h"
#include "platform/draw/IScopeWindow.h"

namespace vexa::platform {

namespace {
COffscreenScopeWindows g_hidden;
std::atomic<IScopeWindows*> g_windows{nullptr};
}  // namespace

IScopeWindows& ScopeWindows() {
    IScopeWindows* windows = g_windows.load();
    return windows != nullptr ? *windows : g_hidden;
}

void SetScopeWindows(IScopeWindows* windows) {
    g_windows.store(windows);
}

}  // namespace vexa::platform
