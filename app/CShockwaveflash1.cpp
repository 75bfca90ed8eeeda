#include "app/CShockwaveflash1.h"

#include <utility>

namespace vexa {

CShockwaveflash1::CShockwaveflash1(ViewFactory factory) : m_factory(std::move(factory)) {}

CShockwaveflash1::~CShockwaveflash1() {
    DestroyWindow();
}

bool CShockwaveflash1::Create(platform::IDialogWindow& parent, int x, int y, int width, int height,
                              int id) {
    DestroyWindow();
    if (!m_factory) return false;
    m_view = m_factory(parent);
    if (!m_view) return false;
    m_id = id;
    // Movie calls are delivered while the view lives; the sink may change meanwhile.
    m_view->SetCallHandler([this](const std::string& request) {
        if (m_onFlashCall) m_onFlashCall(request);
    });
    m_view->Place(x, y, width, height);
    m_view->Show();
    return true;
}

void CShockwaveflash1::DestroyWindow() {
    m_view.reset();
}

void CShockwaveflash1::SetEventSink(FlashCallSink onFlashCall, FSCommandSink onFSCommand) {
    m_onFlashCall = std::move(onFlashCall);
    m_onFSCommand = std::move(onFSCommand);
}

void CShockwaveflash1::PreparePlayer(const std::string& origin) {
    if (m_view) m_view->PreparePlayer(origin);
}

void CShockwaveflash1::LoadMovie(int layer, const std::string& url) {
    // The player holds one movie; every layer replaces it.
    (void)layer;
    if (m_view) m_view->LoadMovie(url);
}

void CShockwaveflash1::Play() {
    if (m_view) m_view->Play();
}

std::string CShockwaveflash1::CallFunction(const std::string& request) {
    return m_view ? m_view->CallFunction(request) : std::string();
}

void CShockwaveflash1::SetReturnValue(const std::string& value) {
    if (m_view) m_view->SetReturnValue(value);
}

void CShockwaveflash1::MoveWindow(int x, int y, int width, int height) {
    if (m_view) m_view->Place(x, y, width, height);
}

void CShockwaveflash1::ShowWindow() {
    if (m_view) m_view->Show();
}

void CShockwaveflash1::SetFocus() {
    if (m_view) m_view->Focus();
}

}  // namespace vexa
