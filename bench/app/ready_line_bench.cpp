// The shell's own share of "ready line to load request": from a chunk of service output to the
// load request, over fakes, against parsing the same line as JSON alone.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "../bench_report.h"
#include "shell/shell.h"
#include "fake_desktop.h"
#include "fake_main_queue.h"
#include "fake_platform.h"
#include "fake_service.h"

using namespace lumory;
using Stopwatch = std::chrono::steady_clock;

int main() {
    // Pairs of batches, interleaved; each batch gives one sample, its mean per round.
    constexpr int kPairs = 15;
    constexpr int kRounds = 2000;
    const std::string chunk =
        "lumory-server 0.1.0 "
        "listening\n{\"event\":\"ready\",\"url\":\"http://127.0.0.1:43981/\"}\n";

    auto shellBatch = [&]() -> double {
        Stopwatch::duration spent{};
        for (int round = 0; round < kRounds; ++round) {
            fakes::FakeDesktop desktop;
            fakes::FakeServiceLauncher launcher;
            fakes::FakeMainQueue queue;
            fakes::FakeHostSystem system;
            fakes::FakeDialogs dialogs;
            fakes::FakeNotificationCenter notifications;
            fakes::FakeHttpClient http;
            fakes::FakeSettingsStore settings;
            fakes::FakeClock clock;
            Shell shell(ShellPlatform{desktop, launcher, queue, system, dialogs, notifications,
                                      http, settings, clock});
            shell.start();
            auto start = Stopwatch::now();
            launcher.writeOutput(chunk);
            spent += Stopwatch::now() - start;
            if (desktop.webView->loads.size() != 2) return -1;
        }
        return std::chrono::duration<double, std::micro>(spent).count() / kRounds;
    };
    size_t objects = 0;
    auto parseBatch = [&]() -> double {
        Stopwatch::duration parse{};
        for (int round = 0; round < kRounds; ++round) {
            auto start = Stopwatch::now();
            auto value = nlohmann::json::parse(chunk.substr(chunk.find('{')), nullptr, false);
            parse += Stopwatch::now() - start;
            objects += value.is_object();
        }
        return std::chrono::duration<double, std::micro>(parse).count() / kRounds;
    };

    std::vector<double> shellUs, parseUs;
    for (int pair = 0; pair < kPairs; ++pair) {
        shellUs.push_back(shellBatch());
        parseUs.push_back(parseBatch());
        if (shellUs.back() < 0) return 1;
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::printf("output chunk to load request: %.2f us; JSON parse alone %.2f us (ratio %.2f)\n",
                median(shellUs), median(parseUs), median(shellUs) / median(parseUs));
    lumory::bench::reportFigure("ready line to load request (shell's share)", "us", shellUs,
                                parseUs);
    return objects == size_t{kPairs} * kRounds ? 0 : 1;
}
