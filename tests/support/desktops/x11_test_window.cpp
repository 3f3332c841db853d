#include "x11_test_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace lumory::testing {

namespace {

// A window that goes while it is looked at must not end the test (Xlib's default handler exits).
int ignoreError(Display*, XErrorEvent*) {
    return 0;
}

Window findTitled(Display* display, Window window, const std::string& title, int depth) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name != nullptr) {
        bool matches = title == name;
        XFree(name);
        XWindowAttributes attributes;
        if (matches && XGetWindowAttributes(display, window, &attributes) &&
            attributes.map_state == IsViewable) {
            return window;
        }
    }
    if (depth == 0) return 0;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        found = findTitled(display, children[i], title, depth - 1);
    }
    if (children) XFree(children);
    return found;
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

std::optional<FrameExtents> frameExtents(const std::string& displayName, const std::string& title) {
    XSetErrorHandler(&ignoreError);
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr) return std::nullopt;
    std::optional<FrameExtents> extents;
    Window window = findTitled(display, DefaultRootWindow(display), title, 3);
    Atom type;
    int format;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (window != 0 &&
        XGetWindowProperty(display, window, XInternAtom(display, "_GTK_FRAME_EXTENTS", False), 0, 4,
                           False, XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data != nullptr && count == 4) {
        auto* values = reinterpret_cast<unsigned long*>(data);
        extents = FrameExtents{static_cast<int>(values[0]), static_cast<int>(values[1]),
                               static_cast<int>(values[2]), static_cast<int>(values[3])};
    } else if (window != 0) {
        extents = FrameExtents{};
    }
    if (data) XFree(data);
    XCloseDisplay(display);
    return extents;
}

}  // namespace lumory::testing
