// The BladeEnc-style MP3 encoder interface offered by liblame_enc.so: the seven "be" entry points
// and their records, with fixed-width types so the layout is the same on every platform.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t BE_DWORD;
typedef int32_t BE_LONG;
typedef int32_t BE_BOOL;
typedef uint16_t BE_WORD;
typedef uint8_t BE_BYTE;
typedef uint32_t BE_ERR;
// A stream handle is as wide as a pointer, so that loaders may keep it where they keep one.
typedef uintptr_t HBE_STREAM;

#define BE_ERR_SUCCESSFUL 0x00000000u
#define BE_ERR_INVALID_FORMAT 0x00000001u
#define BE_ERR_INVALID_FORMAT_PARAMETERS 0x00000002u
#define BE_ERR_NO_MORE_HANDLES 0x00000003u
#define BE_ERR_INVALID_HANDLE 0x00000004u
#define BE_ERR_BUFFER_TOO_SMALL 0x00000005u

// dwConfig: only the LAME layout of the record is understood.
#define BE_CONFIG_MP3 0
#define BE_CONFIG_LAME 256

#define BE_MP3_MODE_STEREO 0
#define BE_MP3_MODE_JSTEREO 1
#define BE_MP3_MODE_DUALCHANNEL 2
#define BE_MP3_MODE_MONO 3

#define MPEG1 1
#define MPEG2 0

#define BE_MAX_HOMEPAGE 128

// nPreset values. The numbered "LQP_" presets of older interfaces above LQP_FAST_MEDIUM are not
// offered and are treated as no preset.
#define LQP_NOPRESET (-1)
#define LQP_NORMAL_QUALITY 0
#define LQP_LOW_QUALITY 1
#define LQP_HIGH_QUALITY 2
#define LQP_VOICE_QUALITY 3
#define LQP_R3MIX 4
#define LQP_VERYHIGH_QUALITY 5
#define LQP_STANDARD 6
#define LQP_FAST_STANDARD 7
#define LQP_EXTREME 8
#define LQP_FAST_EXTREME 9
#define LQP_INSANE 10
#define LQP_ABR 11
#define LQP_CBR 12
#define LQP_MEDIUM 13
#define LQP_FAST_MEDIUM 14

// nVbrMethod values.
#define VBR_METHOD_NONE (-1)
#define VBR_METHOD_DEFAULT 0
#define VBR_METHOD_OLD 1
#define VBR_METHOD_NEW 2
#define VBR_METHOD_MTRH 3
#define VBR_METHOD_ABR 4

#pragma pack(push, 1)

typedef struct {
    BE_DWORD dwConfig;  // BE_CONFIG_LAME
    union {
        struct {
            BE_DWORD dwStructVersion;  // 1
            BE_DWORD dwStructSize;     // sizeof(BE_CONFIG)
            BE_DWORD dwSampleRate;     // input rate in Hz
            BE_DWORD dwReSampleRate;   // output rate, 0 = chosen by the encoder
            BE_LONG nMode;             // BE_MP3_MODE_*; MONO means one input channel, else two
            BE_DWORD dwBitrate;        // CBR rate, or the lowest VBR rate, in kbit/s
            BE_DWORD dwMaxBitrate;     // highest VBR rate in kbit/s, 0 = encoder's choice
            BE_LONG nPreset;           // LQP_*
            BE_DWORD dwMpegVersion;    // MPEG1 or MPEG2; the output rate decides in the end
            BE_DWORD dwPsyModel;       // unused
            BE_DWORD dwEmphasis;       // 0 none, 1 50/15 us, 3 CCITT J.17
            BE_BOOL bPrivate;
            BE_BOOL bCRC;
            BE_BOOL bCopyright;
            BE_BOOL bOriginal;
            BE_BOOL bWriteVBRHeader;  // reserve the first frame for the Info/Xing tag
            BE_BOOL bEnableVBR;
            BE_LONG nVBRQuality;  // 0 (best) .. 9
            BE_DWORD dwVbrAbr_bps;
            BE_LONG nVbrMethod;  // VBR_METHOD_*
            BE_BOOL bNoRes;      // no bit reservoir
            BE_BOOL bStrictIso;
            // Encoder quality 0 (best) .. 9 in the low byte, used only when the high byte holds
            // its complement, so that a zero-filled record keeps the encoder's default.
            BE_WORD nQuality;
            BE_BYTE btReserved[255 - 4 * sizeof(BE_DWORD) - sizeof(BE_WORD)];
        } LHV1;
    } format;
} BE_CONFIG, *PBE_CONFIG;

typedef struct {
    BE_BYTE byDLLMajorVersion;
    BE_BYTE byDLLMinorVersion;
    BE_BYTE byMajorVersion;  // encoder engine
    BE_BYTE byMinorVersion;
    BE_BYTE byDay;  // build date
    BE_BYTE byMonth;
    BE_WORD wYear;
    char zHomepage[BE_MAX_HOMEPAGE + 1];
    BE_BYTE byAlphaLevel;
    BE_BYTE byBetaLevel;
    BE_BYTE byMMXEnabled;
    BE_BYTE btReserved[125];
} BE_VERSION, *PBE_VERSION;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(BE_CONFIG) == 331, "BE_CONFIG layout");
static_assert(sizeof(BE_VERSION) == 265, "BE_VERSION layout");
#else
_Static_assert(sizeof(BE_CONFIG) == 331, "BE_CONFIG layout");
_Static_assert(sizeof(BE_VERSION) == 265, "BE_VERSION layout");
#endif

// dwSamples: 16-bit samples (all channels) to give per beEncodeChunk call; dwBufferSize: the
// smallest output buffer beEncodeChunk and beDeinitStream may be given.
typedef BE_ERR (*BEINITSTREAM)(PBE_CONFIG pbeConfig, BE_DWORD* dwSamples, BE_DWORD* dwBufferSize,
                               HBE_STREAM* phbeStream);
// nSamples 16-bit samples, interleaved when the stream has two channels.
typedef BE_ERR (*BEENCODECHUNK)(HBE_STREAM hbeStream, BE_DWORD nSamples, int16_t* pSamples,
                                BE_BYTE* pOutput, BE_DWORD* pdwOutput);
// Flushes the encoder; no chunk may follow.
typedef BE_ERR (*BEDEINITSTREAM)(HBE_STREAM hbeStream, BE_BYTE* pOutput, BE_DWORD* pdwOutput);
// Ends the stream. After a deinit the handle stays good for one beWriteInfoTag call.
typedef BE_ERR (*BECLOSESTREAM)(HBE_STREAM hbeStream);
typedef void (*BEVERSION)(PBE_VERSION pbeVersion);
// Writes the tag of the most recently closed stream into the named file.
typedef BE_ERR (*BEWRITEVBRHEADER)(const char* lpszFileName);
// Writes the tag of the given closed stream into the named file and releases the handle.
typedef BE_ERR (*BEWRITEINFOTAG)(HBE_STREAM hbeStream, const char* lpszFileName);

#define TEXT_BEINITSTREAM "beInitStream"
#define TEXT_BEENCODECHUNK "beEncodeChunk"
#define TEXT_BEDEINITSTREAM "beDeinitStream"
#define TEXT_BECLOSESTREAM "beCloseStream"
#define TEXT_BEVERSION "beVersion"
#define TEXT_BEWRITEVBRHEADER "beWriteVBRHeader"
#define TEXT_BEWRITEINFOTAG "beWriteInfoTag"

#ifdef __cplusplus
}
#endif
