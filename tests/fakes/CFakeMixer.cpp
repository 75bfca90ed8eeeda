#include "tests/fakes/CFakeMixer.h"

#include <algorithm>

#include "platform/core/UiLoop.h"

namespace vexa::testing {

using namespace platform;

namespace {

constexpr std::uint32_t kDestinationLineId = 0xFFFF0000u;

class COpenFakeMixer : public IMixer {
  public:
    COpenFakeMixer(CFakeMixer& owner, std::uint32_t id, WindowHandle notify)
        : m_owner(owner), m_entry{id, notify} {
        owner.open.push_back(&m_entry);
        owner.openMixers++;
    }
    ~COpenFakeMixer() override {
        auto& list = m_owner.open;
        list.erase(std::remove(list.begin(), list.end(), &m_entry), list.end());
        m_owner.openMixers--;
    }
    CFakeMixer::Mixer& M() { return m_owner.mixers[m_entry.id]; }

    MMRESULT GetDestinationLine(std::uint32_t componentType, MixerLine& line) override {
        if (componentType != MIXERLINE_COMPONENTTYPE_DST_WAVEIN || !M().hasDestination)
            return MIXERR_INVALLINE;
        line = MixerLine{};
        line.dwDestination = 0;
        line.dwLineID = kDestinationLineId;
        line.dwComponentType = componentType;
        line.cChannels = M().destinationChannels;
        line.cConnections = static_cast<std::uint32_t>(M().sources.size());
        line.cControls = static_cast<std::uint32_t>(M().destinationControls.size());
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetSourceLine(std::uint32_t destination, std::uint32_t source,
                           MixerLine& line) override {
        if (destination != 0 || source >= M().sources.size()) return MIXERR_INVALLINE;
        line = M().sources[source];
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetLineControlByType(std::uint32_t lineId, std::uint32_t type,
                                  MixerControl& control) override {
        if (type == MIXERCONTROL_CONTROLTYPE_VOLUME) {
            auto it = M().volumeOf.find(lineId);
            if (it == M().volumeOf.end()) return MIXERR_INVALCONTROL;
            control = it->second;
            return MMSYSERR_NOERROR;
        }
        if (lineId == kDestinationLineId) {
            for (const auto& c : M().destinationControls) {
                if (c.dwControlType == type) {
                    control = c;
                    return MMSYSERR_NOERROR;
                }
            }
        }
        return MIXERR_INVALCONTROL;
    }
    MMRESULT GetLineControls(std::uint32_t lineId, std::vector<MixerControl>& controls) override {
        controls.clear();
        if (lineId == kDestinationLineId) {
            controls = M().destinationControls;
            return MMSYSERR_NOERROR;
        }
        auto it = M().volumeOf.find(lineId);
        if (it != M().volumeOf.end()) controls.push_back(it->second);
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetControlDetails(std::uint32_t controlId, std::uint32_t channels, std::uint32_t items,
                               std::vector<std::uint32_t>& values) override {
        auto it = M().values.find(controlId);
        if (it == M().values.end()) return MIXERR_INVALCONTROL;
        std::size_t want =
            std::size_t{std::max<std::uint32_t>(channels, 1)} * std::max<std::uint32_t>(items, 1);
        values = it->second;
        values.resize(want, 0);
        return MMSYSERR_NOERROR;
    }
    MMRESULT SetControlDetails(std::uint32_t controlId, std::uint32_t channels, std::uint32_t items,
                               const std::vector<std::uint32_t>& values) override {
        m_owner.setCalls.push_back({m_entry.id, controlId, channels, items, values});
        M().values[controlId] = values;
        return MMSYSERR_NOERROR;
    }

  private:
    CFakeMixer& m_owner;
    CFakeMixer::OpenMixer m_entry;
};

}  // namespace

CFakeMixer::CFakeMixer() {
    SetMixerDevices(this);
}

CFakeMixer::~CFakeMixer() {
    SetMixerDevices(nullptr);
}

CFakeMixer::Mixer CFakeMixer::Standard() {
    Mixer m;
    MixerLine mic;
    mic.dwLineID = 0x1000;
    mic.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    mic.cChannels = 2;
    mic.cControls = 1;
    mic.szName = "Microphone";
    m.sources.push_back(mic);
    MixerControl volume;
    volume.dwControlID = 10;
    volume.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    volume.dwMinimum = 0;
    volume.dwMaximum = 65535;
    volume.cSteps = 65536;
    m.volumeOf[mic.dwLineID] = volume;
    m.values[10] = {30000, 30000};
    MixerControl mute;
    mute.dwControlID = 20;
    mute.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
    MixerControl mux;
    mux.dwControlID = 21;
    mux.dwControlType = MIXERCONTROL_CONTROLTYPE_MUX;
    mux.fdwControl = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
    mux.cMultipleItems = 4;
    m.destinationControls = {mute, mux};
    m.values[20] = {0, 0};
    m.values[21] = {0, 0, 1, 0};
    return m;
}

void CFakeMixer::ChangeControl(std::uint32_t mixer, std::uint32_t control,
                               const std::vector<std::uint32_t>& values) {
    mixers[mixer].values[control] = values;
    for (OpenMixer* entry : open) {
        if (entry->id == mixer && entry->notify != 0)
            UiLoop().PostMessage(entry->notify, MM_MIXM_CONTROL_CHANGE, 0,
                                 static_cast<std::intptr_t>(control));
    }
}

MMRESULT CFakeMixer::Open(std::uint32_t mixerId, WindowHandle notify,
                          std::unique_ptr<IMixer>& mixer) {
    mixer.reset();
    if (mixerId >= mixers.size()) return MMSYSERR_BADDEVICEID;
    if (mixers[mixerId].failOpen) return MMSYSERR_ALLOCATED;
    mixer = std::make_unique<COpenFakeMixer>(*this, mixerId, notify);
    return MMSYSERR_NOERROR;
}

}  // namespace vexa::testing
