#include "desktops/x11_test_window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace lumory::testing {

namespace {

// A window that goes while it is looked at must not end the test (Xlib's default handler exits).
int ignoreError(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

X11TestWindow::X11TestWindow(const std::string& displayName, const std::string& title, int x, int y,
                             int width, int height) {
    XSetErrorHandler(&ignoreError);
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr) return;
    display_ = display;
    int screen = DefaultScreen(display);
    Window window = XCreateSimpleWindow(display, RootWindow(display, screen), x, y, width, height,
                                        0, BlackPixel(display, screen), 0x5e81acul);
    XStoreName(display, window, title.c_str());
    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = x;
    hints.y = y;
    hints.width = width;
    hints.height = height;
    XSetWMNormalHints(display, window, &hints);
    // The desktop names the application after its class.
    XClassHint names{const_cast<char*>("other-window"), const_cast<char*>(title.c_str())};
    XSetClassHint(display, window, &names);
    XMapWindow(display, window);
    XSync(display, False);
    window_ = window;
}

X11TestWindow::~X11TestWindow() {
    auto* display = static_cast<Display*>(display_);
    if (display == nullptr) return;
    if (window_ != 0) XDestroyWindow(display, window_);
    XCloseDisplay(display);
}

}  // namespace lumory::testing
