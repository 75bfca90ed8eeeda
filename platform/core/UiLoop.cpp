#include "platform/core/UiLoop.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>

namespace vexa::platform {
namespace {
std::atomic<IUiLoop*> g_loop{nullptr};
std::shared_mutex g_posting;
}  // namespace

IUiLoop& UiLoop() {
    IUiLoop* loop = g_loop.load();
    if (loop == nullptr) {
        std::fputs("vexa: no UI loop installed\n", stderr);
        std::abort();
    }
    return *loop;
}

void SetUiLoop(IUiLoop* loop) {
    std::unique_lock<std::shared_mutex> guard(g_posting);
    g_loop.store(loop);
}

bool PostToUiLoop(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                  std::intptr_t lParam) {
    std::shared_lock<std::shared_mutex> guard(g_posting);
    IUiLoop* loop = g_loop.load();
    return loop != nullptr && loop->PostMessage(window, msg, wParam, lParam);
}

}  // namespace vexa::platform
