#include "platform/alsa/CAlsaMixer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>

#include "platform/alsa/CAlsaMixerDevices.h"
#include "platform/core/UiLoop.h"

namespace vexa::platform {

namespace {

constexpr std::uint32_t kDestinationLine = 0xFFFF0000u;
constexpr std::uint32_t kSourceLine = 1;

snd_mixer_selem_channel_id_t Channel(std::uint32_t index) {
    return static_cast<snd_mixer_selem_channel_id_t>(index);
}

}  // namespace

CAlsaMixer::CAlsaMixer(WindowHandle notify) : m_notify(notify) {}

CAlsaMixer::~CAlsaMixer() {
    if (m_watcher.joinable()) {
        std::uint64_t one = 1;
        ssize_t n = write(m_stopFd, &one, sizeof one);
        (void)n;
        m_watcher.join();
    }
    if (m_stopFd >= 0) close(m_stopFd);
    if (m_mixer != nullptr) snd_mixer_close(m_mixer);
}

MMRESULT CAlsaMixer::Open(const std::string& ctl) {
    if (snd_mixer_open(&m_mixer, 0) < 0) {
        m_mixer = nullptr;
        return MMSYSERR_NOMEM;
    }
    if (snd_mixer_attach(m_mixer, ctl.c_str()) < 0 ||
        snd_mixer_selem_register(m_mixer, nullptr, nullptr) < 0 || snd_mixer_load(m_mixer) < 0)
        return MMSYSERR_NODRIVER;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(m_mixer); e != nullptr;
         e = snd_mixer_elem_next(e)) {
        if (snd_mixer_selem_has_capture_volume(e)) {
            // "Capture" is the card's main recording level; otherwise the first one there is.
            if (m_capture == nullptr || std::strcmp(snd_mixer_selem_get_name(e), "Capture") == 0)
                m_capture = e;
        }
        if (m_source == nullptr && snd_mixer_selem_is_enumerated(e) &&
            snd_mixer_selem_is_enum_capture(e))
            m_source = e;
    }
    if (m_capture != nullptr) {
        snd_mixer_selem_get_capture_volume_range(m_capture, &m_min, &m_max);
        snd_mixer_elem_set_callback(m_capture, &CAlsaMixer::OnElementEvent);
        snd_mixer_elem_set_callback_private(m_capture, this);
    }
    if (m_source != nullptr) {
        snd_mixer_elem_set_callback(m_source, &CAlsaMixer::OnElementEvent);
        snd_mixer_elem_set_callback_private(m_source, this);
    }
    if (m_notify != 0) {
        m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_stopFd >= 0) m_watcher = std::thread([this] { Watch(); });
    }
    return MMSYSERR_NOERROR;
}

int CAlsaMixer::OnElementEvent(snd_mixer_elem_t* elem, unsigned int mask) {
    auto* self = static_cast<CAlsaMixer*>(snd_mixer_elem_get_callback_private(elem));
    if (self == nullptr || (mask & SND_CTL_EVENT_MASK_VALUE) == 0) return 0;
    if (elem == self->m_capture) {
        self->m_changes.push_back(CAlsaMixerDevices::kVolumeControl);
        if (snd_mixer_selem_has_capture_switch(elem))
            self->m_changes.push_back(CAlsaMixerDevices::kSwitchControl);
    } else if (elem == self->m_source) {
        self->m_changes.push_back(CAlsaMixerDevices::kSourceControl);
    }
    return 0;
}

void CAlsaMixer::Watch() {
    std::vector<std::uint32_t> changes;
    for (;;) {
        std::vector<pollfd> fds;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            int count = snd_mixer_poll_descriptors_count(m_mixer);
            fds.resize(static_cast<std::size_t>(count > 0 ? count : 0) + 1);
            int n = count > 0 ? snd_mixer_poll_descriptors(m_mixer, fds.data(),
                                                           static_cast<unsigned>(count))
                              : 0;
            fds.resize(static_cast<std::size_t>(n) + 1);
        }
        fds.back() = pollfd{m_stopFd, POLLIN, 0};
        if (poll(fds.data(), fds.size(), -1) < 0) continue;
        if (fds.back().revents & POLLIN) return;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            snd_mixer_handle_events(m_mixer);
            changes.swap(m_changes);
        }
        // Posted without the lock: the handler reads the control through this object.
        for (std::uint32_t control : changes)
            UiLoop().PostMessage(m_notify, MM_MIXM_CONTROL_CHANGE, 0,
                                 static_cast<std::intptr_t>(control));
        changes.clear();
    }
}

