#pragma once

#include <sys/types.h>

#include <string>

namespace lumory::testing {

// jwm on a test display with a minimal configuration (no tray, no panel, click to focus): a
// window manager that honours keep-above, sticky and skip-taskbar, stopped when the object goes.
class XvfbWindowManager {
public:
    explicit XvfbWindowManager(const std::string& displayName);
    ~XvfbWindowManager();
    XvfbWindowManager(const XvfbWindowManager&) = delete;
    XvfbWindowManager& operator=(const XvfbWindowManager&) = delete;

    // True once the manager has announced itself on the root window.
    bool started() const { return started_; }

private:
    pid_t pid_ = -1;
    std::string folder_;
    bool started_ = false;
};

}  // namespace lumory::testing
