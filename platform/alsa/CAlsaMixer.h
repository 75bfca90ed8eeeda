// One open ALSA simple mixer in the shape of IMixer, with a thread that turns ALSA's element
// events into MM_MIXM_CONTROL_CHANGE messages for the notification window.
#pragma once

#include <alsa/asoundlib.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/IMixerDevices.h"

namespace vexa::platform {

class CAlsaMixer : public IMixer {
  public:
    explicit CAlsaMixer(WindowHandle notify);
    ~CAlsaMixer() override;
    CAlsaMixer(const CAlsaMixer&) = delete;
    CAlsaMixer& operator=(const CAlsaMixer&) = delete;

    MMRESULT Open(const std::string& ctl);

    MMRESULT GetDestinationLine(std::uint32_t componentType, MixerLine& line) override;
    MMRESULT GetSourceLine(std::uint32_t destination, std::uint32_t source,
                           MixerLine& line) override;
    MMRESULT GetLineControlByType(std::uint32_t lineId, std::uint32_t controlType,
                                  MixerControl& control) override;
    MMRESULT GetLineControls(std::uint32_t lineId, std::vector<MixerControl>& controls) override;
    MMRESULT GetControlDetails(std::uint32_t controlId, std::uint32_t channels, std::uint32_t items,
                               std::vector<std::uint32_t>& values) override;
    MMRESULT SetControlDetails(std::uint32_t controlId, std::uint32_t channels, std::uint32_t items,
                               const std::vector<std::uint32_t>& values) override;

  private:
    static int OnElementEvent(snd_mixer_elem_t* elem, unsigned int mask);
    void Watch();
    std::vector<MixerControl> DestinationControls();
    MixerControl VolumeControl();
    std::uint32_t CaptureChannels();

    WindowHandle m_notify;
    std::mutex m_lock;
    snd_mixer_t* m_mixer = nullptr;
    snd_mixer_elem_t* m_capture = nullptr;  // capture volume
    snd_mixer_elem_t* m_source = nullptr;   // enumerated capture source
    long m_min = 0;
    long m_max = 0;
    std::vector<std::uint32_t> m_changes;  // controls changed by the events being handled
    int m_stopFd = -1;
    std::thread m_watcher;
};

}  // namespace vexa::platform
