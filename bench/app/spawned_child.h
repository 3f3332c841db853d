#pragma once

// Programs the benchmarks start themselves, each in a process group of its own with its
// standard output on a pipe, and the line they wait for on it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "process/child_process.h"
#include "xvfb/xvfb_display.h"

namespace lumory::bench {

using namespace std::chrono_literals;

struct Child {
    pid_t pid = -1;
    int output = -1;
};

inline Child spawnReading(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(fds[1], 1);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        std::vector<std::string> copy = env;
        std::vector<char*> envp;
        for (auto& entry : copy) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::vector<std::string> args = argv;
        std::vector<char*> argp;
        for (auto& arg : args) argp.push_back(arg.data());
        argp.push_back(nullptr);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    return {pid, fds[0]};
}

inline std::optional<std::string> readLineContaining(int fd, const std::string& text,
                                              std::chrono::milliseconds timeout) {
    std::string buffer;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        size_t lineFeed;
        while ((lineFeed = buffer.find('\n')) != std::string::npos) {
            std::string line = buffer.substr(0, lineFeed);
            buffer.erase(0, lineFeed + 1);
            if (line.find(text) != std::string::npos) return line;
        }
        pollfd poller{fd, POLLIN, 0};
        if (poll(&poller, 1, 100) <= 0) continue;
        char chunk[4096];
        ssize_t count = read(fd, chunk, sizeof chunk);
        if (count <= 0) return std::nullopt;
        buffer.append(chunk, static_cast<size_t>(count));
    }
    return std::nullopt;
}

inline void stopChild(Child& child) {
    if (child.pid > 0) {
        kill(-child.pid, SIGKILL);
        lumory::testing::waitForExit(child.pid, 5s);
    }
    if (child.output >= 0) close(child.output);
    child = {};
}

// A WebKitGTK program on the test display, with no session bus to start services on.
inline std::vector<std::string> displayEnvironment(const lumory::testing::XvfbDisplay& display, const std::string& home) {
    return {"PATH=/usr/bin:/bin",
            "HOME=" + home,
            "DISPLAY=" + display.name(),
            "NO_AT_BRIDGE=1",
            "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent",
            "XDG_CACHE_HOME=" + home + "/.cache",
            "XDG_DATA_HOME=" + home + "/.local/share",
            "XDG_CONFIG_HOME=" + home + "/.config"};
}

}  // namespace lumory::bench
