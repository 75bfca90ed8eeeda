#include "platform/glib/CGlibUiLoop.h"

#include <utility>

namespace vexa::platform {

// State shared with posted closures, which may run after a target is gone (they then drop).
struct CGlibUiLoop::Shared {
    std::mutex lock;
    std::map<WindowHandle, IMessageTarget*> targets;
    std::map<std::pair<WindowHandle, std::uintptr_t>, guint> timers;
    WindowHandle nextHandle = 1;

    IMessageTarget* Find(WindowHandle window) {
        std::lock_guard<std::mutex> guard(lock);
        auto it = targets.find(window);
        return it == targets.end() ? nullptr : it->second;
    }
};

struct CGlibUiLoop::Timer {
    std::weak_ptr<Shared> shared;
    WindowHandle window;
    std::uintptr_t id;
};

CGlibUiLoop::CGlibUiLoop() : m_shared(std::make_shared<Shared>()) {}

CGlibUiLoop::~CGlibUiLoop() {
    std::lock_guard<std::mutex> guard(m_shared->lock);
    for (auto& [key, source] : m_shared->timers) g_source_remove(source);
    m_shared->timers.clear();
    m_shared->targets.clear();
}

WindowHandle CGlibUiLoop::AddTarget(IMessageTarget* target) {
    std::lock_guard<std::mutex> guard(m_shared->lock);
    WindowHandle handle = m_shared->nextHandle++;
    m_shared->targets[handle] = target;
    return handle;
}

void CGlibUiLoop::RemoveTarget(WindowHandle window) {
    std::lock_guard<std::mutex> guard(m_shared->lock);
    m_shared->targets.erase(window);
    for (auto it = m_shared->timers.begin(); it != m_shared->timers.end();) {
        if (it->first.first == window) {
            g_source_remove(it->second);
            it = m_shared->timers.erase(it);
        } else {
            ++it;
        }
    }
}

bool CGlibUiLoop::PostMessage(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                              std::intptr_t lParam) {
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        if (m_shared->targets.count(window) == 0) return false;
    }
    struct Closure {
        std::weak_ptr<Shared> shared;
        WindowHandle window;
        std::uint32_t msg;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };
    auto* closure = new Closure{m_shared, window, msg, wParam, lParam};
    // An idle source always runs inside the loop's own iteration; g_main_context_invoke would
    // run the handler on the posting thread whenever no one holds the context.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            auto* c = static_cast<Closure*>(data);
            if (auto shared = c->shared.lock()) {
                if (IMessageTarget* target = shared->Find(c->window)) {
                    target->OnMessage(c->msg, c->wParam, c->lParam);
                }
            }
            return G_SOURCE_REMOVE;
        },
        closure, [](gpointer data) { delete static_cast<Closure*>(data); });
    g_source_attach(source, nullptr);
    g_source_unref(source);
    return true;
}

bool CGlibUiLoop::SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t periodMs) {
    KillTimer(window, id);
    std::lock_guard<std::mutex> guard(m_shared->lock);
    if (m_shared->targets.count(window) == 0) return false;
    auto* timer = new Timer{m_shared, window, id};
    guint source = g_timeout_add_full(
        G_PRIORITY_DEFAULT, periodMs,
        [](gpointer data) -> gboolean {
            auto* t = static_cast<Timer*>(data);
            if (auto shared = t->shared.lock()) {
                if (IMessageTarget* target = shared->Find(t->window)) {
                    target->OnMessage(WM_TIMER, t->id, 0);
                }
            }
            return G_SOURCE_CONTINUE;
        },
        timer, [](gpointer data) { delete static_cast<Timer*>(data); });
    m_shared->timers[{window, id}] = source;
    return true;
}

void CGlibUiLoop::KillTimer(WindowHandle window, std::uintptr_t id) {
    std::lock_guard<std::mutex> guard(m_shared->lock);
    auto it = m_shared->timers.find({window, id});
    if (it == m_shared->timers.end()) return;
    g_source_remove(it->second);
    m_shared->timers.erase(it);
}

std::uint64_t CGlibUiLoop::NowMs() {
    return static_cast<std::uint64_t>(g_get_monotonic_time() / 1000);
}

bool CGlibUiLoop::RunUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000;
    bool expired = false;
    guint guard = g_timeout_add_full(
        G_PRIORITY_DEFAULT, timeoutMs,
        [](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    while (!done() && !expired && g_get_monotonic_time() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
    }
    if (!expired) g_source_remove(guard);
    return done();
}

void CGlibUiLoop::RunPending() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

}  // namespace vexa::platform
