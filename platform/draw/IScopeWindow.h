// The drawing area of the recorder's waveform display and the service that makes one. Without a
// service set, areas are offscreen and 0 x 0, like the hidden window they stand for.
#pragma once

#include <functional>
#include <memory>

#include "platform/core/UiLoop.h"
#include "platform/draw/ICanvas.h"

namespace vexa::platform {

class IScopeWindow {
  public:
    virtual ~IScopeWindow() = default;
    virtual DrawRect ClientRect() const = 0;
    // Repaints the rectangle (everything for null) through the erase handler, as the desktop
    // does after an invalidation with erasing.
    virtual void Invalidate(const DrawRect* rect) = 0;
    // A canvas on the area for drawing now; what it draws shows once it is released.
    virtual std::unique_ptr<ICanvas> GetCanvas() = 0;
    virtual std::unique_ptr<IDrawFont> CreateFont(const FontRequest& request) = 0;
};

class IScopeWindows {
  public:
    virtual ~IScopeWindows() = default;
    using EraseHandler = std::function<void(ICanvas&)>;
    // Null when no area can be made. The handler runs on the UI thread.
    virtual std::unique_ptr<IScopeWindow> Create(WindowHandle parent, EraseHandler erase) = 0;
};

IScopeWindows& ScopeWindows();
void SetScopeWindows(IScopeWindows* windows);

}  // namespace vexa::platform
