#include "xvfb_window_manager.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "xvfb_process.h"

namespace fs = std::filesystem;

namespace lumory::testing {

namespace {

// No tray, no menus, click to focus: only frames and the EWMH requests.
constexpr char kConfiguration[] = R"(<?xml version="1.0"?>
<JWM>
  <FocusModel>click</FocusModel>
</JWM>
)";

bool announced(const std::string& displayName) {
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr) return false;
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    bool found = false;
    if (check != None) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW,
                               &type, &format, &count, &after, &data) == Success) {
            found = count == 1;
        }
        if (data) XFree(data);
    }
    XCloseDisplay(display);
    return found;
}

}  // namespace

XvfbWindowManager::XvfbWindowManager(const XvfbDisplay& display) {
    if (!display.started()) return;
    std::string pattern = (fs::temp_directory_path() / "lumory-jwm-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    std::string config = folder_ + "/jwmrc";
    std::ofstream(config) << kConfiguration;
    std::string displayName = display.name();
    pid_ = fork();
    if (pid_ == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        setenv("HOME", folder_.c_str(), 1);
        execlp("jwm", "jwm", "-display", displayName.c_str(), "-f", config.c_str(), nullptr);
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
        if (announced(displayName)) {
            started_ = true;
            break;
        }
        if (waitForExit(pid_, std::chrono::milliseconds(0)) != -1) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
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
