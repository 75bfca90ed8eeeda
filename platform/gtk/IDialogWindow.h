// The main dialog's top-level window as the application shell sees it: a window with a caption
// that can be switched off, a loading text, one child area for the movie, and a modal run.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vexa::platform {

// Virtual-key codes of the keys the dialog looks at.
constexpr unsigned VK_RETURN = 13;
constexpr unsigned VK_ESCAPE = 27;
constexpr unsigned VK_F1 = 0x70;

// Screen size and the frame sizes of a bordered window, in pixels.
struct ScreenMetrics {
    int width = 0;
    int height = 0;
    int borderWidth = 0;
    int borderHeight = 0;
};

class IDialogWindowEvents {
  public:
    virtual ~IDialogWindowEvents() = default;
    // The close box or Alt+F4; the window stays until the dialog ends its modal run.
    virtual void OnCloseRequest() = 0;
    // The About entry of the window (F1).
    virtual void OnAboutRequest() = 0;
    // A key press before the window handles it; true drops it. childHasFocus: the movie has the
    // keyboard focus, so an unhandled key goes on to it.
    virtual bool OnKeyDown(unsigned virtualKey, bool childHasFocus) = 0;
};

class IDialogWindow {
  public:
    virtual ~IDialogWindow() = default;
    virtual void SetEvents(IDialogWindowEvents* events) = 0;
    virtual void SetTitle(const std::string& title) = 0;
    // A themed icon name; falls back to the program's own icon files when the theme lacks it.
    virtual void SetIconName(const std::string& name) = 0;
    virtual void SetLoadingText(const std::string& text) = 0;
    virtual void ShowLoadingText(bool visible) = 0;
    virtual ScreenMetrics GetScreenMetrics() = 0;
    // Caption and frame on or off; off also asks the desktop for full screen.
    virtual void SetCaption(bool on) = 0;
    // Puts the outer top-left corner of the window (its frame, where the desktop draws one) at
    // x, y and makes its client area, the part below the caption that holds the movie,
    // clientWidth x clientHeight.
    virtual void MoveWindow(int x, int y, int clientWidth, int clientHeight) = 0;
    // The native container the movie view is placed in (a GtkLayout here: children are clipped to
    // it and never size it).
    virtual void* ChildContainer() = 0;
    // Shows the window and runs until EndModal; returns EndModal's result.
    virtual int RunModal() = 0;
    virtual void EndModal(int result) = 0;
    // A modal box with a title, text lines and an OK button.
    virtual void ShowInfoBox(const std::string& title, const std::vector<std::string>& lines) = 0;
};

// The window of this platform (a GTK top-level). Needs InitGui to have succeeded.
std::unique_ptr<IDialogWindow> CreateDialogWindow();

}  // namespace vexa::platform
