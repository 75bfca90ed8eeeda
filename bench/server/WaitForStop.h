// Blocks SIGTERM and SIGINT in every thread and waits for one of them, or for the time limit,
// so a benchmark server always ends by itself.
#pragma once

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

inline void WaitForStop(int maxSeconds) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    timespec limit{maxSeconds, 0};
    sigtimedwait(&set, nullptr, &limit);
}

}  // namespace vexa::bench
