#include "xvfb/xvfb_input.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <unistd.h>

namespace lumory::testing {

namespace {

Display* x(void* display) {
    return static_cast<Display*>(display);
}

}  // namespace

XvfbInput::XvfbInput(const std::string& displayName)
    : display_(XOpenDisplay(displayName.c_str())) {}

XvfbInput::~XvfbInput() {
    if (display_) XCloseDisplay(x(display_));
}

void XvfbInput::movePointer(int px, int py) {
    if (!display_) return;
    XTestFakeMotionEvent(x(display_), 0, px, py, CurrentTime);
    XSync(x(display_), False);
}

void XvfbInput::focusFollowsPointer() {
    if (!display_) return;
    XSetInputFocus(x(display_), PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(x(display_), False);
}

bool XvfbInput::chord(const std::vector<std::string>& keys) {
    if (!display_) return false;
    std::vector<KeyCode> codes;
    for (const std::string& key : keys) {
        KeySym symbol = XStringToKeysym(key.c_str());
        KeyCode code = symbol == NoSymbol ? 0 : XKeysymToKeycode(x(display_), symbol);
        if (code == 0) return false;
        codes.push_back(code);
    }
    for (KeyCode code : codes) XTestFakeKeyEvent(x(display_), code, True, CurrentTime);
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
        XTestFakeKeyEvent(x(display_), *it, False, CurrentTime);
    }
    XSync(x(display_), False);
    return true;
}

void XvfbInput::click(int button, int px, int py) {
    if (!display_) return;
    movePointer(px, py);
    XTestFakeButtonEvent(x(display_), static_cast<unsigned>(button), True, CurrentTime);
    XTestFakeButtonEvent(x(display_), static_cast<unsigned>(button), False, CurrentTime);
    XSync(x(display_), False);
}

void XvfbInput::drag(int fromX, int fromY, int toX, int toY) {
    if (!display_) return;
    constexpr int kSteps = 10;
    movePointer(fromX, fromY);
    XTestFakeButtonEvent(x(display_), 1, True, CurrentTime);
    XSync(x(display_), False);
    // The page asks for the drag after the press has reached it.
    usleep(300 * 1000);
    for (int step = 1; step <= kSteps; ++step) {
        movePointer(fromX + (toX - fromX) * step / kSteps, fromY + (toY - fromY) * step / kSteps);
        usleep(30 * 1000);
    }
    XTestFakeButtonEvent(x(display_), 1, False, CurrentTime);
    XSync(x(display_), False);
}

}  // namespace lumory::testing
