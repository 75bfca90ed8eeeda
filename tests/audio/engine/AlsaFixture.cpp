#include "tests/audio/engine/AlsaFixture.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/core/Paths.h"

namespace vexa::testing {

namespace {

PacedDevice Make() {
    PacedDevice d;
    char pattern[] = "/tmp/vexa-alsa-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return {};
    d.folder = pattern;
    d.config = d.folder + "/asound.conf";
    d.speech = d.folder + "/speech.raw";
    d.played = d.folder + "/played.raw";
    d.state = d.folder + "/state";
    std::string wav = d.folder + "/speech.wav";
    std::string make =
        "espeak-ng -s 150 -w '" + wav +
        "' 'The little fox jumps over the lazy dog. One, two, three, four, five. Hello again, "
        "this is the recording test for the paced sound device.' && sox '" +
        wav + "' -t raw '" + d.speech + "' && '" VEXA_ALSA_PACED_CONFIG_TOOL "' '" + d.config +
        "' '" VEXA_ALSA_PACED_MODULE "' '" + d.speech + "' '" + d.played + "'";
    if (std::system(make.c_str()) != 0) {
        std::error_code ignored;
        std::filesystem::remove_all(d.folder, ignored);
        return {};
    }
    setenv("ALSA_CONFIG_PATH", d.config.c_str(), 1);
    setenv("XDG_STATE_HOME", d.state.c_str(), 1);
    platform::StateFolder();
    return d;
}

// The folder goes with the process, whatever its tests left in it.
struct OwnedDevice {
    PacedDevice device;
    ~OwnedDevice() {
        std::error_code ignored;
        if (!device.folder.empty()) std::filesystem::remove_all(device.folder, ignored);
    }
};

}  // namespace

const PacedDevice& SetUpPacedDevice() {
    static const OwnedDevice owned{Make()};
    return owned.device;
}

}  // namespace vexa::testing
