// The records, result codes and notification messages of the wave-in / wave-out devices and the
// mixer, laid out as the multimedia system of the desktop defines them.
#pragma once

#include <cstdint>

namespace vexa::platform {

using MMRESULT = std::uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
constexpr MMRESULT MIXERR_INVALVALUE = 1026;

// Selects the system's default device instead of a numbered one.
constexpr std::uint32_t WAVE_MAPPER = 0xFFFFFFFFu;

// Notifications posted to a device's window: wParam is the device's serial (IWaveIn::Serial),
// lParam the returned WAVEHDR* for the DONE/DATA messages.
constexpr std::uint32_t MM_WOM_OPEN = 0x3BB;
constexpr std::uint32_t MM_WOM_CLOSE = 0x3BC;
constexpr std::uint32_t MM_WOM_DONE = 0x3BD;
constexpr std::uint32_t MM_WIM_OPEN = 0x3BE;
constexpr std::uint32_t MM_WIM_CLOSE = 0x3BF;
constexpr std::uint32_t MM_WIM_DATA = 0x3C0;
constexpr std::uint32_t MM_MOM_DONE = 0x3C9;
// A mixer control changed: lParam is the control id.
constexpr std::uint32_t MM_MIXM_CONTROL_CHANGE = 0x3D1;

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "the format record is stored as 18 bytes");

constexpr std::uint32_t WHDR_DONE = 0x01;
constexpr std::uint32_t WHDR_PREPARED = 0x02;
constexpr std::uint32_t WHDR_INQUEUE = 0x10;

// One sample buffer handed to a device. It belongs to the device from queueing until the
// device returns it in a DONE/DATA message.
struct WAVEHDR {
    std::uint8_t* lpData;
    std::uint32_t dwBufferLength;
    std::uint32_t dwBytesRecorded;
    std::uintptr_t dwUser;
    std::uint32_t dwFlags;
    std::uint32_t dwLoops;
    WAVEHDR* lpNext;
    std::uintptr_t reserved;
};

}  // namespace vexa::platform
