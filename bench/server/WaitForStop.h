// Blocks SIGTERM and SIGINT in every thread and waits for one of them, or for the time limit,
// so a benchmark server always ends by itself.
#pragma once

#include <errno.h>
#include <signal.h>
#include <time.h>

namespace vexa::bench {

inline void BlockStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// A profiler or tracer attaching interrupts the wait; it goes on for the time that is left.
inline void WaitForStop(int maxSeconds) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const time_t end = now.tv_sec + maxSeconds;
    for (;;) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec >= end) return;
        timespec limit{end - now.tv_sec, 0};
        if (sigtimedwait(&set, nullptr, &limit) >= 0 || errno != EINTR) return;
    }
}

}  // namespace vexa::bench
