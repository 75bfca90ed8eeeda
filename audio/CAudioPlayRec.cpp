#include "audio/CAudioPlayRec.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/core/MessageBox.h"
#include "platform/core/Paths.h"

namespace vexa {

using platform::MMRESULT;
using platform::MMSYSERR_NOERROR;
using platform::WAVEHDR;

namespace {

constexpr std::uint32_t kCaptureRate = 22050;
constexpr std::uint16_t kCaptureBits = 16;
constexpr std::uint32_t kCreatedBufferSize = 4096;
constexpr int kInputResetPauseMs = 10;
constexpr std::size_t kErrorTextChars = 100;
// A format whose buffer count would exceed this is not a sound file we can play.
constexpr std::uint32_t kMaxBufferCount = 256;

void NoNotify(std::uint32_t, void*) {}

bool SameTextIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

CAudioPlayRec::CAudioPlayRec() {
    SetBackColor(0);
}

CAudioPlayRec::~CAudioPlayRec() {
    CloseAll();
    m_pScope.reset();
    if (m_hWnd != 0) {
        platform::UiLoop().RemoveTarget(m_hWnd);
        m_hWnd = 0;
    }
}

std::string CAudioPlayRec::RecordingPath(const std::string& name) {
    if (!name.empty() && name[0] == '/') return name;
    return platform::StateFolder() + "/" + name;
}

void CAudioPlayRec::SetNotify(NotifyProc proc, void* context) {
    m_pfnNotify = proc;
    m_pNotifyContext = context;
}

bool CAudioPlayRec::Create(std::uint32_t deviceId, platform::WindowHandle parent, void* owner) {
    SelectDevice(deviceId);
    if (deviceId != platform::WAVE_MAPPER) {
        auto& devices = platform::WaveDevices();
        if (deviceId >= devices.WaveInCount() || deviceId >= devices.WaveOutCount()) {
            platform::ShowMessageBox("Error audio device");
            return false;
        }
    }
    m_dwBufferSize = kCreatedBufferSize;
    m_pfnNotify = NoNotify;
    m_pNotifyContext = owner;
    if (m_hWnd == 0) {
        if (!CreateEngineWindow() || !CreateScopeWindow(parent)) {
            platform::ShowMessageBox("Create window failed");
            return false;
        }
    }
    m_nState = Ready;
    return true;
}

bool CAudioPlayRec::CreateEngineWindow() {
    m_hWnd = platform::UiLoop().AddTarget(this);
    return m_hWnd != 0;
}

void CAudioPlayRec::SelectDevice(std::uint32_t deviceId) {
    CloseAll();
    m_nDeviceId = deviceId;
    std::string name;
    if (platform::WaveDevices().WaveInName(deviceId, name) != MMSYSERR_NOERROR) name.clear();
    m_strDeviceName = name;
    if (m_hWnd != 0) InvalidateScope(true);
}

bool CAudioPlayRec::StartRecording(int channelMode) {
    if (m_nState == Recording) return true;
    m_bRecording = true;
    if (m_nState != Ready) {
        platform::ShowMessageBox("Class status error");
        return false;
    }
    ResetEncoder();
    SetCaptureFormat(channelMode);
    if (!PrepareBuffers()) return false;
    m_nQueued = 0;

    MMRESULT rc = platform::WaveDevices().OpenWaveIn(m_nDeviceId, m_wfx, m_hWnd, m_hWaveIn);
    if (rc != MMSYSERR_NOERROR || !m_hWaveIn) {
        m_hWaveIn.reset();
        ReportWaveError("waveInOpen()", rc != MMSYSERR_NOERROR ? rc : platform::MMSYSERR_ERROR);
        FreeBuffers();
        return false;
    }
    m_uWaveInSerial = m_hWaveIn->Serial();
    for (int i = 0; i < m_wBufferCount; ++i) AddInputBufferToQueue(i);

    rc = m_hWaveIn->Start();
    if (rc != MMSYSERR_NOERROR) {
        ReportWaveError("waveInStart() failed", rc);
        // Nothing else would ever close this device: take the buffers back and close it, so
        // the buffer set is free again and the next start finds the device available.
        m_hWaveIn->Reset();
        m_hWaveIn->Close();
        m_hWaveIn.reset();
        m_nQueued = 0;
        FreeBuffers();
        return false;
    }
    m_nState = Recording;
    return true;
}

void CAudioPlayRec::SetCaptureFormat(int channelMode) {
    m_nChannelMode = channelMode;
    m_wfx = {};
    m_wfx.wFormatTag = platform::WAVE_FORMAT_PCM;
    m_wfx.nChannels = channelMode == 0 ? 1 : 2;
    m_wfx.nSamplesPerSec = kCaptureRate;
    m_wfx.wBitsPerSample = kCaptureBits;
    m_wfx.nBlockAlign = static_cast<std::uint16_t>(m_wfx.nChannels * 2);
    m_wfx.nAvgBytesPerSec = kCaptureRate * m_wfx.nBlockAlign;
    m_wfx.cbSize = 0;
}

bool CAudioPlayRec::PrepareBuffers() {
    // No device holds any buffer of the previous set at this point.
    m_ppBuffers.clear();
    m_ppHeaders.clear();
    m_pLeft.reset();
    m_pRight.reset();
    m_wBufferCount = 0;

    if (m_wfx.nChannels == 0 || m_wfx.wBitsPerSample < 8) return false;
    std::uint32_t count = m_wfx.wBitsPerSample / 8u + m_wfx.nSamplesPerSec / 11025u +
                          static_cast<std::uint32_t>(m_wfx.nChannels);
    if (count > kMaxBufferCount) return false;

    m_wBufferCount = static_cast<std::uint16_t>(count);
    m_ppBuffers.resize(m_wBufferCount);
    m_ppHeaders.resize(m_wBufferCount);
    for (int i = 0; i < m_wBufferCount; ++i) {
        m_ppBuffers[i] = std::make_unique<std::uint8_t[]>(m_dwBufferSize);
        m_ppHeaders[i] = std::make_unique<WAVEHDR>();
    }
    m_pLeft = std::make_unique<std::uint8_t[]>(m_dwBufferSize);
    m_pRight = std::make_unique<std::uint8_t[]>(m_dwBufferSize);
    return true;
}

bool CAudioPlayRec::HasAnyOutputOpen() const {
    for (int track = 0; track < kTracks; ++track) {
        if (m_hWaveFile[track] || m_pMp3File[track] != nullptr) return true;
    }
    return false;
}

void CAudioPlayRec::FreeBuffers() {
    if (HasAnyOutputOpen()) return;
    m_ppBuffers.clear();
    m_ppHeaders.clear();
    m_pLeft.reset();
    m_pRight.reset();
    m_wBufferCount = 0;
}

bool CAudioPlayRec::AddInputBufferToQueue(int index) {
    WAVEHDR* header = m_ppHeaders[index].get();
    *header = WAVEHDR{};
    header->lpData = m_ppBuffers[index].get();
    header->dwBufferLength = m_dwBufferSize;
    MMRESULT rc = m_hWaveIn->PrepareHeader(header);
    if (rc != MMSYSERR_NOERROR) {
        ReportWaveError("AddInputBufferToQueue Failed", rc);
        return false;
    }
    rc = m_hWaveIn->AddBuffer(header);
    if (rc != MMSYSERR_NOERROR) {
        ReportWaveError("waveInAddBuffer() failed", rc);
        return false;
    }
    ++m_nQueued;
    return true;
}

bool CAudioPlayRec::OpenOutput(int track, const std::string& name) {
    if (track < 0 || track >= kTracks) return false;
    // The name is taken in lower case; a folder in front of it is kept as given.
    std::string lower = name;
    std::size_t base = lower.rfind('/');
    base = base == std::string::npos ? 0 : base + 1;
    std::transform(lower.begin() + static_cast<std::ptrdiff_t>(base), lower.end(),
                   lower.begin() + static_cast<std::ptrdiff_t>(base),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::size_t mp3 = lower.find(".mp3");
    bool isMp3 = mp3 != std::string::npos && mp3 + 4 == lower.size();
    std::string path = RecordingPath(lower);
    if (isMp3 && m_wfx.wBitsPerSample == 8) {
        platform::ShowMessageBox("Cannot record 8 bits mp3");
        return false;
    }
    // Outputs are finished when their capture closes: one opened without a capture would stay
    // open unfinished, and the next capture would write into it under another format's header.
    if (!m_hWaveIn) {
        platform::ShowMessageBox("Class status error");
        return false;
    }
    if (isMp3) return LoadEncoder() && OpenMp3Stream(track, path);
    return CreateWaveFile(path, track);
}

void CAudioPlayRec::OnInputBufferDone(WAVEHDR* header) {
    MMRESULT rc = m_hWaveIn->UnprepareHeader(header);
    if (rc != MMSYSERR_NOERROR) {
        ReportWaveError("waveInUnprepareHeader() failed", rc);
        return;
    }
    if (m_nState != Recording) {
        if (m_nQueued == 1) {
            CloseRecording();
        } else {
            --m_nQueued;
        }
        return;
    }

    std::uint32_t recorded = std::min(header->dwBytesRecorded, m_dwBufferSize);
    std::uint32_t n = SplitChannels(m_wfx.wBitsPerSample, header->lpData, recorded);
    const std::uint8_t* data[kTracks];
    std::uint32_t length[kTracks];
    if (m_nChannelMode == 2) {
        data[0] = m_pLeft.get();
        data[1] = m_pRight.get();
        length[0] = length[1] = n;
    } else {
        data[0] = data[1] = header->lpData;
        length[0] = length[1] = recorded;
    }

    for (int track = 0; track < kTracks; ++track) {
        if (!m_hWaveFile[track]) continue;
        std::int32_t written = m_hWaveFile[track]->Write(data[track], length[track]);
        if (written < 0 || static_cast<std::uint32_t>(written) < length[track]) {
            Stop();
            --m_nQueued;
            platform::ShowMessageBox("Write file failed");
            return;
        }
        KeepWaveSizesCurrent(track);
    }
    // An encoder message box lets the loop run: the capture may be closed meanwhile (and another
    // one started), and this buffer and its data released with it.
    const std::uintptr_t serial = m_uWaveInSerial;
    auto captureGone = [&] { return !m_hWaveIn || m_hWaveIn->Serial() != serial; };
    for (int track = 0; track < kTracks; ++track) {
        if (m_hLameDll != nullptr && m_pMp3File[track] != nullptr)
            StageMp3Data(track, data[track], length[track]);
        if (captureGone()) return;
    }

    rc = m_hWaveIn->PrepareHeader(header);
    if (rc != MMSYSERR_NOERROR) {
        ReportWaveError("waveInPrepareHeader() failed", rc);
        return;
    }
    rc = m_hWaveIn->AddBuffer(header);
    if (rc != MMSYSERR_NOERROR) {
        ReportWaveError("waveInAddBuffer() failed", rc);
        return;
    }
    DrawWave(n);
}

std::uint32_t CAudioPlayRec::SplitChannels(std::uint16_t bitsPerSample, const std::uint8_t* data,
                                           std::uint32_t length) {
    if (!m_pLeft || !m_pRight) return 0;
    length = std::min(length, m_dwBufferSize);
    if (m_wfx.nChannels <= 1) {
        std::memcpy(m_pLeft.get(), data, length);
        std::memcpy(m_pRight.get(), data, length);
        return length;
    }
    std::uint32_t b = bitsPerSample / 8u;
    if (b == 0) return 0;
    std::uint32_t frame = b * m_wfx.nChannels;
    std::uint32_t out = 0;
    for (std::uint32_t pos = 0; pos + frame <= length; pos += frame) {
        std::memcpy(m_pLeft.get() + out, data + pos, b);
        std::memcpy(m_pRight.get() + out, data + pos + b, b);
        out += b;
    }
    return out;
}

void CAudioPlayRec::Stop() {
    std::uintptr_t timer;
    if (m_nState == Playing) {
        if (m_hWaveOut) {
            MMRESULT rc = m_hWaveOut->Reset();
            if (rc != MMSYSERR_NOERROR) ReportWaveError("waveOutReset() failed", rc);
        }
        timer = TIMER_PLAYBACK_STOP;
    } else if (m_nState == Recording) {
        timer = TIMER_CAPTURE_STOP;
    } else {
        return;
    }
    platform::UiLoop().SetTimer(m_hWnd, timer, kStopTimerMs);
    InvalidateScope(false);
    m_nState = Stopping;
}

void CAudioPlayRec::OnTimer(std::uintptr_t id) {
    if (id == TIMER_CAPTURE_STOP) {
        platform::UiLoop().KillTimer(m_hWnd, TIMER_CAPTURE_STOP);
        CloseRecording();
    } else if (id == TIMER_PLAYBACK_STOP) {
        platform::UiLoop().KillTimer(m_hWnd, TIMER_PLAYBACK_STOP);
        ClosePlayback();
    }
}

void CAudioPlayRec::CloseRecording() {
    if (!m_hWaveIn || (m_nState != Recording && m_nState != Stopping)) return;
    // A stop timer still running would otherwise close the next capture.
    platform::UiLoop().KillTimer(m_hWnd, TIMER_CAPTURE_STOP);
    // Taken out of the member first: a message box below may dispatch this device's late
    // buffers, which must then find the capture closed instead of closing it a second time.
    std::unique_ptr<platform::IWaveIn> device = std::move(m_hWaveIn);
    MMRESULT rc = device->Reset();
    if (rc != MMSYSERR_NOERROR) ReportWaveError("waveInReset() failed", rc);
    SleepMs(kInputResetPauseMs);
    for (int track = 0; track < kTracks; ++track) {
        CloseOutput("mp3", track);
        CloseOutput("wav", track);
    }
    rc = device->Close();
    device.reset();
    if (rc != MMSYSERR_NOERROR) {
        ReportWaveError("waveInClose() failed", rc);
        // No close notification follows a failed close; without this the engine would wait in
        // Stopping for good.
        m_nQueued = 0;
        m_bRecording = false;
        m_nState = Ready;
    }
    UnloadEncoder();
}

void CAudioPlayRec::CloseOutput(const char* kind, int track) {
    if (SameTextIgnoringCase(kind, "wav")) {
        if (m_hWaveFile[track]) FinishWaveFile(track);
    } else if (SameTextIgnoringCase(kind, "mp3")) {
        if (m_hLameDll != nullptr) FinishMp3Stream(track);
    }
}

void CAudioPlayRec::CloseAll() {
    if (m_hWaveIn) CloseRecording();
    if (m_hWaveOut) ClosePlayback();
    FreeBuffers();
}

void CAudioPlayRec::ReportWaveError(const char* text, MMRESULT code) {
    std::string driverText = m_bRecording ? platform::WaveDevices().WaveInErrorText(code)
                                          : platform::WaveDevices().WaveOutErrorText(code);
    if (driverText.size() >= kErrorTextChars) driverText.resize(kErrorTextChars - 1);
    char message[kErrorTextChars * 2 + 64];
    std::snprintf(message, sizeof message, "WAVEIN:%x:%s %s", code, driverText.c_str(), text);
    platform::ShowMessageBox(message);
}

void CAudioPlayRec::OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
    if (msg == platform::WM_TIMER) {
        OnTimer(wParam);
        return;
    }
    PreTranslateWaveMessage(msg, wParam, lParam);
}

bool CAudioPlayRec::PreTranslateWaveMessage(std::uint32_t msg, std::uintptr_t wParam,
                                            std::intptr_t lParam) {
    if (msg < platform::MM_WOM_OPEN || msg > platform::MM_MOM_DONE) return false;
    // Finds the returned header among ours; a message of a closed device finds nothing.
    auto ownHeader = [&](bool input) -> WAVEHDR* {
        bool current = input ? (m_hWaveIn && m_hWaveIn->Serial() == wParam)
                             : (m_hWaveOut && m_hWaveOut->Serial() == wParam);
        if (!current) return nullptr;
        auto* header = reinterpret_cast<WAVEHDR*>(lParam);
        for (const auto& own : m_ppHeaders) {
            if (own.get() == header) return header;
        }
        return nullptr;
    };
    // A close notification changes the state only while no device runs: a capture or playback
    // started before the notification arrived keeps its state.
    bool idleDevices = !m_hWaveIn && !m_hWaveOut && m_nState != Idle;
    switch (msg) {
        case platform::MM_WOM_CLOSE:
            if (wParam == m_uWaveOutSerial && idleDevices) {
                m_bRecording = false;
                m_nState = Ready;
            }
            break;
        case platform::MM_WOM_DONE:
            if (WAVEHDR* header = ownHeader(false)) OnOutputBufferDone(header);
            break;
        case platform::MM_WIM_CLOSE:
            if (wParam == m_uWaveInSerial && idleDevices) {
                m_nQueued = 0;
                m_bRecording = false;
                m_nState = Ready;
            }
            break;
        case platform::MM_WIM_DATA:
            if (WAVEHDR* header = ownHeader(true)) OnInputBufferDone(header);
            break;
        default:
            break;
    }
    if (m_pfnNotify != nullptr) m_pfnNotify(msg, m_pNotifyContext);
    return false;
}

}  // namespace vexa
