// Mixers over ALSA's simple mixer: "default" and one per sound card. Each shows the recording
// destination with one source, the card's capture element: its capture volume (control 10), its
// capture switch (20) and, when the card has one, the capture source selector (21).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/IMixerDevices.h"

namespace vexa::platform {

class CAlsaMixerDevices : public IMixerDevices {
  public:
    static constexpr std::uint32_t kVolumeControl = 10;
    static constexpr std::uint32_t kSwitchControl = 20;
    static constexpr std::uint32_t kSourceControl = 21;

    std::uint32_t MixerCount() override;
    MMRESULT Open(std::uint32_t mixerId, WindowHandle notify,
                  std::unique_ptr<IMixer>& mixer) override;

    // The mixer of a PCM's card (-1 for a software PCM: the "default" mixer).
    static MMRESULT MixerIdOfCard(int card, std::uint32_t& mixerId);

  private:
    static std::vector<std::string> MixerNames();
};

}  // namespace vexa::platform
