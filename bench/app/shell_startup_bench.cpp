// Start-up of the shell against a bare WebKitGTK window opened on the same service, in one run:
// exec to the page's finished load, resident memory of the UI process and of the whole process
// tree at that moment, and the time from the service's ready line to the shell's load request.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../bench_report.h"
#include "installed_icons.h"
#include "process_tree.h"
#include "spawned_child.h"
#include "process/child_process.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_shell.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using lumory::testing::ShellUnderTest;
using lumory::testing::XvfbDisplay;
using namespace lumory::bench;

namespace {

// Pairs of runs, shell and baseline; LUMORY_BENCH_PAIRS changes it.
int pairCount() {
    const char* value = std::getenv("LUMORY_BENCH_PAIRS");
    int count = value ? std::atoi(value) : 0;
    return count > 0 ? count : 15;
}

long long monotonicMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long residentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// The process and all its descendants.
long treeResidentKilobytes(pid_t root) {
    std::vector<pid_t> tree = processTree(root);
    long total = 0;
    for (pid_t pid : tree) total += std::max(0L, residentKilobytes(pid));
    return total;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main() {
    XvfbDisplay display;
    if (!display.started()) {
        std::cerr << "Xvfb did not start\n";
        return 1;
    }
    std::string scratch =
        (fs::temp_directory_path() / ("lumory-bench-" + std::to_string(getpid()))).string();
    fs::create_directories(scratch);
    const std::vector<std::string> serviceEnvironment = {"PATH=/usr/bin:/bin", "HOME=" + scratch,
                                                         "HOST=127.0.0.1", "PORT=0"};
    const int pairs = pairCount();

    std::vector<double> bareMs, bareRss, bareTreeRss, shellMs, shellRss, shellTreeRss,
        readyToRequestUs, serviceStartMs;
    // What the desktop libraries loaded at start take as mapped in the UI process, in MB.
    const std::vector<std::string> libraries = {"libsoup-3.0", "libayatana-appindicator3",
                                                "libdbusmenu", "libcanberra"};
    std::map<std::string, std::vector<double>> libraryRss;
    // The baseline starts the same service, waits for its ready line and opens a bare WebKitGTK
    // window on the address: what the shell does, without the shell.
    auto bareRun = [&] {
        long long started = monotonicMicros();
        Child service = spawnReading({"node", LUMORY_REFERENCE_SERVICE}, serviceEnvironment);
        auto ready = readLineContaining(service.output, "\"ready\"", 30s);
        if (ready) {
            serviceStartMs.push_back((monotonicMicros() - started) / 1000.0);
            auto urlStart = ready->find("http://");
            std::string url = ready->substr(urlStart, ready->find('"', urlStart) - urlStart);
            Child bare =
                spawnReading({LUMORY_BARE_WINDOW, url}, displayEnvironment(display, scratch));
            auto loaded = readLineContaining(bare.output, "loaded ", 30s);
            if (loaded) {
                bareMs.push_back((std::stoll(loaded->substr(7)) - started) / 1000.0);
                bareRss.push_back(residentKilobytes(bare.pid) / 1024.0);
                bareTreeRss.push_back(
                    (treeResidentKilobytes(bare.pid) + treeResidentKilobytes(service.pid)) /
                    1024.0);
            }
            stopChild(bare);
        }
        stopChild(service);
    };
    auto shellRun = [&] {
        ShellUnderTest shell(LUMORY_SHELL_BINARY, LUMORY_TIMED_SERVICE);
        lumory::bench::addInstalledIcons(shell.root());
        fs::copy_file(LUMORY_REFERENCE_SERVICE, shell.root() + "/lib/lumory/reference-server.js");
        long long started = monotonicMicros();
        if (!shell.start(display, {"LUMORY_DESKTOP_PORT=0"})) return;
        auto request = shell.waitForProbe(
            [](const nlohmann::json& r) { return r.value("event", "") == "load-request"; }, 30s);
        auto loaded = shell.waitForProbe(
            [](const nlohmann::json& r) {
                return r.value("event", "") == "load-finished" &&
                       r.value("url", "").rfind("http://", 0) == 0;
            },
            30s);
        if (loaded && request) {
            shellMs.push_back((loaded->value("monotonicMicroseconds", 0LL) - started) / 1000.0);
            shellRss.push_back(residentKilobytes(shell.pid()) / 1024.0);
            for (const auto& library : libraries) {
                libraryRss[library].push_back(mappedResidentKilobytes(shell.pid(), library) /
                                              1024.0);
            }
            shellTreeRss.push_back(treeResidentKilobytes(shell.pid()) / 1024.0);
            std::ifstream readyFile(shell.root() + "/home/ready-time");
            long long readyAt = 0;
            readyFile >> readyAt;
            if (readyAt > 0) {
                readyToRequestUs.push_back(
                    static_cast<double>(request->value("monotonicMicroseconds", 0LL) - readyAt));
            }
        }
        shell.stop(5s);
    };
    // Alternating which goes first evens out what the other processes on the machine do.
    for (int pair = 0; pair < pairs; ++pair) {
        if (pair % 2 == 0) {
            bareRun();
            shellRun();
        } else {
            shellRun();
            bareRun();
        }
    }
    fs::remove_all(scratch);

    double bare = median(bareMs), shell = median(shellMs);
    std::printf("pairs: %d (medians)\n", pairs);
    std::printf(
        "exec to page loaded: bare window after the same service start %.0f ms, shell %.0f ms "
        "(ratio %.3f); service start alone %.0f ms\n",
        bare, shell, shell / bare, median(serviceStartMs));
    std::printf("UI process RSS: bare window %.1f MB, shell %.1f MB (ratio %.3f)\n",
                median(bareRss), median(shellRss), median(shellRss) / median(bareRss));
    std::printf("process tree RSS: bare window + service %.1f MB, shell %.1f MB (ratio %.3f)\n",
                median(bareTreeRss), median(shellTreeRss),
                median(shellTreeRss) / median(bareTreeRss));
    std::printf("ready line to load request: %.0f us\n", median(readyToRequestUs));
    for (const auto& [library, megabytes] : libraryRss) {
        std::printf("shell UI process, resident in %s* mappings: %.2f MB\n", library.c_str(),
                    median(megabytes));
    }
    using lumory::bench::reportFigure;
    reportFigure("shell exec to page loaded", "ms", shellMs, bareMs);
    reportFigure("shell UI process RSS", "MB", shellRss, bareRss);
    reportFigure("shell process tree RSS", "MB", shellTreeRss, bareTreeRss);
    reportFigure("shell ready line to load request (end to end)", "us", readyToRequestUs);
    return bareMs.empty() || shellMs.empty() ? 1 : 0;
}
