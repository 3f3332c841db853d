#include "xvfb_window_manager.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
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

constexpr char kConfiguration[] = R"(<?xml version="1.0"?>
<JWM>
  <Desktops width="2" height="1"/>
  <FocusModel>click</FocusModel>
</JWM>
)";

// EWMH: a manager that runs sets _NET_SUPPORTING_WM_CHECK on the root window.
bool managerAnnounced(const std::string& displayName) {
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr) return false;
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type;
    int format;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False,
                                    XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
                 count == 1;
    if (data) XFree(data);
    XCloseDisplay(display);
    return found;
}

}  // namespace

XvfbWindowManager::XvfbWindowManager(const std::string& displayName) {
    std::string pattern = (fs::temp_directory_path() / "lumory-jwm-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    std::string configuration = folder_ + "/jwmrc";
    std::ofstream(configuration) << kConfiguration;
    // Started at the moment the display has come up, jwm now and then ends at once with status
    // 1; a little later it starts.
    for (int attempt = 0; attempt < 5 && !started_; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pid_ = fork();
        if (pid_ == 0) {
            int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, 0);
            dup2(devnull, 1);
            dup2(devnull, 2);
            setenv("HOME", folder_.c_str(), 1);
            execlp("jwm", "jwm", "-display", displayName.c_str(), "-f", configuration.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
            if (managerAnnounced(displayName)) {
                started_ = true;
                break;
            }
            if (waitForExit(pid_, std::chrono::milliseconds(50)) != -1) pid_ = -1;
        }
        if (!started_ && pid_ > 0) {
            stopProcess(pid_, std::chrono::seconds(1));
            pid_ = -1;
            return;
        }
    }
}

XvfbWindowManager::~XvfbWindowManager() {
    stopProcess(pid_, std::chrono::seconds(3));
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}

}  // namespace lumory::testing
