#include "xvfb/xvfb_weston.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "process/child_process.h"

namespace fs = std::filesystem;

namespace lumory::testing {

namespace {

constexpr char kSocket[] = "lumory-test";

}  // namespace

XvfbWeston::XvfbWeston(const XvfbDisplay& display, int width, int height) {
    if (!display.started()) return;
    std::string pattern = (fs::temp_directory_path() / "lumory-weston-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    runtime_ = pattern;  // mkdtemp makes it private (0700), as a runtime folder must be
    std::string displayVariable = "DISPLAY=" + display.name();
    std::string runtimeVariable = "XDG_RUNTIME_DIR=" + runtime_;
    std::string homeVariable = "HOME=" + runtime_;
    std::string widthOption = "--width=" + std::to_string(width);
    std::string heightOption = "--height=" + std::to_string(height);

    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        char* environment[] = {const_cast<char*>("PATH=/usr/bin:/bin"), displayVariable.data(),
                               runtimeVariable.data(), homeVariable.data(), nullptr};
        execle("/usr/bin/weston", "weston", "--backend=x11-backend.so", "--socket=lumory-test",
               widthOption.c_str(), heightOption.c_str(), "--idle-time=0", nullptr, environment);
        _exit(127);
    }
    if (pid_ < 0) return;
    setpgid(pid_, pid_);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (fs::exists(runtime_ + "/" + kSocket)) {
            started_ = true;
            break;
        }
        if (waitForExit(pid_, std::chrono::milliseconds(0)) != -1) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // The desktop shell's own client (background, panel) starts just after the socket.
    if (started_) std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

XvfbWeston::~XvfbWeston() {
    if (pid_ > 0) {
        // Weston ends its own clients; the group catches any that linger.
        stopProcess(pid_, std::chrono::seconds(3));
        kill(-pid_, SIGKILL);
    }
    if (!runtime_.empty()) {
        std::error_code ignored;
        fs::remove_all(runtime_, ignored);
    }
}

std::vector<std::string> XvfbWeston::clientEnvironment() const {
    return {std::string("WAYLAND_DISPLAY=") + kSocket, "XDG_RUNTIME_DIR=" + runtime_};
}

}  // namespace lumory::testing
