#include "tests/fakes/CSimWaveDevice.h"

#include <algorithm>

namespace vexa::testing {

using namespace platform;

class CSimWaveDevices::CDevice : public IMessageTarget {
  public:
    CDevice(CSimWaveDevices& owner, bool input, const WAVEFORMATEX& format, WindowHandle notify)
        : m_owner(owner),
          m_input(input),
          m_format(format),
          m_notify(notify),
          m_serial(owner.m_nextSerial++) {
        m_window = UiLoop().AddTarget(this);
        owner.m_devices.push_back(this);
        (input ? owner.openIn : owner.openOut)++;
        Post(input ? MM_WIM_OPEN : MM_WOM_OPEN, 0);
    }
    ~CDevice() override {
        UiLoop().RemoveTarget(m_window);
        auto& list = m_owner.m_devices;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        if (!m_closed) (m_input ? m_owner.openIn : m_owner.openOut)--;
    }

    std::uintptr_t Serial() const { return m_serial; }
    int Queued() const { return static_cast<int>(m_queue.size()); }
    bool Input() const { return m_input; }

    MMRESULT Call(const char* op) {
        std::string name = std::string(m_input ? "in." : "out.") + op;
        m_owner.calls[name]++;
        MMRESULT code = MMSYSERR_NOERROR;
        if (m_closed) return MMSYSERR_INVALHANDLE;
        m_owner.ShouldFail(name, code);
        return code;
    }

