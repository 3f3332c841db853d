#include "xvfb_window_manager.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "xvfb_process.h"

namespace fs = std::filesystem;

namespace lumory::testing {

namespace {

// No tray, menus or key bindings of its own: only window management.
constexpr char kConfiguration[] = R"(<?xml version="1.0"?>
<JWM>
  <Desktops width="1" height="1"/>
  <FocusModel>click</FocusModel>
</JWM>
)";

}  // namespace

XvfbWindowManager::XvfbWindowManager(const XvfbDisplay& display) {
    if (!display.started()) return;
    std::string pattern = (fs::temp_directory_path() / "lumory-wm-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    std::string configuration = folder_ + "/jwmrc";
    std::ofstream(configuration) << kConfiguration;
    std::string displayName = display.name();

    pid_ = fork();
    if (pid_ == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        setenv("HOME", folder_.c_str(), 1);
        execlp("jwm", "jwm", "-display", displayName.c_str(), "-f", configuration.c_str(), nullptr);
        _exit(127);
    }
    if (pid_ < 0) return;
    // Ready once it owns the supporting-window-manager check on the root window.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!started_ && std::chrono::steady_clock::now() < deadline) {
        started_ =
            runAndWait({"sh", "-c", "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'"},
                       {"DISPLAY=" + displayName}, 2000);
        if (!started_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

XvfbWindowManager::~XvfbWindowManager() {
    stopProcess(pid_, std::chrono::seconds(2));
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}

}  // namespace lumory::testing
