#include "platform/alsa/CAlsaPcmThread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/alsa/CAlsaWaveDevices.h"

namespace vexa::platform {

namespace {

std::atomic<std::uintptr_t> g_nextSerial{1};

constexpr unsigned kPeriodUs = 20000;
// Capture keeps half a second in ALSA on top of the queued buffers, for a busy UI thread.
constexpr unsigned kCaptureBufferUs = 500000;
constexpr unsigned kPlaybackBufferUs = 200000;
constexpr int kPollMs = 50;

}  // namespace

CAlsaPcmThread::CAlsaPcmThread(bool input, WindowHandle notify)
    : m_input(input), m_notify(notify), m_serial(g_nextSerial++) {}

CAlsaPcmThread::~CAlsaPcmThread() {
    if (m_thread.joinable()) {
        Request(Command::Quit);
        m_thread.join();
    }
    if (m_pcm != nullptr) snd_pcm_close(m_pcm);
    if (m_wakeFd >= 0) close(m_wakeFd);
}

MMRESULT CAlsaPcmThread::Open(const std::string& name, const WAVEFORMATEX& format) {
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels == 0) return WAVERR_BADFORMAT;
    snd_pcm_format_t sampleFormat;
    if (format.wBitsPerSample == 16) {
        sampleFormat = SND_PCM_FORMAT_S16_LE;
    } else if (format.wBitsPerSample == 8) {
        sampleFormat = SND_PCM_FORMAT_U8;
    } else {
        return WAVERR_BADFORMAT;
    }
    int err =
        snd_pcm_open(&m_pcm, name.c_str(),
                     m_input ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        m_pcm = nullptr;
        return CAlsaWaveDevices::FromAlsaError(err);
    }
    snd_pcm_info_t* info;
    snd_pcm_info_alloca(&info);
    if (snd_pcm_info(m_pcm, info) == 0) m_card = snd_pcm_info_get_card(info);

    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    unsigned rate = format.nSamplesPerSec;
    unsigned periodUs = kPeriodUs;
    unsigned bufferUs = m_input ? kCaptureBufferUs : kPlaybackBufferUs;
    if (snd_pcm_hw_params_any(m_pcm, hw) < 0 ||
        snd_pcm_hw_params_set_access(m_pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(m_pcm, hw, sampleFormat) < 0 ||
        snd_pcm_hw_params_set_channels(m_pcm, hw, format.nChannels) < 0 ||
        snd_pcm_hw_params_set_rate(m_pcm, hw, rate, 0) < 0) {
        return WAVERR_BADFORMAT;
    }
    snd_pcm_hw_params_set_buffer_time_near(m_pcm, hw, &bufferUs, nullptr);
    snd_pcm_hw_params_set_period_time_near(m_pcm, hw, &periodUs, nullptr);
    if ((err = snd_pcm_hw_params(m_pcm, hw)) < 0) return CAlsaWaveDevices::FromAlsaError(err);
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_hw_params_get_period_size(hw, &m_periodFrames, nullptr);
    snd_pcm_hw_params_get_buffer_size(hw, &bufferFrames);
    if (m_periodFrames == 0) m_periodFrames = 256;

    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    if (snd_pcm_sw_params_current(m_pcm, sw) == 0) {
        snd_pcm_sw_params_set_avail_min(m_pcm, sw, m_periodFrames);
        snd_pcm_sw_params_set_start_threshold(
            m_pcm, sw, m_input ? bufferFrames * 2 : std::min(bufferFrames, m_periodFrames * 2));
        snd_pcm_sw_params(m_pcm, sw);
    }
    if ((err = snd_pcm_prepare(m_pcm)) < 0) return CAlsaWaveDevices::FromAlsaError(err);

    m_frameBytes = static_cast<unsigned>(format.wBitsPerSample / 8) * format.nChannels;
    m_scratch.resize(static_cast<std::size_t>(m_periodFrames) * m_frameBytes);
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0) return MMSYSERR_NOMEM;
    m_running = !m_input;
    m_thread = std::thread([this] { Run(); });
    Post(m_input ? MM_WIM_OPEN : MM_WOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

void CAlsaPcmThread::Post(std::uint32_t msg, std::intptr_t lParam) {
    if (m_notify != 0) UiLoop().PostMessage(m_notify, msg, m_serial, lParam);
}

void CAlsaPcmThread::Wake() {
    std::uint64_t one = 1;
    if (m_wakeFd >= 0) {
        ssize_t n = write(m_wakeFd, &one, sizeof one);
        (void)n;
    }
}

MMRESULT CAlsaPcmThread::Request(Command command) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_thread.joinable()) return MMSYSERR_INVALHANDLE;
    m_changed.wait(guard, [this] { return m_command == Command::None; });
    m_command = command;
    m_commandDone = false;
    m_changed.notify_all();
    Wake();
    m_changed.wait(guard, [this] { return m_commandDone; });
    return MMSYSERR_NOERROR;
}

