#include "audio/CAudioPlayRec.h"
#include "platform/core/MessageBox.h"

namespace vexa {

struct ScopeResources {};
struct ScopeDC {};

void ScopeResourcesDeleter::operator()(ScopeResources* resources) const {
    delete resources;
}

bool CAudioPlayRec::LoadEncoder() {
    platform::ShowMessageBox("Error loading lame_enc.DLL");
    return false;
}

bool CAudioPlayRec::OpenMp3Stream(int, const std::string&) {
    return false;
}

void CAudioPlayRec::StageMp3Data(int, const std::uint8_t*, std::uint32_t) {}

bool CAudioPlayRec::EncodeChunk(int, const std::uint8_t*, std::uint32_t) {
    return false;
}

void CAudioPlayRec::FinishMp3Stream(int) {}

void CAudioPlayRec::UnloadEncoder() {
    ResetEncoder();
}

void CAudioPlayRec::ResetEncoder() {
    for (int track = 0; track < kTracks; ++track) {
        m_pMp3Buffer[track].clear();
        m_pPcmBuffer[track].clear();
        m_pMp3File[track] = nullptr;
        m_strMp3Name[track].clear();
        m_dwPcmFill[track] = 0;
        m_hbeStream[track] = 0;
    }
    m_hLameDll = nullptr;
    m_dwPcmBufferSize = 0;
    m_dwSamples = 0;
}

bool CAudioPlayRec::CreateScopeWindow(platform::WindowHandle) {
    return true;
}

void CAudioPlayRec::SetBackColor(std::uint32_t colour) {
    m_crBackColor = colour;
}

void CAudioPlayRec::DrawBackground(ScopeDC&) {}

void CAudioPlayRec::DrawWave(std::uint32_t) {}

void CAudioPlayRec::InvalidateScope(bool) {}

}  // namespace vexa
