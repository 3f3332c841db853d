#include "xvfb_windows.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace lumory::testing {

namespace {

std::optional<WindowGeometry> search(Display* display, Window window, const std::string& title,
                                     int depth) {
    char* name = nullptr;
    XWindowAttributes attributes;
    if (XFetchName(display, window, &name) && name != nullptr) {
        bool matches = title == name;
        XFree(name);
        if (matches && XGetWindowAttributes(display, window, &attributes) &&
            attributes.map_state == IsViewable) {
            WindowGeometry geometry{0, 0, attributes.width, attributes.height};
            Window child;
            XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &geometry.x,
                                  &geometry.y, &child);
            return geometry;
        }
    }
    if (depth == 0) return std::nullopt;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return std::nullopt;
    std::optional<WindowGeometry> found;
    for (unsigned i = 0; i < count && !found; ++i) {
        found = search(display, children[i], title, depth - 1);
    }
    if (children) XFree(children);
    return found;
}

void collect(Display* display, Window window, const std::string& title, int depth,
             std::vector<WindowGeometry>& found) {
    char* name = nullptr;
    XWindowAttributes attributes;
    if (XFetchName(display, window, &name) && name != nullptr) {
        bool matches = title == name;
        XFree(name);
        if (matches && XGetWindowAttributes(display, window, &attributes) &&
            attributes.map_state == IsViewable) {
            WindowGeometry geometry{0, 0, attributes.width, attributes.height};
            Window child;
            XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &geometry.x,
                                  &geometry.y, &child);
            found.push_back(geometry);
        }
    }
    if (depth == 0) return;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return;
    for (unsigned i = 0; i < count; ++i) collect(display, children[i], title, depth - 1, found);
    if (children) XFree(children);
}

}  // namespace

std::vector<WindowGeometry> findWindows(const std::string& displayName, const std::string& title) {
    // A window may go while the tree is walked; Xlib's default handler would end the test.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    std::vector<WindowGeometry> found;
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr) return found;
    collect(display, DefaultRootWindow(display), title, 3, found);
    XCloseDisplay(display);
    return found;
}

std::optional<WindowGeometry> findWindow(const std::string& displayName, const std::string& title) {
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr) return std::nullopt;
    auto found = search(display, DefaultRootWindow(display), title, 2);
    XCloseDisplay(display);
    return found;
}

}  // namespace lumory::testing
