#include "platform/alsa/CAlsaWaveDevices.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstring>

#include "platform/alsa/CAlsaMixerDevices.h"
#include "platform/alsa/CAlsaPcmThread.h"

namespace vexa::platform {

namespace {

constexpr const char* kMapperPcm = "default";

class CAlsaWaveIn : public IWaveIn {
  public:
    explicit CAlsaWaveIn(WindowHandle notify) : m_pcm(true, notify) {}
    MMRESULT Open(const std::string& name, const WAVEFORMATEX& format) {
        return m_pcm.Open(name, format);
    }
    std::uintptr_t Serial() const override { return m_pcm.Serial(); }
    MMRESULT PrepareHeader(WAVEHDR* header) override { return m_pcm.Prepare(header); }
    MMRESULT UnprepareHeader(WAVEHDR* header) override { return m_pcm.Unprepare(header); }
    MMRESULT AddBuffer(WAVEHDR* header) override { return m_pcm.Queue(header); }
    MMRESULT Start() override { return m_pcm.Start(); }
    MMRESULT Reset() override { return m_pcm.Reset(); }
    MMRESULT Close() override { return m_pcm.Close(); }
    MMRESULT GetMixerId(std::uint32_t& mixerId) override {
        return CAlsaMixerDevices::MixerIdOfCard(m_pcm.Card(), mixerId);
    }

  private:
    CAlsaPcmThread m_pcm;
};

class CAlsaWaveOut : public IWaveOut {
  public:
    explicit CAlsaWaveOut(WindowHandle notify) : m_pcm(false, notify) {}
    MMRESULT Open(const std::string& name, const WAVEFORMATEX& format) {
        return m_pcm.Open(name, format);
    }
    std::uintptr_t Serial() const override { return m_pcm.Serial(); }
    MMRESULT PrepareHeader(WAVEHDR* header) override { return m_pcm.Prepare(header); }
    MMRESULT UnprepareHeader(WAVEHDR* header) override { return m_pcm.Unprepare(header); }
    MMRESULT Write(WAVEHDR* header) override { return m_pcm.Queue(header); }
    MMRESULT Pause() override { return m_pcm.Pause(); }
    MMRESULT Reset() override { return m_pcm.Reset(); }
    MMRESULT Close() override { return m_pcm.Close(); }

  private:
    CAlsaPcmThread m_pcm;
};

// Opens without blocking (a busy device answers at once) and asks for S16 mono 22050 Hz. A busy
// device is there all the same: its holder may well be this program.
bool OpensFor(const std::string& name, snd_pcm_stream_t stream) {
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, name.c_str(), stream, SND_PCM_NONBLOCK);
    if (err == -EBUSY || err == -EAGAIN) return true;
    if (err < 0) return false;
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    bool ok = snd_pcm_hw_params_any(pcm, hw) >= 0 &&
              snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
              snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) >= 0 &&
              snd_pcm_hw_params_set_channels(pcm, hw, 1) >= 0 &&
              snd_pcm_hw_params_test_rate(pcm, hw, 22050, 0) >= 0;
    snd_pcm_close(pcm);
    return ok;
}

std::string HintText(void* hint, const char* id) {
    char* value = snd_device_name_get_hint(hint, id);
    if (value == nullptr) return {};
    std::string text = value;
    std::free(value);
    return text;
}

bool Skipped(const std::string& name) {
    // Cards are reached through the plugins over them: a card held by a sound server would only
    // answer busy. "null" is no device, and the rate converters, channel mixers and bridges to
    // other sound systems only repeat the default device (or wait for a server that is not there).
    static const char* const kHelpers[] = {
        "null",  "hw",       "plughw", "lavrate", "samplerate", "speexrate", "speex",
        "upmix", "vdownmix", "jack",   "oss",     "a52",        "usbstream"};
    std::string base = name.substr(0, name.find(':'));
    for (const char* helper : kHelpers)
        if (base == helper) return true;
    return false;
}

}  // namespace

MMRESULT CAlsaWaveDevices::FromAlsaError(int err) {
    switch (-err) {
        case 0:
            return MMSYSERR_NOERROR;
        case EBUSY:
        case EAGAIN:
            return MMSYSERR_ALLOCATED;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return MMSYSERR_BADDEVICEID;
        case ENOMEM:
            return MMSYSERR_NOMEM;
        case EINVAL:
            return WAVERR_BADFORMAT;
        case ENOSYS:
            return MMSYSERR_NOTSUPPORTED;
        default:
            return MMSYSERR_ERROR;
    }
}

