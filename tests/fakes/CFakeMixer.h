// Mixers for tests: each has a recording destination whose sources and controls the test lays
// out; values are kept per control, and ChangeControl posts the change notification.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/audio/IMixerDevices.h"

namespace vexa::testing {

class CFakeMixer : public platform::IMixerDevices {
  public:
    struct Mixer {
        bool hasDestination = true;
        std::uint32_t destinationChannels = 2;
        std::vector<platform::MixerLine> sources;
        // Volume control of each source line (by line id); a missing entry means none.
        std::map<std::uint32_t, platform::MixerControl> volumeOf;
        // Controls of the destination line.
        std::vector<platform::MixerControl> destinationControls;
        std::map<std::uint32_t, std::vector<std::uint32_t>> values;
        bool failOpen = false;
    };
    struct SetCall {
        std::uint32_t mixer;
        std::uint32_t control;
        std::uint32_t channels;
        std::uint32_t items;
        std::vector<std::uint32_t> values;
    };

    // Installs itself as the process's mixers for its lifetime.
    CFakeMixer();
    ~CFakeMixer() override;

    // A mixer whose recording line's first source is a stereo microphone with an enabled
    // volume control (id 10, 0..65535), and a destination with a mute switch (id 20) and a
    // four-item source selector (id 21).
    static Mixer Standard();

    std::vector<Mixer> mixers;
    std::vector<SetCall> setCalls;
    int openMixers = 0;

    // Changes a control's values and notifies every open mixer window of that mixer.
    void ChangeControl(std::uint32_t mixer, std::uint32_t control,
                       const std::vector<std::uint32_t>& values);

    std::uint32_t MixerCount() override { return static_cast<std::uint32_t>(mixers.size()); }
    platform::MMRESULT Open(std::uint32_t mixerId, platform::WindowHandle notify,
                            std::unique_ptr<platform::IMixer>& mixer) override;

    struct OpenMixer {
        std::uint32_t id;
        platform::WindowHandle notify;
    };
    std::vector<OpenMixer*> open;
};

}  // namespace vexa::testing
