// Memory of a content site that does not answer, shared by the server's fetches and the content
// upkeep: once a download got no answer at all, further downloads are skipped for a while
// instead of each waiting out its own time-out; the first answer from the site ends that.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "server/DownloadHelpers.h"

namespace vexa {

class CSiteOutage {
  public:
    // Milliseconds on a monotonic clock.
    using Clock = std::function<std::uint64_t()>;
    // How long a silent site is left alone before it is asked again.
    static constexpr std::uint64_t kQuietMs = 30000;

    CSiteOutage();
    CSiteOutage(const CSiteOutage&) = delete;
    CSiteOutage& operator=(const CSiteOutage&) = delete;

    // For tests: another clock and quiet time.
    void SetClock(Clock clock, std::uint64_t quietMs = kQuietMs);

    // True while downloads should not wait on the site.
    bool IsDown() const;
    // A download got nothing back (or a wait for one was given up).
    void NoteNoAnswer();
    // The site answered, whatever it said.
    void NoteAnswer();
    // Notes the outcome of one download.
    void Note(DownloadResult result);

  private:
    mutable std::mutex m_lock;
    Clock m_clock;
    std::uint64_t m_quietMs = kQuietMs;
    bool m_bDown = false;
    std::uint64_t m_downSince = 0;
};

}  // namespace vexa
