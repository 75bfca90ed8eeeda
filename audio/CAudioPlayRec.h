// The recorder and player engine: captures from a wave-in device into up to two output tracks
// (each a WAV file, an MP3 file or both) and plays "test.wav" back through a wave-out device.
// It is a hidden message target of the UI loop; every device notification is handled there.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio/CRiffFile.h"
#include "platform/audio/IWaveDevices.h"
#include "platform/audio/WaveTypes.h"
#include "platform/core/UiLoop.h"

namespace vexa {

// The encoder library's interface (BladeEnc style). Results are the library's codes, 0 success.
using HBE_STREAM = std::uintptr_t;
using BE_ERR = std::uint32_t;
using BEINITSTREAM = BE_ERR (*)(void* config, std::uint32_t* samples, std::uint32_t* bufferSize,
                                HBE_STREAM* stream);
using BEENCODECHUNK = BE_ERR (*)(HBE_STREAM stream, std::uint32_t samples, const std::int16_t* pcm,
                                 std::uint8_t* output, std::uint32_t* outputBytes);
using BEDEINITSTREAM = BE_ERR (*)(HBE_STREAM stream, std::uint8_t* output,
                                  std::uint32_t* outputBytes);
using BECLOSESTREAM = BE_ERR (*)(HBE_STREAM stream);
using BEVERSION = void (*)(void* version);
using BEWRITEVBRHEADER = BE_ERR (*)(const char* mp3FileName);
using BEWRITEINFOTAG = BE_ERR (*)(HBE_STREAM stream, const char* mp3FileName);

// Drawing resources and the drawing surface of the waveform display, defined with the display.
struct ScopeResources;
struct ScopeResourcesDeleter {
    void operator()(ScopeResources* resources) const;
};
struct ScopeDC;

struct ScopeRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

class CAudioPlayRec : public platform::IMessageTarget {
  public:
    enum State { Idle = 0, Ready = 1, Playing = 2, Recording = 3, Stopping = 4 };
    static constexpr int kTracks = 2;
    static constexpr std::uintptr_t TIMER_CAPTURE_STOP = 1;
    static constexpr std::uintptr_t TIMER_PLAYBACK_STOP = 2;
    static constexpr std::uint32_t kStopTimerMs = 1000;
    static constexpr std::uint32_t kSizeUpdateMs = 1000;

    // Called after each wave message is handled, with the message number and the owner context.
    using NotifyProc = void (*)(std::uint32_t msg, void* context);

    CAudioPlayRec();
    ~CAudioPlayRec() override;
    CAudioPlayRec(const CAudioPlayRec&) = delete;
    CAudioPlayRec& operator=(const CAudioPlayRec&) = delete;

    // Binds the device (capture and playback alike; WAVE_MAPPER for the default) and creates the
    // engine's window. May be called again at any time: it first closes whatever runs.
    bool Create(std::uint32_t deviceId, platform::WindowHandle parent, void* owner);
    bool StartRecording(int channelMode);
    int GetState() const { return m_nState; }
    // Track 0 or 1; a name ending in ".mp3" (any case) gives an MP3 output, every other name a
    // WAV file. A relative name lives in the recording folder (RecordingPath).
    bool OpenOutput(int track, const std::string& name);
    // Returns at once; the device is closed by the last returning buffer or the stop timer.
    void Stop();
    // Plays "test.wav" of the recording folder.
    bool Play();

    void SetNotify(NotifyProc proc, void* context);
    platform::WindowHandle GetWindow() const { return m_hWnd; }
    const std::string& GetDeviceName() const { return m_strDeviceName; }
    std::uint32_t GetDeviceId() const { return m_nDeviceId; }

    // Where the recording files live: a relative name is taken inside platform::StateFolder().
    static std::string RecordingPath(const std::string& name);

    // Display.
    void SetBackColor(std::uint32_t colour);

    // The window procedure: wave messages and timers.
    void OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override;

  private:
    // Engine.
    void SelectDevice(std::uint32_t deviceId);
    void SetCaptureFormat(int channelMode);
    bool PrepareBuffers();
    void FreeBuffers();
    bool AddInputBufferToQueue(int index);
    void OnInputBufferDone(platform::WAVEHDR* header);
    std::uint32_t SplitChannels(std::uint16_t bitsPerSample, const std::uint8_t* data,
                                std::uint32_t length);
    void CloseOutput(const char* kind, int track);
    void CloseRecording();
    void CloseAll();
    void ReportWaveError(const char* text, platform::MMRESULT code);
    bool PreTranslateWaveMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
    void OnTimer(std::uintptr_t id);
    bool CreateEngineWindow();
    bool HasAnyOutputOpen() const;

