// The shell's whole process tree sitting on its page (shell, WebKit's web and network processes,
// the service and whatever it started), against WebKitGTK's own MiniBrowser: CPU time and
// wake-ups per second while nobody touches either, and memory with shared pages counted once.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../bench_report.h"
#include "installed_icons.h"
#include "process_tree.h"
#include "spawned_child.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_shell.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace lumory::bench;
using lumory::testing::ShellUnderTest;
using lumory::testing::XvfbDisplay;

namespace {

constexpr char kMiniBrowser[] = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser";
// After the load, before measuring: the page's start-up work, the service's first requests and
// its JIT warming up (about 5 wake-ups a second in node for the first seconds) are over by then.
constexpr auto kSettle = 10s;
// MiniBrowser says nothing when it has loaded; this is well past its load on these machines.
constexpr auto kMiniBrowserLoad = 3s;

int envCount(const char* name, int fallback) {
    const char* value = std::getenv(name);
    int count = value ? std::atoi(value) : 0;
    return count > 0 ? count : fallback;
}

struct IdleSample {
    double cpuMsPerSecond = 0;
    double wakeUpsPerSecond = 0;
};

// Watches the tree for `seconds` and prints what each process did, so a poller shows by name.
IdleSample watchIdle(pid_t root, int seconds, const char* label) {
    TreeCounters before = TreeCounters::read(root);
    auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    TreeCounters after = TreeCounters::read(root);
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    IdleSample sample;
    for (const auto& [pid, process] : activityBetween(before, after)) {
        std::printf("  %s: %-20s pid %-7d %7.2f ms CPU/s %7.1f wake-ups/s\n", label,
                    process.name.c_str(), pid, process.cpuMs / elapsed, process.wakeUps / elapsed);
        sample.cpuMsPerSecond += process.cpuMs / elapsed;
        sample.wakeUpsPerSecond += process.wakeUps / elapsed;
    }
    std::printf("%s: %.2f ms CPU/s, %.1f wake-ups/s over %.1f s\n", label, sample.cpuMsPerSecond,
                sample.wakeUpsPerSecond, elapsed);
    std::fflush(stdout);
    return sample;
}

std::optional<std::string> serviceAddress(Child& service) {
    auto ready = readLineContaining(service.output, "\"ready\"", 30s);
    if (!ready) return std::nullopt;
    auto start = ready->find("http://");
    if (start == std::string::npos) return std::nullopt;
    return ready->substr(start, ready->find('"', start) - start);
}

}  // namespace

int main() {
    XvfbDisplay display;
    if (!display.started()) {
        std::cerr << "Xvfb did not start\n";
        return 1;
    }
    if (access(kMiniBrowser, X_OK) != 0) {
        std::cerr << "no " << kMiniBrowser << " (package libwebkit2gtk-4.1-0)\n";
        return 1;
    }
    const int seconds = envCount("LUMORY_BENCH_IDLE_SECONDS", 30);
    const int rounds = envCount("LUMORY_BENCH_IDLE_ROUNDS", 3);
    std::string scratch =
        (fs::temp_directory_path() / ("lumory-idle-bench-" + std::to_string(getpid()))).string();
    fs::create_directories(scratch);
    const std::vector<std::string> serviceEnvironment = {"PATH=/usr/bin:/bin", "HOME=" + scratch,
                                                         "HOST=127.0.0.1", "PORT=0"};

    int audioWhileClosed = 0;
    std::vector<double> shellCpu, shellWakeUps, shellPss, blankCpu, blankWakeUps, pagePss;
    auto shellRound = [&] {
        ShellUnderTest shell(LUMORY_SHELL_BINARY, LUMORY_REFERENCE_SERVICE);
        lumory::bench::addInstalledIcons(shell.root());
        for (const char* helper : {LUMORY_CALENDAR_HELPER, LUMORY_AUDIO_HELPER}) {
            shell.addHelper(helper);
        }
        if (!shell.start(display, {"LUMORY_DESKTOP_PORT=0"})) return;
        if (!shell.waitForProbe(lumory::testing::isServicePage, 30s)) {
            std::cerr << "the shell's page did not load: " << shell.standardError() << "\n";
            return;
        }
        std::this_thread::sleep_for(kSettle);
        shellPss.push_back(treeProportionalKilobytes(shell.pid()) / 1024.0);
        IdleSample sample = watchIdle(shell.pid(), seconds, "shell");
        // The sound meter samples only while the overlay shows it: with the overlay closed, no
        // audio helper should be running.
        bool sampling = false;
        for (pid_t pid : processTree(shell.pid())) sampling |= processName(pid) == "lumory-audio";
        std::printf("overlay closed, audio helper %s\n", sampling ? "RUNNING" : "not running");
        audioWhileClosed += sampling ? 1 : 0;
        shellCpu.push_back(sample.cpuMsPerSecond);
        shellWakeUps.push_back(sample.wakeUpsPerSecond);
        shell.stop(5s);
    };
    auto blankRound = [&] {
        Child browser = spawnReading({kMiniBrowser, "about:blank"},
                                     displayEnvironment(display, scratch));
        std::this_thread::sleep_for(kMiniBrowserLoad + kSettle);
        IdleSample sample = watchIdle(browser.pid, seconds, "MiniBrowser, blank page");
        blankCpu.push_back(sample.cpuMsPerSecond);
        blankWakeUps.push_back(sample.wakeUpsPerSecond);
        stopChild(browser);
    };
    // The shell's page is the service's: MiniBrowser opens the same service's page, and the
    // service's own share counts in its tree as it does in the shell's.
    auto pageRound = [&] {
        Child service = spawnReading({"node", LUMORY_REFERENCE_SERVICE}, serviceEnvironment);
        if (auto address = serviceAddress(service)) {
            Child browser =
                spawnReading({kMiniBrowser, *address}, displayEnvironment(display, scratch));
            std::this_thread::sleep_for(kMiniBrowserLoad + kSettle);
            pagePss.push_back(
                (treeProportionalKilobytes(browser.pid) + treeProportionalKilobytes(service.pid)) /
                1024.0);
            stopChild(browser);
        }
        stopChild(service);
    };
    for (int round = 0; round < rounds; ++round) {
        // Alternating the order evens out what the other processes on the machine do.
        if (round % 2 == 0) {
            shellRound();
            blankRound();
        } else {
            blankRound();
            shellRound();
        }
        pageRound();
    }
    fs::remove_all(scratch);

    reportFigure("idle tree CPU", "ms/s", shellCpu, blankCpu);
    reportFigure("idle tree wake-ups", "1/s", shellWakeUps, blankWakeUps);
    reportFigure("process tree PSS", "MB", shellPss, pagePss);
    return shellCpu.empty() || blankCpu.empty() || audioWhileClosed > 0 ? 1 : 0;
}
