// A due reminder's delay from its due time to the notification's arrival at a notification
// server on a private session bus, through the real shell and a page that schedules reminders;
// against a bare program on the same bus sending Notify when its own timer reaches the same
// kind of due time.
#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "../bench_report.h"
#include "dbus/notification_test_server.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_input.h"
#include "xvfb/xvfb_session_bus.h"
#include "xvfb/xvfb_shell.h"

using namespace std::chrono_literals;
using lumory::testing::NotificationTestServer;
using lumory::testing::ShellUnderTest;
using lumory::testing::XvfbDisplay;
using lumory::testing::XvfbSessionBus;
using nlohmann::json;
using Steady = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;

namespace {

constexpr auto kFirstDue = 3s;   // past the page's first poll of its commands
constexpr auto kBetween = 700ms;  // one at a time at the server

int reminderCount() {
    const char* value = std::getenv("LUMORY_BENCH_REMINDERS");
    int count = value ? std::atoi(value) : 0;
    return count > 0 ? count : 15;
}

double millisBetween(Steady::time_point from, Steady::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

bool permissionAnswered(const std::string& events, std::chrono::milliseconds timeout) {
    auto deadline = Steady::now() + timeout;
    while (Steady::now() < deadline) {
        std::ifstream in(events);
        std::string line;
        while (std::getline(in, line)) {
            if (line.find("lumory-reminder-native-result") != std::string::npos) return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// Each reminder's delay in ms, in the order they were due; empty when the shell did not start.
std::vector<double> shellDelays(const XvfbDisplay& display, const XvfbSessionBus& bus, int count) {
    NotificationTestServer server(bus.address());
    ShellUnderTest shell(LUMORY_SHELL_BINARY, LUMORY_REMINDER_SERVICE);
    if (!server.started() ||
        !shell.start(display, {"LUMORY_DESKTOP_PORT=0", "DBUS_SESSION_BUS_ADDRESS=" + bus.address(),
                               "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent"}) ||
        !shell.waitForProbe(lumory::testing::isServicePage, 30s)) {
        std::cerr << "the shell did not start: " << shell.standardError() << "\n";
        return {};
    }
    // With the shell in front a reminder only plays its sound: leave the shell unfocused, the
    // pointer off its window and focus following the pointer again.
    lumory::testing::XvfbInput input(display.name());
    if (!input.connected()) return {};
    input.movePointer(2, 2);
    input.focusFollowsPointer();
    // Scheduling waits for the permission's answer, as a page does.
    const std::string home = shell.root() + "/home";
    std::ofstream(home + "/page-commands.jsonl", std::ios::app)
        << json({{"action", "permission"}, {"requestId", "p1"}}).dump() << "\n";
    if (!permissionAnswered(home + "/page-events.jsonl", 10s)) {
        std::cerr << "no answer to the permission request\n";
        return {};
    }
    // The page turns `at` (wall-clock milliseconds) into the reminder's due time as it is.
    // `at` is whole milliseconds: start from the next one, so the due times are exact.
    auto wallNow = Wall::now();
    auto steadyNow = Steady::now();
    auto wholeMs = std::chrono::ceil<std::chrono::milliseconds>(wallNow.time_since_epoch());
    steadyNow += wholeMs - wallNow.time_since_epoch();
    wallNow = Wall::time_point(wholeMs);
    json entries = json::array();
    std::vector<Steady::time_point> due;
    for (int index = 0; index < count; ++index) {
        auto offset = kFirstDue + index * kBetween;
        due.push_back(steadyNow + offset);
        entries.push_back(
            {{"deliveryId", "lumory.reminder.bench." + std::to_string(index)},
             {"id", "bench" + std::to_string(index)},
             {"at", std::chrono::duration_cast<std::chrono::milliseconds>(
                        (wallNow + offset).time_since_epoch())
                        .count()},
             {"title", "Reminder " + std::to_string(index)},
             {"detail", "Benchmark"}});
    }
    std::ofstream(home + "/page-commands.jsonl", std::ios::app) << json({{"action", "schedule"}, {"notifications", entries}}).dump() << "\n";

    std::vector<double> delays;
    for (int index = 0; index < count; ++index) {
        std::string title = "Reminder " + std::to_string(index);
        auto shown = server.waitForNotify(
            [&](const auto& notification) { return notification.summary == title; },
            kFirstDue + count * kBetween + 10s);
        if (!shown) {
            std::cerr << title << " never arrived; " << server.notifications().size()
                      << " notifications did\n";
            while (auto report = shell.waitForProbe([](const json&) { return true; }, 100ms)) {
                std::cerr << report->dump() << "\n";
            }
            break;
        }
        delays.push_back(millisBetween(due[index], shown->arrived));
    }
    shell.stop(5s);
    return delays;
}

// The floor: this process sleeping until each due time and calling Notify on the same bus.
std::vector<double> bareDelays(const XvfbSessionBus& bus, int count) {
    NotificationTestServer server(bus.address());
    g_autoptr(GError) error = nullptr;
    g_autoptr(GDBusConnection) connection = g_dbus_connection_new_for_address_sync(
        bus.address().c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!server.started() || connection == nullptr) return {};
    auto start = Steady::now();
    std::vector<double> delays;
    for (int index = 0; index < count; ++index) {
        auto due = start + kFirstDue / 3 + index * kBetween;
        std::this_thread::sleep_until(due);
        std::string title = "Bare " + std::to_string(index);
        const char* actions[] = {"default", "Open", nullptr};
        g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
            connection, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
            "org.freedesktop.Notifications", "Notify",
            g_variant_new("(susss^asa{sv}i)", "bench", 0u, "", title.c_str(), "Benchmark",
                          actions, nullptr, -1),
            nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        auto shown = server.waitForNotify(
            [&](const auto& notification) { return notification.summary == title; }, 5s);
        if (!shown) break;
        delays.push_back(millisBetween(due, shown->arrived));
    }
    return delays;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(share * (values.size() - 1) + 0.5)];
}

}  // namespace

int main() {
    XvfbDisplay display;
    XvfbSessionBus bus(false);
    if (!display.started() || !bus.started()) {
        std::cerr << "no display or no private session bus\n";
        return 1;
    }
    const int count = reminderCount();
    std::vector<double> shell = shellDelays(display, bus, count);
    std::vector<double> bare = bareDelays(bus, count);
    std::printf("reminders: %zu of %d arrived; delay p50 %.2f ms, p95 %.2f ms, max %.2f ms\n",
                shell.size(), count, percentile(shell, 0.5), percentile(shell, 0.95),
                percentile(shell, 1.0));
    std::printf("bare timer and Notify: p50 %.2f ms, p95 %.2f ms\n", percentile(bare, 0.5),
                percentile(bare, 0.95));
    lumory::bench::reportFigure("reminder due to notification", "ms", shell, bare);
    return shell.size() == static_cast<size_t>(count) && !bare.empty() ? 0 : 1;
}
