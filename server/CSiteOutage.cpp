#include "server/CSiteOutage.h"

#include <chrono>
#include <utility>

namespace vexa {

namespace {

std::uint64_t SteadyNowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

CSiteOutage::CSiteOutage() : m_clock(SteadyNowMs) {}

void CSiteOutage::SetClock(Clock clock, std::uint64_t quietMs) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_clock = clock ? std::move(clock) : Clock(SteadyNowMs);
    m_quietMs = quietMs;
}

bool CSiteOutage::IsDown() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bDown && m_clock() - m_downSince < m_quietMs;
}

void CSiteOutage::NoteNoAnswer() {
    std::lock_guard<std::mutex> guard(m_lock);
    // Each silence starts the quiet time anew: a site that is asked again after it and still
    // says nothing is left alone for another round.
    m_bDown = true;
    m_downSince = m_clock();
}

void CSiteOutage::NoteAnswer() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bDown = false;
}

void CSiteOutage::Note(DownloadResult result) {
    if (result == DownloadResult::kNoAnswer)
        NoteNoAnswer();
    else
        NoteAnswer();
}

}  // namespace vexa
