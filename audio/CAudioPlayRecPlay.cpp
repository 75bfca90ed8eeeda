#include <chrono>
#include <thread>

#include "audio/CAudioPlayRec.h"
#include "platform/core/MessageBox.h"

namespace vexa {

using platform::MMRESULT;
using platform::MMSYSERR_NOERROR;
using platform::WAVEHDR;

namespace {
constexpr int kOutputClosePauseMs = 100;
}

bool CAudioPlayRec::Play() {
    m_bRecording = false;
    if (m_nState != Ready) {
        platform::ShowMessageBox("Class status error");
        return false;
    }
    if (!OpenPlaybackFile()) return false;
    m_nQueued = 0;

    // Releases what a failed start holds, so that the next Play starts afresh.
    auto abandon = [this]() {
        if (m_hWaveOut) {
            m_hWaveOut->Reset();
            m_hWaveOut->Close();
            m_hWaveOut.reset();
        }
        m_nQueued = 0;
        if (m_hWaveFile[0]) {
            m_hWaveFile[0]->Close();
            m_hWaveFile[0].reset();
        }
        FreeBuffers();
    };

    MMRESULT rc = platform::WaveDevices().OpenWaveOut(m_nDeviceId, m_wfx, m_hWnd, m_hWaveOut);
    if (rc != MMSYSERR_NOERROR || !m_hWaveOut) {
        m_hWaveOut.reset();
        ReportWaveError("waveOutOpen() failed",
                        rc != MMSYSERR_NOERROR ? rc : platform::MMSYSERR_ERROR);
        abandon();
        return false;
    }
    m_uWaveOutSerial = m_hWaveOut->Serial();

    for (int i = 0; i < m_wBufferCount; ++i) {
        std::uint32_t length = m_dwBufferSize;
        if (!ReadPlaybackData(m_ppBuffers[i].get(), length)) {
            if (i == 0) {
                platform::ShowMessageBox("Read sound data from file failed");
                abandon();
                return false;
            }
            break;
        }
        if (!QueueOutputBuffer(i, length)) {
            abandon();
            return false;
        }
    }
    m_nState = Playing;
    return true;
}

bool CAudioPlayRec::ReadPlaybackData(std::uint8_t* buffer, std::uint32_t& length) {
    std::int32_t got = m_hWaveFile[0] ? m_hWaveFile[0]->Read(buffer, length) : -1;
    length = got > 0 ? static_cast<std::uint32_t>(got) : 0;
    return got > 0;
}

bool CAudioPlayRec::QueueOutputBuffer(int index, std::uint32_t length) {
    WAVEHDR* header = m_ppHeaders[index].get();
    *header = WAVEHDR{};
    header->lpData = m_ppBuffers[index].get();
    header->dwBufferLength = length;
    header->dwUser = static_cast<std::uintptr_t>(index);
    MMRESULT rc = m_hWaveOut->PrepareHeader(header);
    if (rc != MMSYSERR_NOERROR) {
        ReportWaveError("waveOutPrepareHeader() failed", rc);
        return false;
    }
    rc = m_hWaveOut->Write(header);
    if (rc != MMSYSERR_NOERROR) {
        ReportWaveError("waveOutWrite() failed", rc);
        return false;
    }
    ++m_nQueued;
    std::uint32_t n = SplitChannels(m_wfx.wBitsPerSample, header->lpData, length);
    DrawWave(n);
    return true;
}

void CAudioPlayRec::OnOutputBufferDone(WAVEHDR* header) {
    MMRESULT rc = m_hWaveOut->UnprepareHeader(header);
    if (rc != MMSYSERR_NOERROR) {
        ReportWaveError("waveOutUnprepareHeader() failed", rc);
        return;
    }
    --m_nQueued;
    if (m_nState == Playing) {
        auto index = static_cast<int>(header->dwUser);
        std::uint32_t length = m_dwBufferSize;
        if (index < m_wBufferCount && ReadPlaybackData(m_ppBuffers[index].get(), length)) {
            const std::uintptr_t serial = m_uWaveOutSerial;
            if (QueueOutputBuffer(index, length)) return;
            // Its message box let the loop run: the playback may have ended (or another begun)
            // meanwhile, and is then not this call's to end.
            if (!m_hWaveOut || m_hWaveOut->Serial() != serial || m_nState != Playing) return;
            if (m_nQueued > 0) return;
        }
        // The end of the data: the buffers still queued hold its last part, so they play out
        // (no reset); the last one back closes the device, the timer is the fallback.
        std::uint64_t ringMs =
            m_wfx.nAvgBytesPerSec == 0
                ? 0
                : std::uint64_t{m_dwBufferSize} * m_wBufferCount * 1000 / m_wfx.nAvgBytesPerSec;
        platform::UiLoop().SetTimer(m_hWnd, TIMER_PLAYBACK_STOP,
                                    kStopTimerMs + static_cast<std::uint32_t>(ringMs));
        InvalidateScope(false);
        m_nState = Stopping;
    }
    if (m_nQueued == 0 && m_nState != Playing) ClosePlayback();
}

void CAudioPlayRec::ClosePlayback() {
    if (!m_hWaveOut || (m_nState != Playing && m_nState != Stopping)) return;
    platform::UiLoop().KillTimer(m_hWnd, TIMER_PLAYBACK_STOP);
    // Out of the member first, so that buffers dispatched during a message box find the
    // playback closed.
    std::unique_ptr<platform::IWaveOut> device = std::move(m_hWaveOut);
    device->Pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(kOutputClosePauseMs));
    // Buffers still out (the timer came first) must be back before the device can close.
    if (m_nQueued > 0) device->Reset();
    MMRESULT rc = device->Close();
    device.reset();
    m_nQueued = 0;
    if (m_hWaveFile[0]) {
        m_hWaveFile[0]->Close();
        m_hWaveFile[0].reset();
    }
    m_nState = Ready;
    if (rc != MMSYSERR_NOERROR) ReportWaveError("waveOutClose() failed", rc);
}

}  // namespace vexa
