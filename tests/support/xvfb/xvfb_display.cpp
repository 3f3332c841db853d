#include "xvfb/xvfb_display.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstring>

#include "process/child_process.h"

extern char** environ;

namespace lumory::testing {

namespace {

constexpr int kStartTimeoutMs = 10000;

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            int keepFd) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) env.emplace_back(*entry);
    env.insert(env.end(), environment.begin(), environment.end());
    pid_t pid = fork();
    if (pid != 0) return pid;
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    dup2(devnull, 2);
    if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
}

}  // namespace

XvfbDisplay::XvfbDisplay(int width, int height) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid_ = spawn(
        {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp"},
        {}, fds[1]);
    close(fds[1]);
    std::string number = readFirstLine(fds[0], std::chrono::milliseconds(kStartTimeoutMs));
    if (!number.empty()) name_ = ":" + number;
    close(fds[0]);
    if (name_.empty()) stopProcess(pid_, std::chrono::seconds(2));
}

XvfbDisplay::~XvfbDisplay() {
    stopProcess(pid_, std::chrono::seconds(3));
}

bool XvfbDisplay::screenshot(const std::string& path) const {
    return runAndWait({"import", "-window", "root", path}, {"DISPLAY=" + name_}, 20000);
}

namespace {

// Distinct colours in an image: a blank window on a black screen has a handful.
int colourCount(const std::string& path, const std::string& crop = "") {
    std::string command = crop.empty() ? "timeout 20 identify -format %k '" + path + "' 2>/dev/null"
                                       : "timeout 20 convert '" + path + "' -crop " + crop +
                                             " +repage -format %k info: 2>/dev/null";
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr) return 0;
    int count = 0;
    if (fscanf(output, "%d", &count) != 1) count = 0;
    pclose(output);
    return count;
}

}  // namespace

std::string pixelColour(const std::string& path, int x, int y) {
    std::string command = "timeout 20 convert '" + path + "' -format '%[pixel:p{" +
                          std::to_string(x) + "," + std::to_string(y) + "}]' info: 2>/dev/null";
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr) return {};
    char text[64] = {};
    if (fgets(text, sizeof text, output) == nullptr) text[0] = '\0';
    pclose(output);
    return text;
}

Pixels readPixels(const std::string& path) {
    std::string command = "timeout 20 convert '" + path + "' -depth 8 ppm:- 2>/dev/null";
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr) return {};
    Pixels pixels;
    int maximum = 0;
    if (fscanf(output, "P6 %d %d %d", &pixels.width, &pixels.height, &maximum) == 3 &&
        maximum == 255 && pixels.width > 0 && pixels.height > 0 && fgetc(output) != EOF) {
        pixels.rgb.resize(size_t(pixels.width) * pixels.height * 3);
        if (fread(pixels.rgb.data(), 1, pixels.rgb.size(), output) != pixels.rgb.size()) {
            pixels = {};
        }
    }
    pclose(output);
    return pixels;
}

bool XvfbDisplay::screenshotOnceDrawn(const std::string& path, int timeoutMs) const {
    // An empty window with its own window buttons already shows about 40 colours; a page full
    // of text brings hundreds. A sparse page is taken once its picture has held still for a
    // second above the bare window's count.
    constexpr int kDrawnColours = 80;
    constexpr int kBareColours = 16;
    constexpr int kStillShots = 5;
    int previous = -1;
    int still = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int colours = screenshot(path) ? colourCount(path) : -1;
        if (colours > kDrawnColours) return true;
        still = colours > kBareColours && colours == previous ? still + 1 : 0;
        if (still >= kStillShots) return true;
        previous = colours;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        usleep(200 * 1000);
    }
}

bool XvfbDisplay::screenshotOnceDrawn(const std::string& path, int timeoutMs, int x, int y,
                                      int width, int height) const {
    constexpr int kBlankColours = 16;
    std::string crop = std::to_string(width) + "x" + std::to_string(height) + "+" +
                       std::to_string(x) + "+" + std::to_string(y);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (screenshot(path) && colourCount(path, crop) > kBlankColours) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        usleep(200 * 1000);
    }
}

bool runAndWait(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                int timeoutMs) {
    pid_t pid = spawn(argv, environment, -1);
    if (pid < 0) return false;
    int status = waitForExit(pid, std::chrono::milliseconds(timeoutMs));
    if (status == -1) {
        stopProcess(pid, std::chrono::seconds(1));
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace lumory::testing