    MMRESULT Prepare(WAVEHDR* header) {
        MMRESULT rc = Call("prepare");
        if (rc != MMSYSERR_NOERROR) return rc;
        if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    MMRESULT Unprepare(WAVEHDR* header) {
        MMRESULT rc = Call("unprepare");
        if (rc != MMSYSERR_NOERROR) return rc;
        if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        header->dwFlags &= ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    MMRESULT Queue(WAVEHDR* header, const char* op) {
        MMRESULT rc = Call(op);
        if (rc != MMSYSERR_NOERROR) return rc;
        if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
        if (header->dwFlags & WHDR_INQUEUE) return MMSYSERR_INVALPARAM;
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        header->dwBytesRecorded = 0;
        m_queue.push_back({header, 0});
        if (!m_input) {
            m_owner.maxOutQueued = std::max(m_owner.maxOutQueued, Queued());
            if (!m_running && !m_paused) Run();
        }
        return MMSYSERR_NOERROR;
    }
    MMRESULT Start() {
        MMRESULT rc = Call("start");
        if (rc != MMSYSERR_NOERROR) return rc;
        if (!m_running) Run();
        return MMSYSERR_NOERROR;
    }
    MMRESULT Pause() {
        MMRESULT rc = Call("pause");
        if (rc != MMSYSERR_NOERROR) return rc;
        Halt();
        m_paused = true;
        return MMSYSERR_NOERROR;
    }
    MMRESULT Reset() {
        MMRESULT rc = Call("reset");
        if (rc != MMSYSERR_NOERROR) return rc;
        Halt();
        while (!m_queue.empty()) Return();
        PostReturned();
        return MMSYSERR_NOERROR;
    }
    MMRESULT Close() {
        MMRESULT rc = Call("close");
        if (rc != MMSYSERR_NOERROR) return rc;
        if (!m_queue.empty()) return WAVERR_STILLPLAYING;
        Halt();
        m_closed = true;
        (m_input ? m_owner.openIn : m_owner.openOut)--;
        Post(m_input ? MM_WIM_CLOSE : MM_WOM_CLOSE, 0);
        return MMSYSERR_NOERROR;
    }

    void OnMessage(std::uint32_t msg, std::uintptr_t, std::intptr_t) override {
        if (msg != WM_TIMER || !m_running) return;
        std::uint64_t now = UiLoop().NowMs();
        std::uint64_t due = (now - m_startMs) * m_format.nAvgBytesPerSec / 1000;
        std::uint32_t block = std::max<std::uint32_t>(m_format.nBlockAlign, 1);
        due -= due % block;
        while (m_doneBytes < due) {
            std::uint64_t step = due - m_doneBytes;
            if (m_queue.empty()) {
                if (m_input) m_owner.droppedBytes += step;
                m_doneBytes = due;
                if (!m_input) {
                    // Ran dry: playing resumes when the next buffer arrives.
                    Halt();
                }
                break;
            }
            Entry& front = m_queue.front();
            WAVEHDR* header = front.header;
            std::uint64_t room = header->dwBufferLength - front.done;
            std::uint64_t take = std::min(step, room);
            for (std::uint64_t i = 0; i < take; ++i) {
                if (m_input) {
                    std::uint8_t byte = m_owner.source ? m_owner.source(m_streamBytes + i)
                                                       : DefaultSample(m_streamBytes + i);
                    header->lpData[front.done + i] = byte;
                    m_owner.captured.push_back(byte);
                } else {
                    m_owner.played.push_back(header->lpData[front.done + i]);
                }
            }
            front.done += static_cast<std::uint32_t>(take);
            m_streamBytes += take;
            m_doneBytes += take;
            if (front.done >= header->dwBufferLength) Return();
        }
        PostReturned();
    }

  private:
    struct Entry {
        WAVEHDR* header;
        std::uint32_t done;
    };
    static std::uint8_t DefaultSample(std::uint64_t offset) {
        std::uint64_t value = offset / 2;
        return static_cast<std::uint8_t>(offset % 2 == 0 ? value : value >> 8);
    }
    void Run() {
        m_running = true;
        m_paused = false;
        m_startMs = UiLoop().NowMs();
        m_doneBytes = 0;
        UiLoop().SetTimer(m_window, 1, m_owner.tickMs);
    }
    void Halt() {
        m_running = false;
        UiLoop().KillTimer(m_window, 1);
    }
    void Return() {
        Entry front = m_queue.front();
        m_queue.pop_front();
        front.header->dwFlags = (front.header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        if (m_input) front.header->dwBytesRecorded = front.done;
        m_returned.push_back(front.header);
    }
    // The last thing a call does: a loop that runs the owner's handler at once lets the owner
    // close and release this device before the posts return.
    void PostReturned() {
        std::vector<WAVEHDR*> returned;
        returned.swap(m_returned);
        WindowHandle notify = m_notify;
        std::uint32_t msg = m_input ? MM_WIM_DATA : MM_WOM_DONE;
        std::uintptr_t serial = m_serial;
        if (notify == 0) return;
        for (WAVEHDR* header : returned)
            UiLoop().PostMessage(notify, msg, serial, reinterpret_cast<std::intptr_t>(header));
    }
    void Post(std::uint32_t msg, std::intptr_t lParam) {
        if (m_notify != 0) UiLoop().PostMessage(m_notify, msg, m_serial, lParam);
    }

    CSimWaveDevices& m_owner;
    bool m_input;
    WAVEFORMATEX m_format;
    WindowHandle m_notify;
    std::uintptr_t m_serial;
    WindowHandle m_window = 0;
    std::deque<Entry> m_queue;
    std::vector<WAVEHDR*> m_returned;
    bool m_running = false;
    bool m_paused = false;
    bool m_closed = false;
    std::uint64_t m_startMs = 0;
    std::uint64_t m_doneBytes = 0;
    std::uint64_t m_streamBytes = 0;
};

namespace {

class CSimWaveIn : public IWaveIn {
  public:
    explicit CSimWaveIn(std::unique_ptr<CSimWaveDevices::CDevice> device, std::uint32_t mixer,
                        bool hasMixer)
        : m_device(std::move(device)), m_mixer(mixer), m_hasMixer(hasMixer) {}
    std::uintptr_t Serial() const override { return m_device->Serial(); }
    MMRESULT PrepareHeader(WAVEHDR* h) override { return m_device->Prepare(h); }
    MMRESULT UnprepareHeader(WAVEHDR* h) override { return m_device->Unprepare(h); }
    MMRESULT AddBuffer(WAVEHDR* h) override { return m_device->Queue(h, "add"); }
    MMRESULT Start() override { return m_device->Start(); }
    MMRESULT Reset() override { return m_device->Reset(); }
    MMRESULT Close() override { return m_device->Close(); }
    MMRESULT GetMixerId(std::uint32_t& id) override {
        if (!m_hasMixer) return MMSYSERR_NODRIVER;
        id = m_mixer;
        return MMSYSERR_NOERROR;
    }

  private:
    std::unique_ptr<CSimWaveDevices::CDevice> m_device;
    std::uint32_t m_mixer;
    bool m_hasMixer;
};

class CSimWaveOut : public IWaveOut {
  public:
    explicit CSimWaveOut(std::unique_ptr<CSimWaveDevices::CDevice> device)
        : m_device(std::move(device)) {}
    std::uintptr_t Serial() const override { return m_device->Serial(); }
    MMRESULT PrepareHeader(WAVEHDR* h) override { return m_device->Prepare(h); }
    MMRESULT UnprepareHeader(WAVEHDR* h) override { return m_device->Unprepare(h); }
    MMRESULT Write(WAVEHDR* h) override { return m_device->Queue(h, "write"); }
    MMRESULT Pause() override { return m_device->Pause(); }
    MMRESULT Reset() override { return m_device->Reset(); }
    MMRESULT Close() override { return m_device->Close(); }

  private:
    std::unique_ptr<CSimWaveDevices::CDevice> m_device;
};

}  // namespace

CSimWaveDevices::CSimWaveDevices() {
    SetWaveDevices(this);
}

CSimWaveDevices::~CSimWaveDevices() {
    SetWaveDevices(nullptr);
}

void CSimWaveDevices::Fail(const std::string& op, MMRESULT code, int skip, int times) {
    m_failures[op] = FailRule{code, skip, times};
}

bool CSimWaveDevices::ShouldFail(const std::string& op, MMRESULT& code) {
    auto it = m_failures.find(op);
    if (it == m_failures.end()) return false;
    FailRule& rule = it->second;
    if (rule.skip > 0) {
        --rule.skip;
        return false;
    }
    if (rule.times == 0) return false;
    if (rule.times > 0) --rule.times;
    code = rule.code;
    return true;
}

int CSimWaveDevices::InQueued() const {
    int n = 0;
    for (const CDevice* d : m_devices)
        if (d->Input()) n += d->Queued();
    return n;
}

int CSimWaveDevices::OutQueued() const {
    int n = 0;
    for (const CDevice* d : m_devices)
        if (!d->Input()) n += d->Queued();
    return n;
}

MMRESULT CSimWaveDevices::WaveInName(std::uint32_t deviceId, std::string& name) {
    if (deviceId == WAVE_MAPPER) {
        name = "Sim Sound Mapper";
        return MMSYSERR_NOERROR;
    }
    if (deviceId >= inCount) return MMSYSERR_BADDEVICEID;
    name = deviceId < inNames.size() ? inNames[deviceId] : "Sim Input " + std::to_string(deviceId);
    return MMSYSERR_NOERROR;
}

MMRESULT CSimWaveDevices::OpenWaveIn(std::uint32_t deviceId, const WAVEFORMATEX& format,
                                     WindowHandle notify, std::unique_ptr<IWaveIn>& device) {
    device.reset();
    calls["in.open"]++;
    MMRESULT code = MMSYSERR_NOERROR;
    if (ShouldFail("in.open", code)) return code;
    if (deviceId != WAVE_MAPPER && deviceId >= inCount) return MMSYSERR_BADDEVICEID;
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels == 0) return WAVERR_BADFORMAT;
    inFormats.push_back(format);
    inDeviceIds.push_back(deviceId);
    std::uint32_t id = deviceId == WAVE_MAPPER ? 0 : deviceId;
    bool hasMixer = std::find(noMixer.begin(), noMixer.end(), id) == noMixer.end();
    auto it = mixerOf.find(id);
    device = std::make_unique<CSimWaveIn>(std::make_unique<CDevice>(*this, true, format, notify),
                                          it == mixerOf.end() ? id : it->second, hasMixer);
    return MMSYSERR_NOERROR;
}

MMRESULT CSimWaveDevices::OpenWaveOut(std::uint32_t deviceId, const WAVEFORMATEX& format,
                                      WindowHandle notify, std::unique_ptr<IWaveOut>& device) {
    device.reset();
    calls["out.open"]++;
    MMRESULT code = MMSYSERR_NOERROR;
    if (ShouldFail("out.open", code)) return code;
    if (deviceId != WAVE_MAPPER && deviceId >= outCount) return MMSYSERR_BADDEVICEID;
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels == 0) return WAVERR_BADFORMAT;
    outFormats.push_back(format);
    outDeviceIds.push_back(deviceId);
    device = std::make_unique<CSimWaveOut>(std::make_unique<CDevice>(*this, false, format, notify));
    return MMSYSERR_NOERROR;
}

std::string CSimWaveDevices::WaveInErrorText(MMRESULT code) {
    return "in: " + StandardWaveErrorText(code);
}

std::string CSimWaveDevices::WaveOutErrorText(MMRESULT code) {
    return "out: " + StandardWaveErrorText(code);
}

}  // namespace vexa::testing