void CAlsaWaveDevices::Enumerate() {
    std::vector<Device> inputs;
    std::vector<Device> outputs;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) == 0 && hints != nullptr) {
        for (void** hint = hints; *hint != nullptr; ++hint) {
            std::string name = HintText(*hint, "NAME");
            if (name.empty() || Skipped(name)) continue;
            std::string ioid = HintText(*hint, "IOID");
            std::string description = HintText(*hint, "DESC");
            std::size_t line = description.find('\n');
            if (line != std::string::npos) description.resize(line);
            if (description.empty()) description = name;
            if (ioid != "Output" && OpensFor(name, SND_PCM_STREAM_CAPTURE))
                inputs.push_back({name, description});
            if (ioid != "Input" && OpensFor(name, SND_PCM_STREAM_PLAYBACK))
                outputs.push_back({name, description});
        }
        snd_device_name_free_hint(hints);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_inputs = std::move(inputs);
    m_outputs = std::move(outputs);
    m_enumerated = true;
}

void CAlsaWaveDevices::EnsureEnumerated() {
    bool done;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        done = m_enumerated;
    }
    if (!done) Enumerate();
}

// The list is made once: a device number stored at start-up must name the same device for the
// whole session, whatever is opened or closed meanwhile.
std::uint32_t CAlsaWaveDevices::WaveInCount() {
    EnsureEnumerated();
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<std::uint32_t>(m_inputs.size());
}

std::uint32_t CAlsaWaveDevices::WaveOutCount() {
    EnsureEnumerated();
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<std::uint32_t>(m_outputs.size());
}

bool CAlsaWaveDevices::Resolve(std::uint32_t deviceId, bool input, std::string& pcm) {
    if (deviceId == WAVE_MAPPER) {
        pcm = kMapperPcm;
        return true;
    }
    EnsureEnumerated();
    std::lock_guard<std::mutex> guard(m_lock);
    const auto& list = input ? m_inputs : m_outputs;
    if (deviceId >= list.size()) return false;
    pcm = list[deviceId].pcm;
    return true;
}

MMRESULT CAlsaWaveDevices::WaveInName(std::uint32_t deviceId, std::string& name) {
    name.clear();
    if (deviceId == WAVE_MAPPER) {
        name = "Default recording device";
        return MMSYSERR_NOERROR;
    }
    EnsureEnumerated();
    std::lock_guard<std::mutex> guard(m_lock);
    if (deviceId >= m_inputs.size()) return MMSYSERR_BADDEVICEID;
    name = m_inputs[deviceId].description;
    return MMSYSERR_NOERROR;
}

MMRESULT CAlsaWaveDevices::OpenWaveIn(std::uint32_t deviceId, const WAVEFORMATEX& format,
                                      WindowHandle notify, std::unique_ptr<IWaveIn>& device) {
    device.reset();
    std::string pcm;
    if (!Resolve(deviceId, true, pcm)) return MMSYSERR_BADDEVICEID;
    auto in = std::make_unique<CAlsaWaveIn>(notify);
    MMRESULT rc = in->Open(pcm, format);
    if (rc != MMSYSERR_NOERROR) return rc;
    device = std::move(in);
    return MMSYSERR_NOERROR;
}

MMRESULT CAlsaWaveDevices::OpenWaveOut(std::uint32_t deviceId, const WAVEFORMATEX& format,
                                       WindowHandle notify, std::unique_ptr<IWaveOut>& device) {
    device.reset();
    std::string pcm;
    if (!Resolve(deviceId, false, pcm)) return MMSYSERR_BADDEVICEID;
    auto out = std::make_unique<CAlsaWaveOut>(notify);
    MMRESULT rc = out->Open(pcm, format);
    if (rc != MMSYSERR_NOERROR) return rc;
    device = std::move(out);
    return MMSYSERR_NOERROR;
}

std::string CAlsaWaveDevices::WaveInErrorText(MMRESULT code) {
    return StandardWaveErrorText(code);
}

std::string CAlsaWaveDevices::WaveOutErrorText(MMRESULT code) {
    return StandardWaveErrorText(code);
}

}  // namespace vexa::platform
