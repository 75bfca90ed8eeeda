// The audio mixer in the shape the desktop's mixer API has: a recording destination line with
// source lines, each with controls (volume, switches, selectors) holding per-channel values.
// Control changes are posted to the notification window as MM_MIXM_CONTROL_CHANGE.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/WaveTypes.h"
#include "platform/core/UiLoop.h"

namespace vexa::platform {

constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
constexpr std::uint32_t MIXERCONTROL_CT_UNITS_MASK = 0x00FF0000u;
constexpr std::uint32_t MIXERCONTROL_CT_UNITS_BOOLEAN = 0x00010000u;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001u;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_ONOFF = 0x20010001u;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002u;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001u;
constexpr std::uint32_t MIXERCONTROL_CONTROLF_UNIFORM = 0x1;
constexpr std::uint32_t MIXERCONTROL_CONTROLF_MULTIPLE = 0x2;
constexpr std::uint32_t MIXERCONTROL_CONTROLF_DISABLED = 0x80000000u;

struct MixerLine {
    std::uint32_t dwDestination = 0;
    std::uint32_t dwSource = 0;
    std::uint32_t dwLineID = 0;
    std::uint32_t dwComponentType = 0;
    std::uint32_t cChannels = 0;
    std::uint32_t cConnections = 0;
    std::uint32_t cControls = 0;
    std::string szName;
};

struct MixerControl {
    std::uint32_t dwControlID = 0;
    std::uint32_t dwControlType = 0;
    std::uint32_t fdwControl = 0;
    std::uint32_t cMultipleItems = 0;
    std::uint32_t dwMinimum = 0;
    std::uint32_t dwMaximum = 0;
    std::uint32_t cSteps = 0;
    std::string szName;
};

class IMixer {
  public:
    virtual ~IMixer() = default;
    // The destination line of a component type (MIXER_GETLINEINFOF_COMPONENTTYPE).
    virtual MMRESULT GetDestinationLine(std::uint32_t componentType, MixerLine& line) = 0;
    // Source `source` of destination `destination` (MIXER_GETLINEINFOF_SOURCE).
    virtual MMRESULT GetSourceLine(std::uint32_t destination, std::uint32_t source,
                                   MixerLine& line) = 0;
    // The line's first control of a type (MIXER_GETLINECONTROLSF_ONEBYTYPE).
    virtual MMRESULT GetLineControlByType(std::uint32_t lineId, std::uint32_t controlType,
                                          MixerControl& control) = 0;
    virtual MMRESULT GetLineControls(std::uint32_t lineId, std::vector<MixerControl>& controls) = 0;
    // values holds channels x items 32-bit values (items 0 for a control without items).
    virtual MMRESULT GetControlDetails(std::uint32_t controlId, std::uint32_t channels,
                                       std::uint32_t items, std::vector<std::uint32_t>& values) = 0;
    virtual MMRESULT SetControlDetails(std::uint32_t controlId, std::uint32_t channels,
                                       std::uint32_t items,
                                       const std::vector<std::uint32_t>& values) = 0;
};

class IMixerDevices {
  public:
    virtual ~IMixerDevices() = default;
    virtual std::uint32_t MixerCount() = 0;
    // notify 0: no notifications.
    virtual MMRESULT Open(std::uint32_t mixerId, WindowHandle notify,
                          std::unique_ptr<IMixer>& mixer) = 0;
};

// The process's mixers; until a program installs some, there are none.
IMixerDevices& MixerDevices();
void SetMixerDevices(IMixerDevices* mixers);

}  // namespace vexa::platform
