#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "xvfb/xvfb_shell.h"

namespace lumory::testing {

// The unprivileged account real desktops run under in tests (GNOME Shell greets root with a
// warning banner, sway refuses root). Created when missing, which needs root.
struct DesktopUser {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
};
std::optional<DesktopUser> desktopTestUser();

// Everything one desktop session runs, as the test user: a private runtime folder (the session's
// XDG_RUNTIME_DIR and HOME), its processes, and a private system bus and session bus. Every
// process the session started, also those started by its children (D-Bus activation, Xwayland),
// carries the runtime folder in its environment and is killed when the object goes: a desktop
// left running makes the next one hang.
class DesktopSession {
public:
    // `activatable`: the D-Bus services the session bus may start on demand (file names under
    // /usr/share/dbus-1/services); no other service is started behind the test's back.
    DesktopSession(const DesktopUser& user, const std::vector<std::string>& activatable);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    bool started() const { return !sessionBus_.empty(); }
    const DesktopUser& user() const { return user_; }
    const std::string& runtime() const { return runtime_; }
    const std::string& sessionBus() const { return sessionBus_; }
    const std::string& systemBus() const { return systemBus_; }
    // What every program of the session gets: HOME, the XDG folders and both buses.
    std::vector<std::string> environment() const;

    // Starts `argv` as the test user with the session's environment plus `extra`; its standard
    // output and error go to `log` in the runtime folder. The process id, or -1.
    pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra,
                const std::string& log);
    // Runs `argv` like spawn and waits for it; true when it exited with 0 in time.
    bool run(const std::vector<std::string>& argv, const std::vector<std::string>& extra,
             std::chrono::milliseconds timeout);
    std::string readLog(const std::string& log) const;

private:
    pid_t startBus(const std::string& config, std::string& address);
    void killEverything();

    DesktopUser user_;
    std::string runtime_;
    std::string marker_;
    std::string sessionBus_;
    std::string systemBus_;
    std::vector<pid_t> started_;
};

// The shell in its throw-away tree (see ShellUnderTest), run as the desktop's user. Its
// sanitizer reports cannot go where the build puts them (a folder of root's): they are written
// to its home and copied there when the object goes.
class DesktopShell {
public:
    DesktopShell(const std::string& binary, const std::string& service, const DesktopUser& user);
    ~DesktopShell();
    DesktopShell(const DesktopShell&) = delete;
    DesktopShell& operator=(const DesktopShell&) = delete;

    // On the desktop's X server `displayName`, with `environment` added; then waits for the
    // service's page, keeping the window-buttons reports seen meanwhile.
    bool start(const std::string& displayName, std::vector<std::string> environment);
    bool waitForPage(std::chrono::milliseconds timeout);
    ShellUnderTest* operator->() { return &shell_; }
    std::string home() const { return shell_.root() + "/home"; }

    // The stand-in services talk with the test through files in the shell's home, one JSON
    // value a line.
    std::vector<nlohmann::json> linesOf(const std::string& file) const;
    void append(const std::string& file, const nlohmann::json& line) const;
    // The window buttons' last report once reports have stopped coming for `settle` (they are
    // reported again at every step of a change).
    std::optional<nlohmann::json> settledButtons(std::chrono::milliseconds settle);

private:
    ShellUnderTest shell_;
    std::optional<nlohmann::json> buttons_;
    bool owned_ = false;
    std::string reportsFolder_;
};

// Polls `condition` every 100 ms for at most `timeout`.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace lumory::testing
