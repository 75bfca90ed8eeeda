// The I/O thread of one open ALSA PCM with its queue of wave buffers: the base of the wave-in and
// wave-out devices. Only this thread calls ALSA for the PCM after it is open; the UI thread's
// requests (start, reset, pause, close) are handed to it and waited for.
#pragma once

#include <alsa/asoundlib.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/WaveTypes.h"
#include "platform/core/UiLoop.h"

namespace vexa::platform {

class CAlsaPcmThread {
  public:
    CAlsaPcmThread(bool input, WindowHandle notify);
    virtual ~CAlsaPcmThread();
    CAlsaPcmThread(const CAlsaPcmThread&) = delete;
    CAlsaPcmThread& operator=(const CAlsaPcmThread&) = delete;

    MMRESULT Open(const std::string& pcm, const WAVEFORMATEX& format);
    std::uintptr_t Serial() const { return m_serial; }
    MMRESULT Prepare(WAVEHDR* header);
    MMRESULT Unprepare(WAVEHDR* header);
    MMRESULT Queue(WAVEHDR* header);
    MMRESULT Start();
    MMRESULT Pause();
    MMRESULT Reset();
    MMRESULT Close();
    int Card() const { return m_card; }

  private:
    enum class Command { None, Start, Pause, Reset, Quit };
    struct Entry {
        WAVEHDR* header;
        std::uint32_t done;      // bytes captured into it, or bytes handed to ALSA
        std::uint64_t endFrame;  // playback: stream frame at which its last byte is played
    };

    void Run();
    void RunCommand(Command command);
    void Capture();
    void Playback();
    void ReturnFront();
    void ReturnAll();
    void Post(std::uint32_t msg, std::intptr_t lParam);
    MMRESULT Request(Command command);
    void Wake();

    const bool m_input;
    const WindowHandle m_notify;
    const std::uintptr_t m_serial;
    snd_pcm_t* m_pcm = nullptr;
    int m_card = -1;
    unsigned m_frameBytes = 0;
    snd_pcm_uframes_t m_periodFrames = 0;
    int m_wakeFd = -1;
    std::thread m_thread;

    std::mutex m_lock;
    std::condition_variable m_changed;
    Command m_command = Command::None;
    bool m_commandDone = false;
    bool m_running = false;
    bool m_closed = false;
    std::deque<Entry> m_queue;
    std::vector<WAVEHDR*> m_returned;  // back to the owner, posted once the lock is released
    std::vector<std::uint8_t> m_scratch;
    bool m_paused = false;
    std::uint64_t m_streamFrames = 0;  // playback: frames handed to ALSA since the last reset
};

}  // namespace vexa::platform
