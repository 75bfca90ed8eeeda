#include "lame_enc/CLameStream.h"

#include <cstdarg>
#include <cstdio>
#include <new>

namespace lame_enc {
namespace {

// A library must not write to the host's terminal.
void Quiet(const char*, va_list) {}

// The worst case libmp3lame documents for one call: 1.25 x samples per channel + 7200.
BE_DWORD OutputBound(BE_DWORD samplesPerChannel) {
    return samplesPerChannel + samplesPerChannel / 4 + 7200;
}

bool SetMode(lame_global_flags* gf, BE_LONG nMode) {
    switch (nMode) {
        case BE_MP3_MODE_STEREO:
        case BE_MP3_MODE_DUALCHANNEL:  // libmp3lame has no dual-channel coding; plain stereo
            return lame_set_mode(gf, STEREO) == 0;
        case BE_MP3_MODE_JSTEREO:
            return lame_set_mode(gf, JOINT_STEREO) == 0;
        case BE_MP3_MODE_MONO:
            return lame_set_mode(gf, MONO) == 0;
        default:
            return false;
    }
}

void SetVbr(lame_global_flags* gf, const decltype(BE_CONFIG::format.LHV1)& c) {
    vbr_mode mode = vbr_default;
    switch (c.nVbrMethod) {
        case VBR_METHOD_NONE:
            return;
        case VBR_METHOD_OLD:
            mode = vbr_rh;
            break;
        case VBR_METHOD_NEW:
        case VBR_METHOD_MTRH:
            mode = vbr_mtrh;
            break;
        case VBR_METHOD_ABR:
            mode = vbr_abr;
            break;
        default:
            break;
    }
    lame_set_VBR(gf, mode);
    BE_LONG q = c.nVBRQuality;
    lame_set_VBR_q(gf, q < 0 ? 0 : (q > 9 ? 9 : q));
    if (mode == vbr_abr && c.dwVbrAbr_bps > 0)
        lame_set_VBR_mean_bitrate_kbps(gf, static_cast<int>(c.dwVbrAbr_bps / 1000));
}

// The record's bitrates bound a VBR stream however it became one (a preset included), so they
// are set after the preset. The minimum holds for silent frames too, which libmp3lame would
// otherwise take down to its lowest rate.
void SetVbrBounds(lame_global_flags* gf, const decltype(BE_CONFIG::format.LHV1)& c) {
    if (lame_get_VBR(gf) == vbr_off) return;
    if (c.dwBitrate > 0) {
        lame_set_VBR_min_bitrate_kbps(gf, static_cast<int>(c.dwBitrate));
        lame_set_VBR_hard_min(gf, 1);
    }
    if (c.dwMaxBitrate > 0) lame_set_VBR_max_bitrate_kbps(gf, static_cast<int>(c.dwMaxBitrate));
}

// Presets come last, as they are meant to override the rate settings above them.
void ApplyPreset(lame_global_flags* gf, const decltype(BE_CONFIG::format.LHV1)& c) {
    switch (c.nPreset) {
        case LQP_NORMAL_QUALITY:
        case LQP_VOICE_QUALITY:
            lame_set_quality(gf, 5);
            break;
        case LQP_LOW_QUALITY:
            lame_set_quality(gf, 7);
            break;
        case LQP_HIGH_QUALITY:
            lame_set_quality(gf, 2);
            break;
        case LQP_VERYHIGH_QUALITY:
            lame_set_quality(gf, 0);
            break;
        case LQP_R3MIX:
            lame_set_preset(gf, R3MIX);
            break;
        case LQP_STANDARD:
            lame_set_preset(gf, STANDARD);
            break;
        case LQP_FAST_STANDARD:
            lame_set_preset(gf, STANDARD_FAST);
            break;
        case LQP_EXTREME:
            lame_set_preset(gf, EXTREME);
            break;
        case LQP_FAST_EXTREME:
            lame_set_preset(gf, EXTREME_FAST);
            break;
        case LQP_INSANE:
            lame_set_preset(gf, INSANE);
            break;
        case LQP_MEDIUM:
            lame_set_preset(gf, MEDIUM);
            break;
        case LQP_FAST_MEDIUM:
            lame_set_preset(gf, MEDIUM_FAST);
            break;
        case LQP_ABR: {
            BE_DWORD kbps = c.dwVbrAbr_bps / 1000;
            if (kbps >= ABR_8 && kbps <= ABR_320) lame_set_preset(gf, static_cast<int>(kbps));
            break;
        }
        case LQP_CBR:
            if (c.dwBitrate >= ABR_8 && c.dwBitrate <= ABR_320) {
                lame_set_preset(gf, static_cast<int>(c.dwBitrate));
                lame_set_VBR(gf, vbr_off);
                lame_set_brate(gf, static_cast<int>(c.dwBitrate));
            }
            break;
        default:
            break;
    }
}

}  // namespace

std::unique_ptr<CLameStream> CLameStream::Create(const BE_CONFIG& config, BE_ERR& err) {
    if (config.dwConfig != BE_CONFIG_LAME) {
        err = BE_ERR_INVALID_FORMAT;
        return nullptr;
    }
    const auto& c = config.format.LHV1;
    std::unique_ptr<CLameStream> stream(new CLameStream);
    lame_global_flags* gf = lame_init();
    if (gf == nullptr) {
        err = BE_ERR_NO_MORE_HANDLES;
        return nullptr;
    }
    stream->m_gf = gf;
    lame_set_errorf(gf, Quiet);
    lame_set_debugf(gf, Quiet);
    lame_set_msgf(gf, Quiet);

    stream->m_nChannels = c.nMode == BE_MP3_MODE_MONO ? 1 : 2;
    bool ok = c.dwSampleRate > 0 && c.dwSampleRate <= 48000 && SetMode(gf, c.nMode);
    ok = ok && lame_set_num_channels(gf, stream->m_nChannels) == 0;
    ok = ok && lame_set_in_samplerate(gf, static_cast<int>(c.dwSampleRate)) == 0;
    if (ok && c.dwReSampleRate != 0)
        ok = c.dwReSampleRate <= 48000 &&
             lame_set_out_samplerate(gf, static_cast<int>(c.dwReSampleRate)) == 0;
    if (!ok) {
        err = BE_ERR_INVALID_FORMAT_PARAMETERS;
        return nullptr;
    }
    if (c.dwBitrate > 0) lame_set_brate(gf, static_cast<int>(c.dwBitrate));
    lame_set_copyright(gf, c.bCopyright != 0);
    lame_set_original(gf, c.bOriginal != 0);
    lame_set_extension(gf, c.bPrivate != 0);
    lame_set_error_protection(gf, c.bCRC != 0);
    lame_set_strict_ISO(gf, c.bStrictIso != 0);
    lame_set_disable_reservoir(gf, c.bNoRes != 0);
    lame_set_bWriteVbrTag(gf, c.bWriteVBRHeader != 0);
    if (c.dwEmphasis <= 3) lame_set_emphasis(gf, static_cast<int>(c.dwEmphasis));
    BE_WORD quality = c.nQuality & 0xFF;
    if (quality <= 9 && quality == static_cast<BE_WORD>(~(c.nQuality >> 8) & 0xFF))
        lame_set_quality(gf, quality);
    if (c.bEnableVBR != 0) SetVbr(gf, c);
    ApplyPreset(gf, c);
    SetVbrBounds(gf, c);

    if (lame_init_params(gf) < 0) {
        err = BE_ERR_INVALID_FORMAT_PARAMETERS;
        return nullptr;
    }
    auto frame = static_cast<BE_DWORD>(lame_get_framesize(gf));
    stream->m_dwSamplesPerChunk = frame * static_cast<BE_DWORD>(stream->m_nChannels);
    stream->m_dwOutputSize = OutputBound(frame);
    err = BE_ERR_SUCCESSFUL;
    return stream;
}

CLameStream::~CLameStream() {
    Close();
}

BE_ERR CLameStream::Encode(BE_DWORD nSamples, const int16_t* pSamples, BE_BYTE* pOutput,
                           BE_DWORD* pdwOutput) {
    if (m_gf == nullptr || m_bFlushed) return BE_ERR_INVALID_HANDLE;
    if (pdwOutput == nullptr || pOutput == nullptr || (nSamples > 0 && pSamples == nullptr) ||
        nSamples % static_cast<BE_DWORD>(m_nChannels) != 0 || nSamples > 0x40000000u)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *pdwOutput = 0;
    if (nSamples == 0) return BE_ERR_SUCCESSFUL;
    int frames = static_cast<int>(nSamples / static_cast<BE_DWORD>(m_nChannels));
    int size = static_cast<int>(m_dwOutputSize);
    // libmp3lame takes the samples as non-const but does not write to them.
    auto* pcm = const_cast<short*>(reinterpret_cast<const short*>(pSamples));
    int n = m_nChannels == 1 ? lame_encode_buffer(m_gf, pcm, pcm, frames, pOutput, size)
                             : lame_encode_buffer_interleaved(m_gf, pcm, frames, pOutput, size);
    if (n == -1) return BE_ERR_BUFFER_TOO_SMALL;
    if (n < 0) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *pdwOutput = static_cast<BE_DWORD>(n);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR CLameStream::Flush(BE_BYTE* pOutput, BE_DWORD* pdwOutput) {
    if (m_gf == nullptr || m_bFlushed) return BE_ERR_INVALID_HANDLE;
    if (pOutput == nullptr || pdwOutput == nullptr) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *pdwOutput = 0;
    int n = lame_encode_flush(m_gf, pOutput, static_cast<int>(m_dwOutputSize));
    if (n == -1) return BE_ERR_BUFFER_TOO_SMALL;
    if (n < 0) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *pdwOutput = static_cast<BE_DWORD>(n);
    m_bFlushed = true;
    // The frame counts are final now; keep the tag so the encoder can be released at close.
    size_t need = lame_get_lametag_frame(m_gf, nullptr, 0);
    if (need > 0) {
        try {
            m_tag.resize(need);
        } catch (const std::bad_alloc&) {
            return BE_ERR_SUCCESSFUL;  // the file stays playable without its tag
        }
        if (lame_get_lametag_frame(m_gf, m_tag.data(), m_tag.size()) != need) m_tag.clear();
    }
    return BE_ERR_SUCCESSFUL;
}

void CLameStream::Close() {
    if (m_gf != nullptr) lame_close(m_gf);
    m_gf = nullptr;
}

BE_ERR CLameStream::WriteTag(const char* fileName) {
    if (!m_bFlushed) return BE_ERR_INVALID_HANDLE;
    if (fileName == nullptr) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (m_tag.empty()) return BE_ERR_SUCCESSFUL;  // no tag was asked for
    std::FILE* f = std::fopen(fileName, "r+b");
    if (f == nullptr) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    // The placeholder frame follows an ID3v2 tag when another tool has put one in front.
    long pos = 0;
    unsigned char head[10] = {};
    size_t got = std::fread(head, 1, sizeof head, f);
    if (got == sizeof head && head[0] == 'I' && head[1] == 'D' && head[2] == '3') {
        long size = ((head[6] & 0x7F) << 21) | ((head[7] & 0x7F) << 14) | ((head[8] & 0x7F) << 7) |
                    (head[9] & 0x7F);
        pos = 10 + size + ((head[5] & 0x10) != 0 ? 10 : 0);
    }
    // Overwrite only what looks like the placeholder: a frame header with room for the tag.
    unsigned char sync[2] = {};
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    long end = ok ? std::ftell(f) : -1;
    ok = ok && end >= pos + static_cast<long>(m_tag.size()) && std::fseek(f, pos, SEEK_SET) == 0 &&
         std::fread(sync, 1, 2, f) == 2 && sync[0] == 0xFF && (sync[1] & 0xE0) == 0xE0;
    ok = ok && std::fseek(f, pos, SEEK_SET) == 0 &&
         std::fwrite(m_tag.data(), 1, m_tag.size(), f) == m_tag.size();
    ok = (std::fclose(f) == 0) && ok;
    return ok ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_FORMAT;
}

}  // namespace lame_enc