    // WAV files.
    bool CreateWaveFile(const std::string& name, int track);
    void FinishWaveFile(int track);
    bool OpenPlaybackFile();
    void KeepWaveSizesCurrent(int track);

    // MP3 output.
    bool LoadEncoder();
    bool OpenMp3Stream(int track, const std::string& name);
    void StageMp3Data(int track, const std::uint8_t* data, std::uint32_t length);
    bool EncodeChunk(int track, const std::uint8_t* samples, std::uint32_t bytes);
    void FinishMp3Stream(int track);
    void UnloadEncoder();
    void ResetEncoder();

    // Display.
    bool CreateScopeWindow(platform::WindowHandle parent);
    void DrawBackground(ScopeDC& dc);
    void DrawWave(std::uint32_t bytesPerChannel);
    // Marks the display for repainting: everything, or only the device name's corner.
    void InvalidateScope(bool nameOnly);

    // Playback.
    bool ReadPlaybackData(std::uint8_t* buffer, std::uint32_t& length);
    bool QueueOutputBuffer(int index, std::uint32_t length);
    void OnOutputBufferDone(platform::WAVEHDR* header);
    void ClosePlayback();

    platform::WindowHandle m_hWnd = 0;
    platform::WindowHandle m_hParent = 0;

    std::string m_strDeviceName;
    int m_nQueued = 0;
    NotifyProc m_pfnNotify = nullptr;
    void* m_pNotifyContext = nullptr;

    // Display objects.
    std::unique_ptr<ScopeResources, ScopeResourcesDeleter> m_pScope;
    std::uint32_t m_crBackColor = 0;
    ScopeRect m_rcClient;

    int m_nState = Idle;
    bool m_bRecording = false;
    std::uint32_t m_nDeviceId = platform::WAVE_MAPPER;
    platform::WAVEFORMATEX m_wfx{};
    int m_nChannelMode = 0;
    std::unique_ptr<platform::IWaveIn> m_hWaveIn;
    std::unique_ptr<platform::IWaveOut> m_hWaveOut;
    // Serials of the devices opened last: their late close notifications still count, while
    // notifications of any earlier device are stale.
    std::uintptr_t m_uWaveInSerial = 0;
    std::uintptr_t m_uWaveOutSerial = 0;
    std::vector<std::unique_ptr<std::uint8_t[]>> m_ppBuffers;
    std::unique_ptr<std::uint8_t[]> m_pLeft;
    std::unique_ptr<std::uint8_t[]> m_pRight;
    std::vector<std::unique_ptr<platform::WAVEHDR>> m_ppHeaders;
    std::uint32_t m_dwBufferSize = 1024;
    std::uint16_t m_wBufferCount = 0;
    std::unique_ptr<CRiffFile> m_hWaveFile[kTracks];
    RiffChunk m_ckRiff[kTracks];
    RiffChunk m_ckChunk[kTracks];
    std::uint64_t m_uLastSizeUpdate[kTracks] = {0, 0};

    // Encoder.
    std::vector<std::uint8_t> m_pMp3Buffer[kTracks];
    std::vector<std::uint8_t> m_pPcmBuffer[kTracks];
    std::FILE* m_pMp3File[kTracks] = {nullptr, nullptr};
    std::string m_strMp3Name[kTracks];
    std::uint32_t m_dwPcmFill[kTracks] = {0, 0};
    HBE_STREAM m_hbeStream[kTracks] = {0, 0};
    void* m_hLameDll = nullptr;
    std::uint32_t m_dwPcmBufferSize = 0;
    BEINITSTREAM m_ForMp3_Proc_hInitStream = nullptr;
    BEENCODECHUNK m_ForMp3_Proc_hEncodeChunk = nullptr;
    BEDEINITSTREAM m_ForMp3_Proc_hDeinitStream = nullptr;
    BECLOSESTREAM m_ForMp3_Proc_hCloseStream = nullptr;
    BEVERSION m_ForMp3_Proc_hVersion = nullptr;
    BEWRITEVBRHEADER m_ForMp3_Proc_hWriteVBRHeader = nullptr;
    BEWRITEINFOTAG m_ForMp3_Proc_hWriteInfoTag = nullptr;
    std::uint32_t m_dwSamples = 0;
};

// The first wave-in device whose recording volume control is available, trying the device
// numbers from 0 upward; WAVE_MAPPER when none has one.
std::uint32_t FindInputDevice();

}  // namespace vexa
