// A developer's view of the recorder's waveform display: with VEXA_SHOW_WAVEFORM set, each
// display area is also shown in a small window of its own while it is being drawn on (during
// recording and playback), and hidden again when the drawing stops.
#pragma once

#include "platform/draw/COffscreenScopeWindow.h"

namespace vexa::platform {

class CGtkScopeWindows : public IScopeWindows {
  public:
    // True when the environment asks for the window (VEXA_SHOW_WAVEFORM set and not "0").
    static bool Wanted();
    std::unique_ptr<IScopeWindow> Create(WindowHandle parent, EraseHandler erase) override;

    static constexpr int kWidth = 360;
    static constexpr int kHeight = 180;
    // The window goes once no buffer was drawn for this long.
    static constexpr unsigned kHideAfterMs = 1500;
};

}  // namespace vexa::platform
