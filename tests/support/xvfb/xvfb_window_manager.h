#pragma once

#include <sys/types.h>

#include <string>

#include "xvfb/xvfb_display.h"

namespace lumory::testing {

// jwm on a test display, with a configuration of its own (no tray, no menus), stopped when the
// object goes. Windows get frames with close buttons, and the window manager's requests
// (_NET_CLOSE_WINDOW and the like) reach them as on a desktop.
class XvfbWindowManager {
public:
    explicit XvfbWindowManager(const XvfbDisplay& display);
    ~XvfbWindowManager();
    XvfbWindowManager(const XvfbWindowManager&) = delete;
    XvfbWindowManager& operator=(const XvfbWindowManager&) = delete;

    // True once the window manager has announced itself on the root window.
    bool started() const { return started_; }
    // What the window manager said before it gave up, when it did.
    const std::string& errors() const { return errors_; }

private:
    pid_t pid_ = -1;
    std::string config_;
    bool started_ = false;
    std::string errors_;
};

// Asks the window manager to close the client window titled `title`, as its close button or a
// taskbar would (an EWMH _NET_CLOSE_WINDOW message to the root window). False when no such
// window is mapped.
bool requestWindowClose(const std::string& displayName, const std::string& title);

}  // namespace lumory::testing