MMRESULT CAlsaPcmThread::Prepare(WAVEHDR* header) {
    if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_closed) return MMSYSERR_INVALHANDLE;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CAlsaPcmThread::Unprepare(WAVEHDR* header) {
    if (header == nullptr) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(m_lock);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CAlsaPcmThread::Queue(WAVEHDR* header) {
    if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_closed) return MMSYSERR_INVALHANDLE;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE) return MMSYSERR_INVALPARAM;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    m_queue.push_back({header, 0, 0});
    m_changed.notify_all();
    Wake();
    return MMSYSERR_NOERROR;
}

MMRESULT CAlsaPcmThread::Start() {
    return Request(Command::Start);
}

MMRESULT CAlsaPcmThread::Pause() {
    return Request(Command::Pause);
}

MMRESULT CAlsaPcmThread::Reset() {
    return Request(Command::Reset);
}

MMRESULT CAlsaPcmThread::Close() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed) return MMSYSERR_INVALHANDLE;
        if (!m_queue.empty()) return WAVERR_STILLPLAYING;
    }
    if (m_thread.joinable()) {
        Request(Command::Quit);
        m_thread.join();
    }
    if (m_pcm != nullptr) {
        snd_pcm_close(m_pcm);
        m_pcm = nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closed = true;
    }
    Post(m_input ? MM_WIM_CLOSE : MM_WOM_CLOSE, 0);
    return MMSYSERR_NOERROR;
}

void CAlsaPcmThread::ReturnFront() {
    Entry front = m_queue.front();
    m_queue.pop_front();
    WAVEHDR* header = front.header;
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (m_input) header->dwBytesRecorded = front.done;
    m_returned.push_back(header);
}

void CAlsaPcmThread::ReturnAll() {
    while (!m_queue.empty()) ReturnFront();
}

void CAlsaPcmThread::RunCommand(Command command) {
    switch (command) {
        case Command::Start:
            if (snd_pcm_state(m_pcm) != SND_PCM_STATE_PREPARED) snd_pcm_prepare(m_pcm);
            snd_pcm_start(m_pcm);
            m_running = true;
            break;
        case Command::Pause:
            snd_pcm_drop(m_pcm);
            m_paused = true;
            break;
        case Command::Reset:
            snd_pcm_drop(m_pcm);
            snd_pcm_prepare(m_pcm);
            ReturnAll();
            m_streamFrames = 0;
            m_paused = false;
            if (m_input) m_running = false;
            break;
        case Command::Quit:
            snd_pcm_drop(m_pcm);
            m_running = false;
            break;
        case Command::None:
            break;
    }
}

void CAlsaPcmThread::Run() {
    int count = snd_pcm_poll_descriptors_count(m_pcm);
    std::vector<pollfd> fds(static_cast<std::size_t>(std::max(count, 0)) + 1);
    std::vector<WAVEHDR*> returned;
    for (;;) {
        bool quit = false;
        bool wait = false;
        {
            std::unique_lock<std::mutex> guard(m_lock);
            if (m_command != Command::None) {
                Command command = m_command;
                RunCommand(command);
                m_command = Command::None;
                m_commandDone = true;
                m_changed.notify_all();
                quit = command == Command::Quit;
            } else if (!m_running || m_paused || (!m_input && m_queue.empty())) {
                m_changed.wait(guard, [this] {
                    return m_command != Command::None ||
                           (m_running && !m_paused && (m_input || !m_queue.empty()));
                });
            } else {
                if (m_input) {
                    Capture();
                } else {
                    Playback();
                }
                wait = true;
            }
            returned.swap(m_returned);
        }
        // Posted without the lock held: a loop that runs the handler at once on this thread
        // would otherwise deadlock in the engine's next call here.
        for (WAVEHDR* header : returned)
            Post(m_input ? MM_WIM_DATA : MM_WOM_DONE, reinterpret_cast<std::intptr_t>(header));
        returned.clear();
        if (quit) return;
        if (!wait) continue;
        int n = count > 0
                    ? snd_pcm_poll_descriptors(m_pcm, fds.data(), static_cast<unsigned>(count))
                    : 0;
        fds[static_cast<std::size_t>(n)] = pollfd{m_wakeFd, POLLIN, 0};
        if (poll(fds.data(), static_cast<nfds_t>(n) + 1, kPollMs) > 0 && n > 0) {
            // Lets the PCM (or its plugin) consume its wake-ups.
            unsigned short revents = 0;
            snd_pcm_poll_descriptors_revents(m_pcm, fds.data(), static_cast<unsigned>(n), &revents);
        }
        std::uint64_t drained;
        if (read(m_wakeFd, &drained, sizeof drained) < 0) drained = 0;
    }
}

