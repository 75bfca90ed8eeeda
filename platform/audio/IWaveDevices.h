// Wave-in and wave-out devices: open with a format and a notification window, prepare and queue
// buffers, reset (every queued buffer comes back), close. Returned buffers and the close arrive
// as messages posted to the window through the UI loop, to be handled on the UI thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio/WaveTypes.h"
#include "platform/core/UiLoop.h"

namespace vexa::platform {

class IWaveIn {
  public:
    virtual ~IWaveIn() = default;
    // Tells this device's messages apart from those of an earlier device (wParam of each).
    virtual std::uintptr_t Serial() const = 0;
    virtual MMRESULT PrepareHeader(WAVEHDR* header) = 0;
    virtual MMRESULT UnprepareHeader(WAVEHDR* header) = 0;
    // Queues a prepared buffer; it comes back full (or partly full after Reset) as MM_WIM_DATA.
    virtual MMRESULT AddBuffer(WAVEHDR* header) = 0;
    virtual MMRESULT Start() = 0;
    // Stops capturing and returns every queued buffer, the partly filled one first.
    virtual MMRESULT Reset() = 0;
    // WAVERR_STILLPLAYING while buffers are queued; on success MM_WIM_CLOSE follows. The object
    // is released by its owner afterwards whatever the result.
    virtual MMRESULT Close() = 0;
    // The mixer that belongs to this device (for IMixerDevices::Open).
    virtual MMRESULT GetMixerId(std::uint32_t& mixerId) = 0;
};

class IWaveOut {
  public:
    virtual ~IWaveOut() = default;
    virtual std::uintptr_t Serial() const = 0;
    virtual MMRESULT PrepareHeader(WAVEHDR* header) = 0;
    virtual MMRESULT UnprepareHeader(WAVEHDR* header) = 0;
    // Queues a prepared buffer of dwBufferLength bytes; MM_WOM_DONE once it has been played.
    virtual MMRESULT Write(WAVEHDR* header) = 0;
    virtual MMRESULT Pause() = 0;
    // Stops playing and returns every queued buffer.
    virtual MMRESULT Reset() = 0;
    // WAVERR_STILLPLAYING while buffers are queued; on success MM_WOM_CLOSE follows.
    virtual MMRESULT Close() = 0;
};

class IWaveDevices {
  public:
    virtual ~IWaveDevices() = default;
    virtual std::uint32_t WaveInCount() = 0;
    virtual std::uint32_t WaveOutCount() = 0;
    // The product name of a wave-in device (WAVE_MAPPER included).
    virtual MMRESULT WaveInName(std::uint32_t deviceId, std::string& name) = 0;
    // notify 0: no notifications (used to probe a device).
    virtual MMRESULT OpenWaveIn(std::uint32_t deviceId, const WAVEFORMATEX& format,
                                WindowHandle notify, std::unique_ptr<IWaveIn>& device) = 0;
    virtual MMRESULT OpenWaveOut(std::uint32_t deviceId, const WAVEFORMATEX& format,
                                 WindowHandle notify, std::unique_ptr<IWaveOut>& device) = 0;
    virtual std::string WaveInErrorText(MMRESULT code) = 0;
    virtual std::string WaveOutErrorText(MMRESULT code) = 0;
};

// The process's wave devices; until a program installs some, there are none.
IWaveDevices& WaveDevices();
void SetWaveDevices(IWaveDevices* devices);

// The standard text of a result code, as the device drivers word them.
std::string StandardWaveErrorText(MMRESULT code);

}  // namespace vexa::platform
