// The MP3 output of the recorder: the encoder library is loaded once per capture, every track
// with an MP3 output has its own encoder stream, staging area and file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "audio/CAudioPlayRec.h"
#include "lame_enc/BladeMP3EncDLL.h"
#include "lame_enc/EncoderLibraryDigest.h"
#include "platform/core/MessageBox.h"
#include "platform/dynlib/DynamicLibrary.h"

namespace vexa {
namespace {

constexpr char kEncoderLibrary[] = "lame_enc";

std::string WithCode(const char* text, BE_ERR code) {
    return std::string(text) + " (" + std::to_string(static_cast<unsigned long>(code)) + ")";
}

template <typename Proc>
Proc Resolve(platform::LibraryHandle library, const char* name) {
    return reinterpret_cast<Proc>(platform::GetLibrarySymbol(library, name));
}

}  // namespace

bool CAudioPlayRec::LoadEncoder() {
    if (m_hLameDll != nullptr) return true;
    // A fetched copy counts only when it is the library this program was built with; one that
    // is not counts as missing.
    platform::LibraryHandle library =
        platform::LoadDynamicLibrary(kEncoderLibrary, kEncoderLibrarySha256);
    if (library == nullptr) {
        platform::ShowMessageBox("Error loading lame_enc.DLL");
        return false;
    }
    m_hLameDll = library;
    m_ForMp3_Proc_hInitStream = Resolve<BEINITSTREAM>(library, TEXT_BEINITSTREAM);
    m_ForMp3_Proc_hEncodeChunk = Resolve<BEENCODECHUNK>(library, TEXT_BEENCODECHUNK);
    m_ForMp3_Proc_hDeinitStream = Resolve<BEDEINITSTREAM>(library, TEXT_BEDEINITSTREAM);
    m_ForMp3_Proc_hCloseStream = Resolve<BECLOSESTREAM>(library, TEXT_BECLOSESTREAM);
    m_ForMp3_Proc_hVersion = Resolve<BEVERSION>(library, TEXT_BEVERSION);
    m_ForMp3_Proc_hWriteVBRHeader = Resolve<BEWRITEVBRHEADER>(library, TEXT_BEWRITEVBRHEADER);
    m_ForMp3_Proc_hWriteInfoTag = Resolve<BEWRITEINFOTAG>(library, TEXT_BEWRITEINFOTAG);
    if (m_ForMp3_Proc_hInitStream == nullptr || m_ForMp3_Proc_hEncodeChunk == nullptr ||
        m_ForMp3_Proc_hDeinitStream == nullptr || m_ForMp3_Proc_hCloseStream == nullptr ||
        m_ForMp3_Proc_hVersion == nullptr || m_ForMp3_Proc_hWriteVBRHeader == nullptr) {
        platform::ShowMessageBox("Unable to get LAME interfaces");
        UnloadEncoder();
        return false;
    }
    BE_VERSION version;
    std::memset(&version, 0, sizeof version);
    m_ForMp3_Proc_hVersion(&version);
    return true;
}

bool CAudioPlayRec::OpenMp3Stream(int track, const std::string& name) {
    if (m_hLameDll == nullptr) return false;
    if (m_pMp3File[track] != nullptr) return true;
    m_strMp3Name[track] = name;

    // Each track of channel mode 2 carries one side of the stereo capture.
    bool oneChannel = m_wfx.nChannels == 1 || m_nChannelMode == 2;
    BE_CONFIG config;
    std::memset(&config, 0, sizeof config);
    config.dwConfig = BE_CONFIG_LAME;
    auto& lhv1 = config.format.LHV1;
    lhv1.dwStructVersion = 1;
    lhv1.dwStructSize = sizeof config;
    lhv1.dwSampleRate = m_wfx.nSamplesPerSec;
    lhv1.dwReSampleRate = 0;
    lhv1.nMode = oneChannel ? BE_MP3_MODE_MONO : BE_MP3_MODE_JSTEREO;
    lhv1.dwBitrate = 64;
    lhv1.dwMaxBitrate = 0;
    lhv1.nPreset = LQP_R3MIX;
    lhv1.dwMpegVersion = MPEG1;
    lhv1.bOriginal = 1;
    lhv1.bWriteVBRHeader = 1;
    lhv1.bNoRes = 1;

    std::uint32_t outputSize = 0;
    BE_ERR err = m_ForMp3_Proc_hInitStream(&config, &m_dwSamples, &outputSize, &m_hbeStream[track]);
    m_dwPcmBufferSize = static_cast<std::uint32_t>(m_wBufferCount) * m_dwBufferSize;
    if (err != 0) {
        platform::ShowMessageBox(WithCode("Error opening encoding stream", err));
        return false;
    }

    std::remove(name.c_str());
    m_pMp3File[track] = std::fopen(name.c_str(), "wb+");
    if (m_pMp3File[track] == nullptr) {
        // The stream opened above would otherwise stay open for the rest of the process.
        m_ForMp3_Proc_hCloseStream(m_hbeStream[track]);
        m_hbeStream[track] = 0;
        platform::ShowMessageBox("Error creating file " + name);
        return false;
    }

    try {
        m_pMp3Buffer[track].assign(outputSize, 0);
        m_pPcmBuffer[track].assign(m_dwPcmBufferSize, 0);
    } catch (const std::bad_alloc&) {
        m_pMp3Buffer[track] = {};
        m_pPcmBuffer[track] = {};
        m_ForMp3_Proc_hCloseStream(m_hbeStream[track]);
        m_hbeStream[track] = 0;
        std::fclose(m_pMp3File[track]);
        m_pMp3File[track] = nullptr;
        platform::ShowMessageBox("Out of memory");
        return false;
    }
    m_dwPcmFill[track] = 0;
    return true;
}

void CAudioPlayRec::StageMp3Data(int track, const std::uint8_t* data, std::uint32_t length) {
    std::vector<std::uint8_t>& staging = m_pPcmBuffer[track];
    // No staging area: the track's stream failed earlier and takes no more samples.
    if (staging.empty() || m_pMp3Buffer[track].empty()) return;
    const std::uint32_t chunk = m_wfx.wBitsPerSample / 8 * m_dwSamples;
    std::uint32_t& fill = m_dwPcmFill[track];

    std::uint32_t first = std::min(length, m_dwPcmBufferSize - fill);
    std::memcpy(staging.data() + fill, data, first);
    fill += first;

    // A chunk size of 0 would never drain the staging area.
    const std::uintptr_t serial = m_uWaveInSerial;
    bool writeFellShort = false;
    while (chunk > 0 && fill > chunk) {
        if (!EncodeChunk(track, staging.data(), chunk)) {
            // Its message box let the loop run: this capture may be closed by now, or another
            // one begun with its own stream in this track's fields.
            if (!m_hWaveIn || m_uWaveInSerial != serial) return;
            if (m_pMp3Buffer[track].empty()) {
                staging = {};
                fill = 0;
                return;
            }
            writeFellShort = true;
        }
        std::memmove(staging.data(), staging.data() + chunk, fill - chunk);
        fill -= chunk;
    }

    std::uint32_t rest = std::min(length - first, m_dwPcmBufferSize - fill);
    std::memcpy(staging.data() + fill, data + first, rest);
    fill += rest;
    // Shown only now: buffers that return while the box is up are staged into this same area.
    if (writeFellShort) platform::ShowMessageBox("Output file write error");
}

bool CAudioPlayRec::EncodeChunk(int track, const std::uint8_t* samples, std::uint32_t bytes) {
    std::vector<std::uint8_t>& output = m_pMp3Buffer[track];
    std::uint32_t written = 0;
    BE_ERR err = m_ForMp3_Proc_hEncodeChunk(m_hbeStream[track], bytes / 2,
                                            reinterpret_cast<const std::int16_t*>(samples),
                                            output.data(), &written);
    if (err != 0) {
        m_ForMp3_Proc_hCloseStream(m_hbeStream[track]);
        // A closed stream takes no further chunk; without an output buffer the track is
        // neither staged nor flushed any more, and its file is closed as it stands.
        output = {};
        platform::ShowMessageBox(WithCode("m_ForMp3_Proc_hEncodeChunk() failed", err));
        return false;
    }
    // Never read past the buffer, whatever count the library gives back. A short write is
    // reported by the caller, once its staging is in order again.
    std::uint32_t count = std::min<std::uint32_t>(written, output.size());
    return std::fwrite(output.data(), 1, count, m_pMp3File[track]) == count;
}

void CAudioPlayRec::FinishMp3Stream(int track) {
    if (m_pMp3File[track] == nullptr || m_ForMp3_Proc_hDeinitStream == nullptr) return;
    std::vector<std::uint8_t>& output = m_pMp3Buffer[track];
    bool streamLive = !output.empty();
    bool complete = streamLive;
    // What is still staged (up to a chunk) is the end of the recording: it goes in before the
    // flush, as a last short chunk.
    if (streamLive) {
        const std::uint32_t chunk = m_wfx.wBitsPerSample / 8 * m_dwSamples;
        const std::uint32_t frame = m_wfx.nBlockAlign / (m_nChannelMode == 2 ? 2 : 1);
        std::uint32_t fill =
            std::min<std::uint32_t>(m_dwPcmFill[track], m_pPcmBuffer[track].size());
        if (frame > 0) fill -= fill % frame;
        for (std::uint32_t at = 0; chunk > 0 && at < fill && streamLive; at += chunk) {
            if (!EncodeChunk(track, m_pPcmBuffer[track].data() + at, std::min(chunk, fill - at))) {
                // A failed chunk closed the stream and cleared its output buffer.
                streamLive = !output.empty();
                complete = false;
                if (streamLive) platform::ShowMessageBox("Output file write error");
            }
        }
    }
    if (streamLive) {
        std::uint32_t written = 0;
        BE_ERR err = m_ForMp3_Proc_hDeinitStream(m_hbeStream[track], output.data(), &written);
        if (err != 0) {
            m_ForMp3_Proc_hCloseStream(m_hbeStream[track]);
            platform::ShowMessageBox(WithCode("beExitStream failed", err));
            streamLive = false;
            complete = false;
        } else {
            std::uint32_t count = std::min<std::uint32_t>(written, output.size());
            if (count != 0 && std::fwrite(output.data(), 1, count, m_pMp3File[track]) < count) {
                platform::ShowMessageBox("Output file write error");
                complete = false;
            }
        }
    }
    if (streamLive) m_ForMp3_Proc_hCloseStream(m_hbeStream[track]);
    output = {};
    m_pPcmBuffer[track] = {};
    m_dwPcmFill[track] = 0;
    // Every way out closes the file: an unfinished file is still the recording so far.
    if (std::fclose(m_pMp3File[track]) != 0 && complete) {
        platform::ShowMessageBox("Output file write error");
        complete = false;
    }
    m_pMp3File[track] = nullptr;
    // The tag describes every frame, so it goes only into a file that holds them all.
    if (complete) {
        if (m_ForMp3_Proc_hWriteInfoTag != nullptr)
            m_ForMp3_Proc_hWriteInfoTag(m_hbeStream[track], m_strMp3Name[track].c_str());
        else
            m_ForMp3_Proc_hWriteVBRHeader(m_strMp3Name[track].c_str());
    }
    m_hbeStream[track] = 0;
}

void CAudioPlayRec::UnloadEncoder() {
    // Outputs are finished before the library goes; a file still open here would be lost.
    for (int track = 0; track < kTracks; ++track) {
        if (m_pMp3File[track] != nullptr) std::fclose(m_pMp3File[track]);
        m_pMp3File[track] = nullptr;
    }
    if (m_hLameDll != nullptr) platform::FreeDynamicLibrary(m_hLameDll);
    m_hLameDll = nullptr;
    ResetEncoder();
}

void CAudioPlayRec::ResetEncoder() {
    for (int track = 0; track < kTracks; ++track) {
        m_pMp3Buffer[track] = {};
        m_pPcmBuffer[track] = {};
        m_pMp3File[track] = nullptr;
        m_strMp3Name[track].clear();
        m_dwPcmFill[track] = 0;
        m_hbeStream[track] = 0;
    }
    m_ForMp3_Proc_hInitStream = nullptr;
    m_ForMp3_Proc_hEncodeChunk = nullptr;
    m_ForMp3_Proc_hDeinitStream = nullptr;
    m_ForMp3_Proc_hCloseStream = nullptr;
    m_ForMp3_Proc_hVersion = nullptr;
    m_ForMp3_Proc_hWriteVBRHeader = nullptr;
    m_ForMp3_Proc_hWriteInfoTag = nullptr;
    m_hLameDll = nullptr;
    m_dwPcmBufferSize = 0;
    m_dwSamples = 0;
}

}  // namespace vexa
