#include "audio/CVolumeInXXX.h"

#include <vector>

#include "platform/audio/IWaveDevices.h"

namespace vexa {

using namespace platform;

CVolumeInXXX* g_pVolumeIn = nullptr;

void CVolumeInXXX::CMsgWnd::OnMessage(std::uint32_t msg, std::uintptr_t, std::intptr_t lParam) {
    if (msg == MM_MIXM_CONTROL_CHANGE && g_pVolumeIn != nullptr)
        g_pVolumeIn->OnControlChange(static_cast<std::uint32_t>(lParam));
}

CVolumeInXXX::CVolumeInXXX(std::uint32_t waveInId) : m_uWaveInId(waveInId) {
    m_bOpen = OpenMixer();
    if (m_bOpen) {
        g_pVolumeIn = this;
        if (!InitControls()) {
            CloseMixer();
            g_pVolumeIn = nullptr;
        }
    }
}

CVolumeInXXX::~CVolumeInXXX() {
    if (m_bOpen) CloseMixer();
    g_pVolumeIn = nullptr;
}

bool CVolumeInXXX::OpenMixer() {
    if (MixerDevices().MixerCount() == 0) return false;
    WAVEFORMATEX probe{};
    probe.wFormatTag = WAVE_FORMAT_PCM;
    probe.nChannels = 1;
    probe.nSamplesPerSec = 22050;
    probe.nAvgBytesPerSec = 44100;
    probe.nBlockAlign = 2;
    probe.wBitsPerSample = 16;
    probe.cbSize = 0;
    std::unique_ptr<IWaveIn> waveIn;
    if (WaveDevices().OpenWaveIn(m_uWaveInId, probe, 0, waveIn) != MMSYSERR_NOERROR || !waveIn)
        return false;
    MMRESULT rc = waveIn->GetMixerId(m_uMixerId);
    waveIn->Close();
    waveIn.reset();
    if (rc != MMSYSERR_NOERROR) return false;

    m_hMsgWnd = UiLoop().AddTarget(&m_msgWnd);
    if (m_hMsgWnd == 0) return false;
    if (MixerDevices().Open(m_uMixerId, m_hMsgWnd, m_hMixer) != MMSYSERR_NOERROR || !m_hMixer) {
        m_hMixer.reset();
        UiLoop().RemoveTarget(m_hMsgWnd);
        m_hMsgWnd = 0;
        return false;
    }
    return true;
}

bool CVolumeInXXX::InitControls() {
    if (!m_bOpen || !m_hMixer) return false;
    MixerLine destination;
    if (m_hMixer->GetDestinationLine(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, destination) !=
            MMSYSERR_NOERROR ||
        destination.cConnections == 0)
        return false;
    MixerLine source;
    if (m_hMixer->GetSourceLine(destination.dwDestination, 0, source) != MMSYSERR_NOERROR)
        return false;
    MixerControl control;
    if (m_hMixer->GetLineControlByType(source.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, control) ==
            MMSYSERR_NOERROR &&
        (control.fdwControl & MIXERCONTROL_CONTROLF_DISABLED) == 0)
        m_bAvailable = true;
    m_dwLineId = source.dwLineID;
    m_dwChannels = source.cChannels;
    m_dwControlId = control.dwControlID;
    m_dwMinimum = control.dwMinimum;
    m_dwMaximum = control.dwMaximum;
    m_dwSteps = control.cSteps;
    m_nSelectIndex = 0;
    m_bReady = true;
    return true;
}

void CVolumeInXXX::CloseMixer() {
    m_hMixer.reset();
    if (m_hMsgWnd != 0) {
        UiLoop().RemoveTarget(m_hMsgWnd);
        m_hMsgWnd = 0;
    }
    m_bReady = false;
    m_bOpen = false;
}

bool CVolumeInXXX::IsAvailable() {
    return m_bAvailable;
}

void CVolumeInXXX::NoOperation() {}

int CVolumeInXXX::GetSteps() {
    return IsAvailable() ? static_cast<int>(m_dwSteps) : -1;
}

int CVolumeInXXX::GetMinimum() {
    return IsAvailable() ? static_cast<int>(m_dwMinimum) : -1;
}

int CVolumeInXXX::GetMaximum() {
    return IsAvailable() ? static_cast<int>(m_dwMaximum) : -1;
}

int CVolumeInXXX::GetVolume() {
    // After a failed open the control id means nothing: there is no mixer to ask.
    if (!IsAvailable() || !m_hMixer) return -1;
    std::vector<std::uint32_t> values;
    if (m_hMixer->GetControlDetails(m_dwControlId, m_dwChannels, 0, values) != MMSYSERR_NOERROR ||
        values.empty())
        return -1;
    return static_cast<int>(values[0]);
}

void CVolumeInXXX::SetVolume(std::uint32_t value) {
    if (!IsAvailable() || !m_hMixer || value < m_dwMinimum || value > m_dwMaximum) return;
    std::vector<std::uint32_t> values(m_dwChannels == 0 ? 1 : m_dwChannels, value);
    m_hMixer->SetControlDetails(m_dwControlId, m_dwChannels, 0, values);
}

void CVolumeInXXX::SetNotify(VolumeNotify callback, std::uintptr_t context) {
    m_pfnVolumeNotify = callback;
    m_pVolumeContext = context;
}

void CVolumeInXXX::ApplyInputSelection() {
    if (!m_bReady || !IsAvailable() || !m_hMixer) return;
    MixerLine destination;
    if (m_hMixer->GetDestinationLine(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, destination) !=
        MMSYSERR_NOERROR)
        return;
    std::vector<MixerControl> controls;
    if (m_hMixer->GetLineControls(destination.dwLineID, controls) != MMSYSERR_NOERROR) return;
    for (const MixerControl& control : controls) {
        if ((control.dwControlType & MIXERCONTROL_CT_UNITS_MASK) != MIXERCONTROL_CT_UNITS_BOOLEAN)
            continue;
        std::uint32_t channels =
            (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : destination.cChannels;
        if (channels == 0) channels = 1;
        if (control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) {
            // Channel-major: every channel gets the same selection.
            std::uint32_t items = control.cMultipleItems;
            std::vector<std::uint32_t> values(std::size_t{channels} * items, 0);
            for (std::uint32_t c = 0; c < channels; ++c) {
                for (std::uint32_t i = 0; i < items; ++i)
                    values[std::size_t{c} * items + i] =
                        static_cast<int>(i) == m_nSelectIndex ? 1 : 0;
            }
            m_hMixer->SetControlDetails(control.dwControlID, channels, items, values);
        } else {
            std::vector<std::uint32_t> values(channels, 1);
            m_hMixer->SetControlDetails(control.dwControlID, channels, 0, values);
        }
    }
}

void CVolumeInXXX::OnControlChange(std::uint32_t controlId) {
    if (g_pVolumeIn == nullptr || controlId != g_pVolumeIn->m_dwControlId) return;
    int volume = GetVolume();
    if (volume != -1 && m_pfnVolumeNotify != nullptr) m_pfnVolumeNotify(volume, m_pVolumeContext);
}

}  // namespace vexa
