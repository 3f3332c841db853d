// The shell's own share of "ready line to load request": from a chunk of service output to the
// load request, over fakes, against parsing the same line as JSON alone.
#include <chrono>
#include <cstdio>

#include "app_delegate.h"
#include "fake_desktop.h"
#include "fake_main_queue.h"
#include "fake_platform.h"
#include "fake_service.h"

using namespace lumory;
using Stopwatch = std::chrono::steady_clock;

int main() {
    constexpr int kRounds = 20000;
    const std::string chunk =
        "lumory-server 0.1.0 "
        "listening\n{\"event\":\"ready\",\"url\":\"http://127.0.0.1:43981/\"}\n";

    Stopwatch::duration shell{};
    for (int round = 0; round < kRounds; ++round) {
        fakes::FakeDesktop desktop;
        fakes::FakeServiceLauncher launcher;
        fakes::FakeMainQueue queue;
        fakes::FakeHostSystem system;
        fakes::FakeAlerts alerts;
        fakes::FakeNotificationCenter notifications;
        fakes::FakeHttpClient http;
        fakes::FakeDefaultsStore defaults;
        fakes::FakeClock clock;
        AppDelegate delegate(AppPlatform{desktop, launcher, queue, system, alerts, notifications,
                                         http, defaults, clock});
        delegate.applicationDidFinishLaunching();
        auto start = Stopwatch::now();
        launcher.writeOutput(chunk);
        shell += Stopwatch::now() - start;
        if (desktop.webView->loads.size() != 2) return 1;
    }

    Stopwatch::duration parse{};
    size_t objects = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto start = Stopwatch::now();
        auto value = nlohmann::json::parse(chunk.substr(chunk.find('{')), nullptr, false);
        parse += Stopwatch::now() - start;
        objects += value.is_object();
    }

    double shellUs = std::chrono::duration<double, std::micro>(shell).count() / kRounds;
    double parseUs = std::chrono::duration<double, std::micro>(parse).count() / kRounds;
    std::printf("output chunk to load request: %.2f us; JSON parse alone %.2f us (ratio %.2f)\n",
                shellUs, parseUs, shellUs / parseUs);
    return objects == kRounds ? 0 : 1;
}