std::uint32_t CAlsaMixer::CaptureChannels() {
    return m_capture != nullptr && snd_mixer_selem_is_capture_mono(m_capture) ? 1 : 2;
}

MixerControl CAlsaMixer::VolumeControl() {
    MixerControl control;
    control.dwControlID = CAlsaMixerDevices::kVolumeControl;
    control.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    control.dwMinimum = 0;
    control.dwMaximum = static_cast<std::uint32_t>(m_max - m_min);
    control.cSteps = static_cast<std::uint32_t>(m_max - m_min);
    if (!snd_mixer_selem_is_active(m_capture)) control.fdwControl |= MIXERCONTROL_CONTROLF_DISABLED;
    control.szName = snd_mixer_selem_get_name(m_capture);
    return control;
}

std::vector<MixerControl> CAlsaMixer::DestinationControls() {
    std::vector<MixerControl> controls;
    if (m_capture != nullptr && snd_mixer_selem_has_capture_switch(m_capture)) {
        MixerControl onOff;
        onOff.dwControlID = CAlsaMixerDevices::kSwitchControl;
        onOff.dwControlType = MIXERCONTROL_CONTROLTYPE_ONOFF;
        if (snd_mixer_selem_has_capture_switch_joined(m_capture))
            onOff.fdwControl |= MIXERCONTROL_CONTROLF_UNIFORM;
        onOff.dwMaximum = 1;
        onOff.szName = "Capture Switch";
        controls.push_back(onOff);
    }
    if (m_source != nullptr) {
        MixerControl mux;
        mux.dwControlID = CAlsaMixerDevices::kSourceControl;
        mux.dwControlType = MIXERCONTROL_CONTROLTYPE_MUX;
        mux.fdwControl = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
        int items = snd_mixer_selem_get_enum_items(m_source);
        mux.cMultipleItems = items > 0 ? static_cast<std::uint32_t>(items) : 0;
        mux.dwMaximum = 1;
        mux.szName = snd_mixer_selem_get_name(m_source);
        controls.push_back(mux);
    }
    return controls;
}

MMRESULT CAlsaMixer::GetDestinationLine(std::uint32_t componentType, MixerLine& line) {
    if (componentType != MIXERLINE_COMPONENTTYPE_DST_WAVEIN) return MIXERR_INVALLINE;
    std::lock_guard<std::mutex> guard(m_lock);
    line = MixerLine{};
    line.dwLineID = kDestinationLine;
    line.dwComponentType = componentType;
    line.cChannels = CaptureChannels();
    line.cConnections = m_capture != nullptr ? 1 : 0;
    line.cControls = static_cast<std::uint32_t>(DestinationControls().size());
    line.szName = "Recording";
    return MMSYSERR_NOERROR;
}

MMRESULT CAlsaMixer::GetSourceLine(std::uint32_t destination, std::uint32_t source,
                                   MixerLine& line) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (destination != 0 || source != 0 || m_capture == nullptr) return MIXERR_INVALLINE;
    line = MixerLine{};
    line.dwSource = 0;
    line.dwLineID = kSourceLine;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    line.cChannels = CaptureChannels();
    line.cControls = 1;
    line.szName = snd_mixer_selem_get_name(m_capture);
    return MMSYSERR_NOERROR;
}

MMRESULT CAlsaMixer::GetLineControlByType(std::uint32_t lineId, std::uint32_t controlType,
                                          MixerControl& control) {
    std::vector<MixerControl> controls;
    MMRESULT rc = GetLineControls(lineId, controls);
    if (rc != MMSYSERR_NOERROR) return rc;
    for (const MixerControl& c : controls) {
        if (c.dwControlType == controlType) {
            control = c;
            return MMSYSERR_NOERROR;
        }
    }
    return MIXERR_INVALCONTROL;
}

