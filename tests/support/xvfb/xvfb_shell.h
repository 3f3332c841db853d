#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "xvfb/xvfb_display.h"

namespace lumory::testing {

// The shell installed in a private, throw-away tree (bin/lumory, lib/lumory/lumory-server,
// home and XDG folders) and run on a test display with its test probe on. Everything it
// started is gone when the object goes, even when the test failed.
class ShellUnderTest {
public:
    // `serviceScript` empty: the tree has no service.
    ShellUnderTest(const std::string& shellBinary, const std::string& serviceScript);
    ~ShellUnderTest();
    ShellUnderTest(const ShellUnderTest&) = delete;
    ShellUnderTest& operator=(const ShellUnderTest&) = delete;

    // Copies a helper program (the calendar or audio helper) next to the service, where the
    // shell points the service at it.
    bool addHelper(const std::string& binary);

    // `environment`: NAME=VALUE entries replace the defaults, a bare NAME removes one.
    bool start(const XvfbDisplay& display, const std::vector<std::string>& environment = {});
    // On a desktop's own X server (Xwayland): `displayName` is its DISPLAY.
    bool start(const std::string& displayName, const std::vector<std::string>& environment);
    // Runs the shell as another user, for desktops that refuse to run as root; the tree becomes
    // theirs. Call before start.
    bool runAs(uid_t uid, gid_t gid);

    // The next probe report for which `wanted` holds, read from the shell's standard output.
    std::optional<nlohmann::json> waitForProbe(
        const std::function<bool(const nlohmann::json&)>& wanted,
        std::chrono::milliseconds timeout);

    // Asks the shell to quit (SIGTERM); its wait status, or -1 when it did not end in time.
    int stop(std::chrono::milliseconds timeout);
    // Waits for the shell to end on its own; its wait status, or -1 when it still runs.
    int waitUntilEnded(std::chrono::milliseconds timeout);
    // Kills the shell alone, as a crash would.
    void killShellOnly();

    // What the shell wrote to its standard error so far, for failure messages.
    std::string standardError() const;

    pid_t pid() const { return pid_; }
    const std::string& root() const { return root_; }

private:
    std::string root_;
    pid_t pid_ = -1;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool reaped_ = false;
    int output_ = -1;
    std::string buffered_;
};

// The probe's report that the service's own page has loaded (from 127.0.0.1).
bool isServicePage(const nlohmann::json& report);
// The probe's report that the shell's own page saying why it could not open has loaded.
bool isFailurePage(const nlohmann::json& report);

}  // namespace lumory::testing
