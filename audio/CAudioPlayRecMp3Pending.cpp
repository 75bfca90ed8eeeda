#include "audio/CAudioPlayRec.h"
#include "platform/core/MessageBox.h"

namespace vexa {

struct ScopeResources {};
struct ScopeDC {};

void ScopeResourcesDeleter::operator()(ScopeResources* resources) const {
    delete resources;
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
