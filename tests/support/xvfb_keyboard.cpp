#include "xvfb_keyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace lumory::testing {

namespace {

Display* x(void* display) {
    return static_cast<Display*>(display);
}

}  // namespace

XvfbKeyboard::XvfbKeyboard(const std::string& displayName)
    : display_(XOpenDisplay(displayName.c_str())) {}

XvfbKeyboard::~XvfbKeyboard() {
    if (display_) XCloseDisplay(x(display_));
}

void XvfbKeyboard::movePointer(int px, int py) {
    if (!display_) return;
    XTestFakeMotionEvent(x(display_), 0, px, py, CurrentTime);
    XSync(x(display_), False);
}

bool XvfbKeyboard::chord(const std::vector<std::string>& keys) {
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

}  // namespace lumory::testing
