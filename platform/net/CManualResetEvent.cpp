#include "platform/net/CManualResetEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace vexa::platform {

CManualResetEvent::CManualResetEvent() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CManualResetEvent::~CManualResetEvent() {
    if (m_fd >= 0) close(m_fd);
}

void CManualResetEvent::Signal() {
    // Nobody ever reads the counter, so the descriptor stays readable from now on.
    std::uint64_t one = 1;
    while (write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool CManualResetEvent::IsSignalled() const {
    return Wait(0);
}

bool CManualResetEvent::Wait(int timeoutMs) const {
    pollfd p{m_fd, POLLIN, 0};
    for (;;) {
        int r = poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        return r > 0 && (p.revents & POLLIN) != 0;
    }
}

}  // namespace vexa::platform