MMRESULT CAlsaMixer::GetLineControls(std::uint32_t lineId, std::vector<MixerControl>& controls) {
    std::lock_guard<std::mutex> guard(m_lock);
    controls.clear();
    if (lineId == kDestinationLine) {
        controls = DestinationControls();
        return MMSYSERR_NOERROR;
    }
    if (lineId == kSourceLine && m_capture != nullptr) {
        controls.push_back(VolumeControl());
        return MMSYSERR_NOERROR;
    }
    return MIXERR_INVALLINE;
}

MMRESULT CAlsaMixer::GetControlDetails(std::uint32_t controlId, std::uint32_t channels,
                                       std::uint32_t items, std::vector<std::uint32_t>& values) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (channels == 0) channels = 1;
    values.assign(std::size_t{channels} * (items == 0 ? 1 : items), 0);
    if (controlId == CAlsaMixerDevices::kVolumeControl && m_capture != nullptr) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            long v = 0;
            if (snd_mixer_selem_get_capture_volume(m_capture, Channel(c), &v) < 0)
                snd_mixer_selem_get_capture_volume(m_capture, Channel(0), &v);
            values[c] = static_cast<std::uint32_t>(v - m_min);
        }
        return MMSYSERR_NOERROR;
    }
    if (controlId == CAlsaMixerDevices::kSwitchControl && m_capture != nullptr &&
        snd_mixer_selem_has_capture_switch(m_capture)) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            int on = 0;
            snd_mixer_selem_get_capture_switch(m_capture, Channel(c), &on);
            values[c] = on != 0 ? 1 : 0;
        }
        return MMSYSERR_NOERROR;
    }
    if (controlId == CAlsaMixerDevices::kSourceControl && m_source != nullptr && items > 0) {
        unsigned int item = 0;
        snd_mixer_selem_get_enum_item(m_source, Channel(0), &item);
        for (std::uint32_t c = 0; c < channels; ++c)
            if (item < items) values[std::size_t{c} * items + item] = 1;
        return MMSYSERR_NOERROR;
    }
    return MIXERR_INVALCONTROL;
}

MMRESULT CAlsaMixer::SetControlDetails(std::uint32_t controlId, std::uint32_t channels,
                                       std::uint32_t items,
                                       const std::vector<std::uint32_t>& values) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (channels == 0) channels = 1;
    if (values.size() < std::size_t{channels} * (items == 0 ? 1 : items)) return MIXERR_INVALVALUE;
    if (controlId == CAlsaMixerDevices::kVolumeControl && m_capture != nullptr) {
        for (std::uint32_t c = 0; c < channels; ++c)
            snd_mixer_selem_set_capture_volume(m_capture, Channel(c),
                                               m_min + static_cast<long>(values[c]));
        return MMSYSERR_NOERROR;
    }
    if (controlId == CAlsaMixerDevices::kSwitchControl && m_capture != nullptr) {
        if (channels == 1)
            return snd_mixer_selem_set_capture_switch_all(m_capture, values[0] != 0) < 0
                       ? MMSYSERR_ERROR
                       : MMSYSERR_NOERROR;
        for (std::uint32_t c = 0; c < channels; ++c)
            snd_mixer_selem_set_capture_switch(m_capture, Channel(c), values[c] != 0);
        return MMSYSERR_NOERROR;
    }
    if (controlId == CAlsaMixerDevices::kSourceControl && m_source != nullptr && items > 0) {
        for (std::uint32_t i = 0; i < items; ++i) {
            if (values[i] != 0) {
                snd_mixer_selem_set_enum_item(m_source, SND_MIXER_SCHN_MONO, i);
                break;
            }
        }
        return MMSYSERR_NOERROR;
    }
    return MIXERR_INVALCONTROL;
}

}  // namespace vexa::platform
