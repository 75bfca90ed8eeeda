// The recording volume of one wave-in device.
#pragma once

#include <cstdint>

namespace vexa {

class IVolume {
  public:
    using VolumeNotify = void (*)(int volume, std::uintptr_t context);

    virtual ~IVolume() = default;
    // A usable volume control was found.
    virtual bool IsAvailable() = 0;
    // Selects the recording source and sets the recording line's switches.
    virtual void ApplyInputSelection() = 0;
    virtual void NoOperation() = 0;
    // The control's step count, minimum and maximum; -1 when not available.
    virtual int GetSteps() = 0;
    virtual int GetMinimum() = 0;
    virtual int GetMaximum() = 0;
    // The first channel's value, -1 on any failure.
    virtual int GetVolume() = 0;
    // Outside the control's bounds nothing changes.
    virtual void SetVolume(std::uint32_t value) = 0;
    // Called on the UI thread with the new volume whenever the control changes.
    virtual void SetNotify(VolumeNotify callback, std::uintptr_t context) = 0;
};

}  // namespace vexa
