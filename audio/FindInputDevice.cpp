#include "audio/CAudioPlayRec.h"
#include "audio/CVolumeInXXX.h"

namespace vexa {

std::uint32_t FindInputDevice() {
    std::uint32_t count = platform::WaveDevices().WaveInCount();
    for (std::uint32_t id = 0; id < count; ++id) {
        CVolumeInXXX probe(id);
        if (probe.IsAvailable()) return id;
    }
    return platform::WAVE_MAPPER;
}

}  // namespace vexa
