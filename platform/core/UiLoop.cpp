#include "platform/core/UiLoop.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace vexa::platform {
namespace {
std::atomic<IUiLoop*> g_loop{nullptr};
}

IUiLoop& UiLoop() {
    IUiLoop* loop = g_loop.load();
    if (loop == nullptr) {
        std::fputs("vexa: no UI loop installed\n", stderr);
        std::abort();
    }
    return *loop;
}

void SetUiLoop(IUiLoop* loop) {
    g_loop.store(loop);
}

}  // namespace vexa::platform
