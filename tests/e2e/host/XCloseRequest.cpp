// The close box's request, sent to a window the way a window manager sends it. Apart from the
// test because Xlib's macros clash with GoogleTest's names.
#include <X11/Xlib.h>

#include <string>

bool SendCloseRequest(const std::string& windowId);

bool SendCloseRequest(const std::string& windowId) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    Window window = std::stoul(windowId);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
    return sent != 0;
}
