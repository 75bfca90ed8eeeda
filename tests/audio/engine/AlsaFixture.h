// The paced ALSA test device for integration tests: speech as raw samples, an ALSA configuration
// whose only devices are the paced device, and the environment pointing at both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexa::testing {

struct PacedDevice {
    std::string folder;  // scratch folder of this process
    std::string config;  // ALSA_CONFIG_PATH
    std::string speech;  // raw S16 mono 22050 Hz samples the device captures
    std::string played;  // raw bytes the device played
    std::string state;   // XDG_STATE_HOME of the engine
};

// Made once per process (alsa-lib reads its configuration once); sets ALSA_CONFIG_PATH and
// XDG_STATE_HOME. Empty folder when the tools it needs are missing.
const PacedDevice& SetUpPacedDevice();

}  // namespace vexa::testing
