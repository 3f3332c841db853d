#pragma once

#include <sys/types.h>

#include <string>

#include "xvfb_display.h"

namespace lumory::testing {

// A small window manager (jwm) on a test display, for what only a window manager does: full
// screen, keep-above, minimising. Stopped when the object goes.
class XvfbWindowManager {
public:
    explicit XvfbWindowManager(const XvfbDisplay& display);
    ~XvfbWindowManager();
    XvfbWindowManager(const XvfbWindowManager&) = delete;
    XvfbWindowManager& operator=(const XvfbWindowManager&) = delete;

    // True once the window manager has announced itself on the display.
    bool started() const { return started_; }

private:
    pid_t pid_ = -1;
    std::string folder_;
    bool started_ = false;
};

}  // namespace lumory::testing
