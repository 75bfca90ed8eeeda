// A manual-reset event that stays signalled once set; waitable together with a socket.
#pragma once

namespace vexa::platform {

class CManualResetEvent {
  public:
    CManualResetEvent();
    ~CManualResetEvent();
    CManualResetEvent(const CManualResetEvent&) = delete;
    CManualResetEvent& operator=(const CManualResetEvent&) = delete;

    // False when the system could not provide the event.
    bool IsValid() const { return m_fd >= 0; }
    void Signal();
    bool IsSignalled() const;
    // Waits up to timeoutMs (<0: no limit); true when signalled.
    bool Wait(int timeoutMs) const;
    // The descriptor the socket layer waits on.
    int Descriptor() const { return m_fd; }

  private:
    int m_fd = -1;
};

}  // namespace vexa::platform
