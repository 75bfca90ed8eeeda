#include <cstring>
#include <vector>

#include "audio/CAudioPlayRec.h"
#include "platform/core/MessageBox.h"

namespace vexa {

namespace {
constexpr std::uint32_t kFormatRecordBytes = sizeof(platform::WAVEFORMATEX);
}

bool CAudioPlayRec::CreateWaveFile(const std::string& name, int track) {
    if (m_hWaveFile[track]) return true;
    CRiffFile::Delete(name);

    platform::WAVEFORMATEX format = m_wfx;
    if (m_nChannelMode == 2) {
        format.nChannels = 1;
        format.nBlockAlign = 2;
        format.nAvgBytesPerSec = format.nSamplesPerSec * 2;
    }

    auto file = std::make_unique<CRiffFile>();
    if (!file->Open(name, CRiffFile::Mode::Create)) {
        platform::ShowMessageBox("Open wave file failed");
        return false;
    }
    m_ckRiff[track] = RiffChunk{};
    m_ckRiff[track].fccType = FOURCC_WAVE;
    file->CreateChunk(m_ckRiff[track], true);

    m_ckChunk[track] = RiffChunk{};
    m_ckChunk[track].ckid = FOURCC_FMT;
    m_ckChunk[track].cksize = format.cbSize + kFormatRecordBytes;
    file->CreateChunk(m_ckChunk[track], false);
    // The extra bytes a cbSize announces are not part of the record: write zeros for them.
    std::vector<std::uint8_t> record(m_ckChunk[track].cksize, 0);
    std::memcpy(record.data(), &format, kFormatRecordBytes);
    file->Write(record.data(), m_ckChunk[track].cksize);
    file->Ascend(m_ckChunk[track]);

    m_ckChunk[track].ckid = FOURCC_DATA;
    m_ckChunk[track].cksize = 0;
    file->CreateChunk(m_ckChunk[track], false);

    m_hWaveFile[track] = std::move(file);
    // An empty but complete file from the start; the sizes then follow the data.
    m_hWaveFile[track]->UpdateSizes(m_ckRiff[track], m_ckChunk[track]);
    m_uLastSizeUpdate[track] = platform::UiLoop().NowMs();
    return true;
}

void CAudioPlayRec::KeepWaveSizesCurrent(int track) {
    std::uint64_t now = platform::UiLoop().NowMs();
    if (now - m_uLastSizeUpdate[track] < kSizeUpdateMs) return;
    m_hWaveFile[track]->UpdateSizes(m_ckRiff[track], m_ckChunk[track]);
    m_uLastSizeUpdate[track] = now;
}

void CAudioPlayRec::FinishWaveFile(int track) {
    m_hWaveFile[track]->Ascend(m_ckChunk[track]);
    m_hWaveFile[track]->Ascend(m_ckRiff[track]);
    m_hWaveFile[track]->Close();
    m_hWaveFile[track].reset();
}

bool CAudioPlayRec::OpenPlaybackFile() {
    if (m_hWaveFile[0]) return false;
    auto file = std::make_unique<CRiffFile>();
    if (!file->Open(RecordingPath("test.wav"), CRiffFile::Mode::Read)) {
        platform::ShowMessageBox("Open wave file failed");
        return false;
    }
    RiffChunk& riff = m_ckRiff[0];
    RiffChunk& chunk = m_ckChunk[0];
    riff = RiffChunk{};
    riff.fccType = FOURCC_WAVE;
    if (!file->Descend(riff, nullptr, CRiffFile::Find::Riff)) {
        platform::ShowMessageBox("Error descending into file");
        return false;
    }
    chunk = RiffChunk{};
    chunk.ckid = FOURCC_FMT;
    if (!file->Descend(chunk, &riff, CRiffFile::Find::Chunk)) {
        platform::ShowMessageBox("Error descending in wave file");
        return false;
    }
    // A longer (extensible) format record is cut to the 18 bytes we hold; Ascend skips the rest.
    m_wfx = {};
    std::uint32_t want = chunk.cksize < kFormatRecordBytes ? chunk.cksize : kFormatRecordBytes;
    if (want > 0) file->Read(&m_wfx, want);
    if (!PrepareBuffers()) return false;
    if (!file->Ascend(chunk)) {
        platform::ShowMessageBox("Error ascending in File");
        return false;
    }
    chunk.ckid = FOURCC_DATA;
    if (!file->Descend(chunk, &riff, CRiffFile::Find::Chunk)) {
        platform::ShowMessageBox("error reading data chunk");
        return false;
    }
    m_hWaveFile[0] = std::move(file);
    return true;
}

}  // namespace vexa
