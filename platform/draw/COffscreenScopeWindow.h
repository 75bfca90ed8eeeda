// A display area drawn into memory: the hidden 0 x 0 window of a program without a visible
// display, a sized image for tests, and the backing store of an on-screen window.
#pragma once

#include <cairo.h>

#include "platform/draw/IScopeWindow.h"

namespace vexa::platform {

class COffscreenScopeWindow : public IScopeWindow {
  public:
    COffscreenScopeWindow(int width, int height, IScopeWindows::EraseHandler erase);
    ~COffscreenScopeWindow() override;
    COffscreenScopeWindow(const COffscreenScopeWindow&) = delete;
    COffscreenScopeWindow& operator=(const COffscreenScopeWindow&) = delete;

    DrawRect ClientRect() const override;
    void Invalidate(const DrawRect* rect) override;
    std::unique_ptr<ICanvas> GetCanvas() override;
    std::unique_ptr<IDrawFont> CreateFont(const FontRequest& request) override;

    // The colour at a pixel; 0 outside the area.
    DrawColour PixelAt(int x, int y) const;
    cairo_surface_t* Surface() const { return m_surface; }
    // How often the area was drawn on (canvases released, erasures done).
    int Paints() const { return m_paints; }

  protected:
    // Runs after every drawing on the area, once its canvas is gone.
    virtual void OnPainted() {}

  private:
    class CCountingCanvas;
    cairo_surface_t* m_surface;
    IScopeWindows::EraseHandler m_erase;
    int m_paints = 0;
};

// Makes offscreen areas of one size; 0 x 0 (the default service) stands for a hidden window.
class COffscreenScopeWindows : public IScopeWindows {
  public:
    explicit COffscreenScopeWindows(int width = 0, int height = 0)
        : m_width(width), m_height(height) {}
    std::unique_ptr<IScopeWindow> Create(WindowHandle parent, EraseHandler erase) override;
    // The area made last, while it exists (for tests that look at its pixels).
    COffscreenScopeWindow* Last() const { return m_last; }

  private:
    int m_width;
    int m_height;
    COffscreenScopeWindow* m_last = nullptr;
};

}  // namespace vexa::platform
