// A canvas on a cairo image surface. Lines are set pixel by pixel, so they come out exactly as
// the desktop's one-pixel pen draws them.
#pragma once

#include <cairo.h>

#include "platform/draw/ICanvas.h"

namespace vexa::platform {

class CCairoCanvas : public ICanvas {
  public:
    // The surface must be an RGB24 or ARGB32 image surface; clip null: the whole surface.
    CCairoCanvas(cairo_surface_t* surface, const DrawRect* clip);
    ~CCairoCanvas() override;
    CCairoCanvas(const CCairoCanvas&) = delete;
    CCairoCanvas& operator=(const CCairoCanvas&) = delete;

    void FillRect(const DrawRect& rect, DrawColour colour) override;
    void DrawText(const std::string& text, const DrawRect& rect, const IDrawFont& font,
                  DrawColour colour, Align align) override;
    void Draw3dRect(const DrawRect& rect, DrawColour topLeft, DrawColour bottomRight) override;
    void Polyline(const DrawPoint* points, std::size_t count, DrawColour colour) override;
    // Hands everything drawn to the surface; drawing may go on afterwards.
    void Finish();

  private:
    void SetPixel(int x, int y, std::uint32_t argb);
    void Line(DrawPoint from, DrawPoint to, std::uint32_t argb);

    cairo_surface_t* m_surface;
    cairo_t* m_cr;
    DrawRect m_clip;
    unsigned char* m_pixels = nullptr;
    int m_stride = 0;
};

}  // namespace vexa::platform
