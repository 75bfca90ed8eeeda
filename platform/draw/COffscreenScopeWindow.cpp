#include "platform/draw/COffscreenScopeWindow.h"

#include <algorithm>
#include <cstring>

#include "platform/draw/CCairoCanvas.h"
#include "platform/draw/CCairoFont.h"

namespace vexa::platform {

// Point sizes are for a screen of this resolution.
constexpr double kScreenDpi = 96.0;

class COffscreenScopeWindow::CCountingCanvas : public CCairoCanvas {
  public:
    CCountingCanvas(COffscreenScopeWindow* owner, const DrawRect* clip)
        : CCairoCanvas(owner->m_surface, clip), m_owner(owner) {}
    ~CCountingCanvas() override {
        Finish();
        ++m_owner->m_paints;
        m_owner->OnPainted();
    }

  private:
    COffscreenScopeWindow* m_owner;
};

COffscreenScopeWindow::COffscreenScopeWindow(int width, int height,
                                             IScopeWindows::EraseHandler erase)
    : m_surface(
          cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(0, width), std::max(0, height))),
      m_erase(std::move(erase)) {}

COffscreenScopeWindow::~COffscreenScopeWindow() {
    cairo_surface_destroy(m_surface);
}

DrawRect COffscreenScopeWindow::ClientRect() const {
    return {0, 0, cairo_image_surface_get_width(m_surface),
            cairo_image_surface_get_height(m_surface)};
}

void COffscreenScopeWindow::Invalidate(const DrawRect* rect) {
    if (!m_erase) return;
    CCountingCanvas canvas(this, rect);
    m_erase(canvas);
}

std::unique_ptr<ICanvas> COffscreenScopeWindow::GetCanvas() {
    return std::make_unique<CCountingCanvas>(this, nullptr);
}

std::unique_ptr<IDrawFont> COffscreenScopeWindow::CreateFont(const FontRequest& request) {
    return CCairoFont::Create(request, kScreenDpi);
}

DrawColour COffscreenScopeWindow::PixelAt(int x, int y) const {
    DrawRect r = ClientRect();
    if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) return 0;
    cairo_surface_flush(m_surface);
    const unsigned char* data = cairo_image_surface_get_data(m_surface);
    std::uint32_t argb;
    std::memcpy(
        &argb,
        data + static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(m_surface) + x * 4,
        4);
    return Rgb(static_cast<std::uint8_t>(argb >> 16), static_cast<std::uint8_t>(argb >> 8),
               static_cast<std::uint8_t>(argb));
}

std::unique_ptr<IScopeWindow> COffscreenScopeWindows::Create(WindowHandle, EraseHandler erase) {
    auto window = std::make_unique<COffscreenScopeWindow>(m_width, m_height, std::move(erase));
    m_last = window.get();
    return window;
}

}  // namespace vexa::platform
