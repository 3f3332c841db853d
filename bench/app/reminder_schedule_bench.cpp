// Reconciling the page's "schedule" list with the pending reminders, through the shell and
// the shell's own notification centre (over a fake server, alarm and clock): 10,000 listed
// against 10,000 pending beside 1,000 against 1,000, so the growth shows. Half of each list is
// already pending, the other half new; half of the pending ones are withdrawn.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "shell/shell.h"
#include "fake_desktop.h"
#include "fake_main_queue.h"
#include "fake_platform.h"
#include "fake_service.h"
#include "notifications/desktop_notification_center.h"

using namespace lumory;
namespace {

// The machines are shared: the thread's own CPU time, not the wall clock, shows the cost.
double cpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Round {
    double milliseconds;
    size_t pendingAfter;
};

Round reconcile(int count) {
    fakes::FakeDesktop desktop;
    fakes::FakeServiceLauncher launcher;
    fakes::FakeMainQueue queue;
    fakes::FakeHostSystem system;
    fakes::FakeDialogs dialogs;
    fakes::FakeHttpClient http;
    fakes::FakeSettingsStore settings;
    fakes::FakeClock clock;
    fakes::FakeNotificationServer server;
    fakes::FakeWallClockAlarm alarm;
    DesktopNotificationCenter center(server, alarm, clock, queue, NotificationCenterHooks{});
    Shell shell(ShellPlatform{desktop, launcher, queue, system, dialogs, center, http, settings, clock});
    shell.start();

    double nowMs = unixSeconds(clock.current) * 1000.0;
    auto entry = [&](int index) {
        return nlohmann::json{{"deliveryId", "lumory.reminder.task-" + std::to_string(index)},
                              {"id", "task-" + std::to_string(index)},
                              {"at", nowMs + 60000.0 + index * 1000.0},
                              {"title", "Task " + std::to_string(index)},
                              {"body", "Timed task"},
                              {"path", "notes/task-" + std::to_string(index) + ".md"}};
    };
    // Pending: tasks 0 .. count-1. Listed: tasks count/2 .. count/2+count-1.
    nlohmann::json first = nlohmann::json::array();
    for (int index = 0; index < count; ++index) first.push_back(entry(index));
    desktop.webViewDelegate->scriptMessageReceived(
        *desktop.webView, "lumoryDesktopReminders", {{"action", "schedule"}, {"notifications", first}});
    queue.runPending();
    if (center.pendingCount() != static_cast<size_t>(count)) return {-1, 0};

    nlohmann::json list = nlohmann::json::array();
    for (int index = count / 2; index < count / 2 + count; ++index) list.push_back(entry(index));
    nlohmann::json message = {{"action", "schedule"}, {"notifications", std::move(list)}};

    double start = cpuMilliseconds();
    desktop.webViewDelegate->scriptMessageReceived(*desktop.webView, "lumoryDesktopReminders",
                                                   message);
    queue.runPending();
    return {cpuMilliseconds() - start, center.pendingCount()};
}

double median(int count, int rounds) {
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        Round result = reconcile(count);
        if (result.milliseconds < 0 || result.pendingAfter != static_cast<size_t>(count)) {
            std::fprintf(stderr, "wrong reconciliation for %d\n", count);
            return -1;
        }
        times.push_back(result.milliseconds);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    double small = median(1000, 15);
    double large = median(10000, 7);
    if (small < 0 || large < 0) return 1;
    std::printf("schedule of 1,000 against 1,000 pending: %.2f ms CPU (median)\n", small);
    std::printf(
        "schedule of 10,000 against 10,000 pending: %.2f ms CPU (median; aim under 50 ms)\n",
        large);
    std::printf("ratio 10,000 / 1,000: %.1f (10.0 would be linear)\n", large / small);
    return 0;
}
