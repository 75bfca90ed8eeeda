#include <atomic>

#include "platform/audio/IMixerDevices.h"
#include "platform/audio/IWaveDevices.h"

namespace vexa::platform {
namespace {

class CNoWaveDevices : public IWaveDevices {
  public:
    std::uint32_t WaveInCount() override { return 0; }
    std::uint32_t WaveOutCount() override { return 0; }
    MMRESULT WaveInName(std::uint32_t, std::string& name) override {
        name.clear();
        return MMSYSERR_NODRIVER;
    }
    MMRESULT OpenWaveIn(std::uint32_t, const WAVEFORMATEX&, WindowHandle,
                        std::unique_ptr<IWaveIn>& device) override {
        device.reset();
        return MMSYSERR_NODRIVER;
    }
    MMRESULT OpenWaveOut(std::uint32_t, const WAVEFORMATEX&, WindowHandle,
                         std::unique_ptr<IWaveOut>& device) override {
        device.reset();
        return MMSYSERR_NODRIVER;
    }
    std::string WaveInErrorText(MMRESULT code) override { return StandardWaveErrorText(code); }
    std::string WaveOutErrorText(MMRESULT code) override { return StandardWaveErrorText(code); }
};

class CNoMixerDevices : public IMixerDevices {
  public:
    std::uint32_t MixerCount() override { return 0; }
    MMRESULT Open(std::uint32_t, WindowHandle, std::unique_ptr<IMixer>& mixer) override {
        mixer.reset();
        return MMSYSERR_NODRIVER;
    }
};

CNoWaveDevices g_noWaveDevices;
CNoMixerDevices g_noMixerDevices;
std::atomic<IWaveDevices*> g_waveDevices{nullptr};
std::atomic<IMixerDevices*> g_mixerDevices{nullptr};

}  // namespace

IWaveDevices& WaveDevices() {
    IWaveDevices* devices = g_waveDevices.load();
    return devices != nullptr ? *devices : g_noWaveDevices;
}

void SetWaveDevices(IWaveDevices* devices) {
    g_waveDevices.store(devices);
}

IMixerDevices& MixerDevices() {
    IMixerDevices* mixers = g_mixerDevices.load();
    return mixers != nullptr ? *mixers : g_noMixerDevices;
}

void SetMixerDevices(IMixerDevices* mixers) {
    g_mixerDevices.store(mixers);
}

std::string StandardWaveErrorText(MMRESULT code) {
    switch (code) {
        case MMSYSERR_NOERROR:
            return "The command was carried out.";
        case MMSYSERR_ERROR:
            return "Undefined external error.";
        case MMSYSERR_BADDEVICEID:
            return "A device ID has been used that is out of range for your system.";
        case MMSYSERR_NOTENABLED:
            return "The driver was not enabled.";
        case MMSYSERR_ALLOCATED:
            return "The specified device is already in use. Wait until it is free, and then try "
                   "again.";
        case MMSYSERR_INVALHANDLE:
            return "The specified device handle is invalid.";
        case MMSYSERR_NODRIVER:
            return "There is no driver installed on your system.";
        case MMSYSERR_NOMEM:
            return "There is not enough memory available for this task.";
        case MMSYSERR_NOTSUPPORTED:
            return "This function is not supported.";
        case MMSYSERR_INVALFLAG:
            return "An invalid flag was passed to a system function.";
        case MMSYSERR_INVALPARAM:
            return "An invalid parameter was passed to a system function.";
        case WAVERR_BADFORMAT:
            return "The specified format is not supported or cannot be translated.";
        case WAVERR_STILLPLAYING:
            return "Cannot perform this operation while media data is still playing.";
        case WAVERR_UNPREPARED:
            return "The header has not been prepared.";
        default:
            return "Unknown error.";
    }
}

}  // namespace vexa::platform
