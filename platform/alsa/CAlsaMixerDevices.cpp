#include "platform/alsa/CAlsaMixerDevices.h"

#include <alsa/asoundlib.h>

#include "platform/alsa/CAlsaMixer.h"

namespace vexa::platform {

namespace {

bool Attaches(const std::string& ctl) {
    snd_mixer_t* mixer = nullptr;
    if (snd_mixer_open(&mixer, 0) < 0) return false;
    bool ok = snd_mixer_attach(mixer, ctl.c_str()) == 0;
    snd_mixer_close(mixer);
    return ok;
}

}  // namespace

std::vector<std::string> CAlsaMixerDevices::MixerNames() {
    std::vector<std::string> names;
    if (Attaches("default")) names.push_back("default");
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        std::string name = "hw:" + std::to_string(card);
        if (Attaches(name)) names.push_back(name);
    }
    return names;
}

std::uint32_t CAlsaMixerDevices::MixerCount() {
    return static_cast<std::uint32_t>(MixerNames().size());
}

MMRESULT CAlsaMixerDevices::MixerIdOfCard(int card, std::uint32_t& mixerId) {
    std::string want = card >= 0 ? "hw:" + std::to_string(card) : "default";
    std::vector<std::string> names = MixerNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == want) {
            mixerId = static_cast<std::uint32_t>(i);
            return MMSYSERR_NOERROR;
        }
    }
    return MMSYSERR_NODRIVER;
}

MMRESULT CAlsaMixerDevices::Open(std::uint32_t mixerId, WindowHandle notify,
                                 std::unique_ptr<IMixer>& mixer) {
    mixer.reset();
    std::vector<std::string> names = MixerNames();
    if (mixerId >= names.size()) return MMSYSERR_BADDEVICEID;
    auto open = std::make_unique<CAlsaMixer>(notify);
    MMRESULT rc = open->Open(names[mixerId]);
    if (rc != MMSYSERR_NOERROR) return rc;
    mixer = std::move(open);
    return MMSYSERR_NOERROR;
}

}  // namespace vexa::platform
