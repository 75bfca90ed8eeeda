// Drawing on a window's area: the few operations of a device context the waveform display uses.
#pragma once

#include <cstddef>
#include <string>

#include "platform/draw/DrawTypes.h"

namespace vexa::platform {

// A font made for one window; only the window's canvases draw with it.
class IDrawFont {
  public:
    virtual ~IDrawFont() = default;
    // The installed family the request was matched to.
    virtual std::string Family() const = 0;
};

class ICanvas {
  public:
    virtual ~ICanvas() = default;
    enum class Align { TopLeft, BottomRight };

    virtual void FillRect(const DrawRect& rect, DrawColour colour) = 0;
    // One line of UTF-8 text on a transparent background, clipped to the rectangle.
    virtual void DrawText(const std::string& text, const DrawRect& rect, const IDrawFont& font,
                          DrawColour colour, Align align) = 0;
    // A one-pixel frame: top and left edges in one colour, bottom and right in the other.
    virtual void Draw3dRect(const DrawRect& rect, DrawColour topLeft, DrawColour bottomRight) = 0;
    // One-pixel lines from each point to the next; like the desktop's line drawing, the last
    // point itself is not painted.
    virtual void Polyline(const DrawPoint* points, std::size_t count, DrawColour colour) = 0;
};

}  // namespace vexa::platform
