// IVolume over the mixer that belongs to a wave-in device: the volume control of the first source
// of the recording destination. FindInputDevice probes devices with it.
#pragma once

#include <cstdint>
#include <memory>

#include "audio/IVolume.h"
#include "platform/audio/IMixerDevices.h"
#include "platform/core/UiLoop.h"

namespace vexa {

class CVolumeInXXX : public IVolume {
  public:
    explicit CVolumeInXXX(std::uint32_t waveInId);
    ~CVolumeInXXX() override;
    CVolumeInXXX(const CVolumeInXXX&) = delete;
    CVolumeInXXX& operator=(const CVolumeInXXX&) = delete;

    bool IsAvailable() override;
    void ApplyInputSelection() override;
    void NoOperation() override;
    int GetSteps() override;
    int GetMinimum() override;
    int GetMaximum() override;
    int GetVolume() override;
    void SetVolume(std::uint32_t value) override;
    void SetNotify(VolumeNotify callback, std::uintptr_t context) override;

    // The mixer's notification that a control changed.
    void OnControlChange(std::uint32_t controlId);

  private:
    // The hidden window the mixer notifies; it reports to the live instance.
    class CMsgWnd : public platform::IMessageTarget {
      public:
        void OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override;
    };

    bool OpenMixer();
    bool InitControls();
    void CloseMixer();

    std::uint32_t m_uWaveInId;
    bool m_bOpen = false;
    bool m_bReady = false;
    bool m_bAvailable = false;
    std::uint32_t m_uMixerId = 0;
    std::unique_ptr<platform::IMixer> m_hMixer;
    std::uint32_t m_dwLineId = 0;
    std::uint32_t m_dwControlId = 0;
    std::uint32_t m_dwChannels = 0;
    int m_nSelectIndex = 0;
    CMsgWnd m_msgWnd;
    platform::WindowHandle m_hMsgWnd = 0;
    std::uint32_t m_dwMinimum = 0xFFFFFFFFu;
    std::uint32_t m_dwMaximum = 0xFFFFFFFFu;
    std::uint32_t m_dwSteps = 0;
    VolumeNotify m_pfnVolumeNotify = nullptr;
    std::uintptr_t m_pVolumeContext = 0;
};

// The instance the message window reports to; one at a time.
extern CVolumeInXXX* g_pVolumeIn;

}  // namespace vexa
