#include "xvfb/xvfb_window_manager.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "process/child_process.h"

namespace lumory::testing {

namespace {

constexpr char kConfig[] = R"(<?xml version="1.0"?>
<JWM>
  <FocusModel>click</FocusModel>
  <Desktops width="1" height="1"/>
</JWM>
)";

// The window manager sets _NET_SUPPORTING_WM_CHECK on the root once it manages the screen.
bool announced(const std::string& displayName) {
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

Window findClient(Display* display, Window window, const std::string& title, int depth) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name != nullptr) {
        bool matches = title == name;
        XFree(name);
        XWindowAttributes attributes;
        if (matches && XGetWindowAttributes(display, window, &attributes) &&
            attributes.map_state == IsViewable) {
            return window;
        }
    }
    if (depth == 0) return 0;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        found = findClient(display, children[i], title, depth - 1);
    }
    if (children) XFree(children);
    return found;
}

}  // namespace

XvfbWindowManager::XvfbWindowManager(const XvfbDisplay& display) {
    if (!display.started()) return;
    char pattern[] = "/tmp/lumory-jwmrc-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd < 0) return;
    close(fd);
    config_ = pattern;
    std::ofstream(config_) << kConfig;
    std::string displayName = display.name();
    // Started at the moment the display has come up, jwm now and then ends at once with status
    // 1; a little later it starts.
    for (int attempt = 0; attempt < 5 && !started_; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pid_ = fork();
        if (pid_ == 0) {
            int devnull = open("/dev/null", O_RDWR);
            int log = open((config_ + ".log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(devnull, 0);
            dup2(devnull, 1);
            dup2(log, 2);
            execlp("jwm", "jwm", "-display", displayName.c_str(), "-f", config_.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0) return;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!started_ && std::chrono::steady_clock::now() < deadline) {
            if (waitForExit(pid_, std::chrono::milliseconds(0)) != -1) {
                pid_ = -1;
                std::ifstream log(config_ + ".log");
                errors_.assign(std::istreambuf_iterator<char>(log),
                               std::istreambuf_iterator<char>());
                break;
            }
            started_ = announced(displayName);
            if (!started_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
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
    if (!config_.empty()) {
        std::remove(config_.c_str());
        std::remove((config_ + ".log").c_str());
    }
}

bool requestWindowClose(const std::string& displayName, const std::string& title) {
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr) return false;
    Window root = DefaultRootWindow(display);
    Window client = findClient(display, root, title, 3);
    if (client != 0) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = client;
        event.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = CurrentTime;
        event.xclient.data.l[1] = 2;  // a pager or taskbar, on the user's behalf
        XSendEvent(display, root, False, SubstructureNotifyMask | SubstructureRedirectMask, &event);
        XSync(display, False);
    }
    XCloseDisplay(display);
    return client != 0;
}

}  // namespace lumory::testing