void CAlsaPcmThread::Capture() {
    for (;;) {
        snd_pcm_sframes_t got = snd_pcm_readi(m_pcm, m_scratch.data(), m_periodFrames);
        if (got == -EAGAIN || got == 0) return;
        if (got < 0) {
            // Overrun (or a suspend): the samples of the gap are lost, as on hardware.
            if (snd_pcm_recover(m_pcm, static_cast<int>(got), 1) < 0) snd_pcm_prepare(m_pcm);
            snd_pcm_start(m_pcm);
            return;
        }
        std::size_t bytes = static_cast<std::size_t>(got) * m_frameBytes;
        std::size_t used = 0;
        while (used < bytes && !m_queue.empty()) {
            Entry& front = m_queue.front();
            std::size_t room = front.header->dwBufferLength - front.done;
            std::size_t take = std::min(room, bytes - used);
            std::memcpy(front.header->lpData + front.done, m_scratch.data() + used, take);
            front.done += static_cast<std::uint32_t>(take);
            used += take;
            if (front.done >= front.header->dwBufferLength) ReturnFront();
        }
    }
}

void CAlsaPcmThread::Playback() {
    for (Entry& entry : m_queue) {
        std::uint32_t length = entry.header->dwBufferLength;
        if (entry.done >= length) continue;
        std::uint32_t frames = (length - entry.done) / m_frameBytes;
        if (frames == 0) {
            // A partial frame at the end cannot be played.
            entry.done = length;
            entry.endFrame = m_streamFrames;
            continue;
        }
        snd_pcm_sframes_t put = snd_pcm_writei(m_pcm, entry.header->lpData + entry.done, frames);
        if (put == -EAGAIN) break;
        if (put < 0) {
            // An underrun: everything handed over has been played; go on after it.
            if (snd_pcm_recover(m_pcm, static_cast<int>(put), 1) < 0) snd_pcm_prepare(m_pcm);
            break;
        }
        entry.done += static_cast<std::uint32_t>(put) * m_frameBytes;
        m_streamFrames += static_cast<std::uint64_t>(put);
        if (length - entry.done < m_frameBytes) {
            entry.done = length;
            entry.endFrame = m_streamFrames;
        }
        if (static_cast<std::uint32_t>(put) < frames) break;
    }
    bool allHanded = std::all_of(m_queue.begin(), m_queue.end(),
                                 [](const Entry& e) { return e.done >= e.header->dwBufferLength; });
    snd_pcm_state_t state = snd_pcm_state(m_pcm);
    if (state == SND_PCM_STATE_PREPARED && allHanded) snd_pcm_start(m_pcm);

    // After an underrun everything handed over has been played (some PCMs still report the
    // delay from before it).
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_avail_update(m_pcm) < 0 || snd_pcm_state(m_pcm) == SND_PCM_STATE_XRUN) {
        snd_pcm_prepare(m_pcm);
    } else if (snd_pcm_delay(m_pcm, &delay) < 0 || delay < 0) {
        delay = 0;
        if (snd_pcm_state(m_pcm) == SND_PCM_STATE_XRUN) snd_pcm_prepare(m_pcm);
    }
    std::uint64_t played =
        m_streamFrames - std::min<std::uint64_t>(m_streamFrames, static_cast<std::uint64_t>(delay));
    while (!m_queue.empty() && m_queue.front().done >= m_queue.front().header->dwBufferLength &&
           played >= m_queue.front().endFrame)
        ReturnFront();
}

}  // namespace vexa::platform
