#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "desktops/desktop_session.h"
#include "xvfb/xvfb_display.h"

namespace lumory::testing {

// A window as sway's tree (`swaymsg -t get_tree`) describes it.
struct SwayWindow {
    std::string title;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    // The client's own window inside the container (below sway's title bar and borders).
    int contentX = 0;
    int contentY = 0;
    bool floating = false;
    bool focused = false;
    bool urgent = false;
    bool sticky = false;
    bool visible = false;
    std::string workspace;
};

// sway 1.7 run as the test user with private buses and Xwayland. Its wlroots backend draws into
// a window filling a test X display (the headless backend has no input devices at all): XTest
// on that display is the user's pointer and keyboard, seen by sway itself, and a screenshot of
// that display is what sway shows. Killed with everything it started when the object goes.
class SwayDesktop {
public:
    static constexpr char kName[] = "sway";

    SwayDesktop(int width, int height);
    ~SwayDesktop();
    SwayDesktop(const SwayDesktop&) = delete;
    SwayDesktop& operator=(const SwayDesktop&) = delete;

    bool started() const { return !x11Display_.empty(); }
    const std::string& failure() const { return failure_; }
    double startSeconds() const { return startSeconds_; }

    DesktopSession& session() { return *session_; }
    // The test display sway draws into: XTest input and screenshots go there.
    const XvfbDisplay& screen() const { return screen_; }
    // ":N", the Xwayland display X11 clients use.
    const std::string& x11Display() const { return x11Display_; }
    bool screenshot(const std::string& path) const { return screen_.screenshot(path); }
    // What an application started in sway gets: its Xwayland and Wayland displays, the buses.
    std::vector<std::string> clientEnvironment() const;

    // A sway command (`swaymsg CMD`); true when sway carried it out.
    bool command(const std::string& command);
    nlohmann::json tree();
    std::optional<SwayWindow> window(const std::string& title);

private:
    std::string swaymsg(const std::vector<std::string>& arguments);

    XvfbDisplay screen_;
    std::optional<DesktopUser> user_;
    std::unique_ptr<DesktopSession> session_;
    std::string socket_;
    std::string waylandDisplay_;
    std::string x11Display_;
    std::string failure_;
    double startSeconds_ = 0;
};

}  // namespace lumory::testing
