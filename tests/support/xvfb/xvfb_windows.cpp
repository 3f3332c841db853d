#include "xvfb/xvfb_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <thread>

namespace lumory::testing {

namespace {

// Windows come and go while the tree is walked; a request about one that just went must not end
// the test process (Xlib's default handler exits).
int ignoreError(Display*, XErrorEvent*) {
    return 0;
}

Display* openDisplay(const std::string& displayName) {
    XSetErrorHandler(&ignoreError);
    return XOpenDisplay(displayName.c_str());
}

// Every viewable window titled `title` below `window`, depth first, with its X window.
void collect(Display* display, Window window, const std::string& title, int depth,
             std::vector<std::pair<WindowGeometry, Window>>& found, bool firstOnly) {
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
            found.emplace_back(geometry, window);
        }
    }
    if (depth == 0 || (firstOnly && !found.empty())) return;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return;
    for (unsigned i = 0; i < count && !(firstOnly && !found.empty()); ++i) {
        collect(display, children[i], title, depth - 1, found, firstOnly);
    }
    if (children) XFree(children);
}

std::optional<WindowGeometry> search(Display* display, Window window, const std::string& title,
                                     int depth, Window* match = nullptr) {
    std::vector<std::pair<WindowGeometry, Window>> found;
    collect(display, window, title, depth, found, true);
    if (found.empty()) return std::nullopt;
    if (match) *match = found.front().second;
    return found.front().first;
}

// The position of the root's child that holds the window titled `title` in stacking order
// (bottom first), or -1.
int stackingIndex(Display* display, const std::string& title) {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        return -1;
    }
    int index = -1;
    for (unsigned i = 0; i < count && index < 0; ++i) {
        if (search(display, children[i], title, 2)) index = static_cast<int>(i);
    }
    if (children) XFree(children);
    return index;
}

}  // namespace

std::vector<WindowGeometry> findWindows(const std::string& displayName, const std::string& title) {
    std::vector<WindowGeometry> windows;
    Display* display = openDisplay(displayName);
    if (display == nullptr) return windows;
    std::vector<std::pair<WindowGeometry, Window>> found;
    collect(display, DefaultRootWindow(display), title, 3, found, false);
    XCloseDisplay(display);
    for (const auto& [geometry, window] : found) windows.push_back(geometry);
    return windows;
}

std::optional<WindowGeometry> findWindow(const std::string& displayName, const std::string& title) {
    Display* display = openDisplay(displayName);
    if (display == nullptr) return std::nullopt;
    auto found = search(display, DefaultRootWindow(display), title, 2);
    XCloseDisplay(display);
    return found;
}

std::vector<std::string> windowStates(const std::string& displayName, const std::string& title) {
    std::vector<std::string> states;
    Display* display = openDisplay(displayName);
    if (display == nullptr) return states;
    Window window = 0;
    if (search(display, DefaultRootWindow(display), title, 2, &window)) {
        Atom property = XInternAtom(display, "_NET_WM_STATE", False);
        Atom type;
        int format;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, window, property, 0, 64, False, XA_ATOM, &type, &format,
                               &count, &after, &data) == Success &&
            data != nullptr) {
            auto* atoms = reinterpret_cast<Atom*>(data);
            for (unsigned long i = 0; i < count; ++i) {
                char* name = XGetAtomName(display, atoms[i]);
                if (name) {
                    states.emplace_back(name);
                    XFree(name);
                }
            }
        }
        if (data) XFree(data);
    }
    XCloseDisplay(display);
    return states;
}

bool stackedAbove(const std::string& displayName, const std::string& upper,
                  const std::string& lower) {
    Display* display = openDisplay(displayName);
    if (display == nullptr) return false;
    int upperIndex = stackingIndex(display, upper);
    int lowerIndex = stackingIndex(display, lower);
    XCloseDisplay(display);
    return upperIndex >= 0 && lowerIndex >= 0 && upperIndex > lowerIndex;
}

std::optional<WindowOffset> windowMovedByDrag(XvfbInput& input, const std::string& displayName,
                                              const std::string& title, int x, int y, int dx,
                                              int dy) {
    auto before = findWindow(displayName, title);
    if (!before) return std::nullopt;
    input.drag(x, y, x + dx, y + dy);
    // The move reaches the X server a moment after the button is released.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto after = findWindow(displayName, title);
    if (!after) return std::nullopt;
    return WindowOffset{after->x - before->x, after->y - before->y};
}

}  // namespace lumory::testing
