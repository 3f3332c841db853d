#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "xvfb/xvfb_display.h"

namespace lumory::testing {

// A Wayland session for one test: weston with its desktop shell, drawn into a window on a test
// display (its output fills the screen from the top left corner). Stopped when the object goes.
class XvfbWeston {
public:
    XvfbWeston(const XvfbDisplay& display, int width, int height);
    ~XvfbWeston();
    XvfbWeston(const XvfbWeston&) = delete;
    XvfbWeston& operator=(const XvfbWeston&) = delete;

    bool started() const { return started_; }
    // What a client needs to reach it: WAYLAND_DISPLAY and XDG_RUNTIME_DIR.
    std::vector<std::string> clientEnvironment() const;

private:
    pid_t pid_ = -1;
    std::string runtime_;
    bool started_ = false;
};

}  // namespace lumory::testing
