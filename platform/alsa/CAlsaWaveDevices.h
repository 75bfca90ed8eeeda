// Wave devices over ALSA. Device numbers count the PCMs (from the device hints, "hw:" cards
// left out) that open in the direction asked and take S16 mono at 22050 Hz, or that are busy; the
// wave mapper is ALSA's "default" device. The list is made once, at its first use, so numbers
// stay put for the object's lifetime.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/IWaveDevices.h"

namespace vexa::platform {

class CAlsaWaveDevices : public IWaveDevices {
  public:
    std::uint32_t WaveInCount() override;
    std::uint32_t WaveOutCount() override;
    MMRESULT WaveInName(std::uint32_t deviceId, std::string& name) override;
    MMRESULT OpenWaveIn(std::uint32_t deviceId, const WAVEFORMATEX& format, WindowHandle notify,
                        std::unique_ptr<IWaveIn>& device) override;
    MMRESULT OpenWaveOut(std::uint32_t deviceId, const WAVEFORMATEX& format, WindowHandle notify,
                         std::unique_ptr<IWaveOut>& device) override;
    std::string WaveInErrorText(MMRESULT code) override;
    std::string WaveOutErrorText(MMRESULT code) override;

    // The result code for an ALSA error number.
    static MMRESULT FromAlsaError(int err);

  private:
    struct Device {
        std::string pcm;
        std::string description;
    };
    void Enumerate();
    void EnsureEnumerated();
    bool Resolve(std::uint32_t deviceId, bool input, std::string& pcm);

    std::mutex m_lock;
    bool m_enumerated = false;
    std::vector<Device> m_inputs;
    std::vector<Device> m_outputs;
};

}  // namespace vexa::platform
