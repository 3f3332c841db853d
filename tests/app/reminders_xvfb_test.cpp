// The real shell on a private display and session bus with a test notification server and a
// stand-in service whose page posts reminder messages and records the events it receives.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "dbus/notification_test_server.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_input.h"
#include "xvfb/xvfb_session_bus.h"
#include "xvfb/xvfb_shell.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kService = std::string(LUMORY_TEST_SERVICES) + "/reminder_service.js";
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;

std::vector<json> readLines(const std::string& file) {
    std::vector<json> found;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        auto value = json::parse(line, nullptr, false);
        if (!value.is_discarded()) found.push_back(value);
    }
    return found;
}

class RemindersOnDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        ASSERT_TRUE(bus.started()) << "no private session bus";
        std::filesystem::create_directories(kArtifacts);
    }

    void start(bool withServer = true) {
        if (withServer) {
            server = std::make_unique<NotificationTestServer>(bus.address());
            ASSERT_TRUE(server->started());
        }
        ASSERT_TRUE(shell.start(
            display, {"LUMORY_DESKTOP_PORT=0", "DBUS_SESSION_BUS_ADDRESS=" + bus.address(),
                      "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent"}));
        ASSERT_TRUE(shell.waitForProbe(isServicePage, 30s)) << shell.standardError();
    }

    std::string home() { return shell.root() + "/home"; }

    void pagePosts(const json& message) {
        std::ofstream(home() + "/page-commands.jsonl", std::ios::app) << message.dump() << "\n";
    }

    // The first event `name` the page has received for which `wanted` holds.
    std::optional<json> waitForPageEvent(const std::string& name,
                                         const std::function<bool(const json&)>& wanted,
                                         std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            for (const json& event : readLines(home() + "/page-events.jsonl")) {
                if (event.value("name", "") == name && wanted(event["detail"])) {
                    return event["detail"];
                }
            }
            std::this_thread::sleep_for(50ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return std::nullopt;
    }

    std::optional<json> waitForAction(size_t count, std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            auto actions = readLines(home() + "/actions.jsonl");
            if (actions.size() >= count) return actions[count - 1];
            std::this_thread::sleep_for(50ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return std::nullopt;
    }

    XvfbDisplay display;
    XvfbSessionBus bus{false};
    std::unique_ptr<NotificationTestServer> server;
    ShellUnderTest shell{kShell, kService};
};

TEST_F(RemindersOnDisplayTest, ButtonsAndClicksOnARealServerReachTheServiceAndThePage) {
    start();
    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());
    // The shell took focus at start-up; with focus following the pointer again and the pointer
    // off the window, the shell is not in front.
    input.movePointer(2, 2);
    input.focusFollowsPointer();

    pagePosts({{"action", "permission"}, {"requestId", "p1"}});
    auto status = waitForPageEvent(
        "lumory-reminder-native-result",
        [](const json& detail) { return detail.value("requestId", "") == "p1"; }, 10s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, json({{"status", "granted"}, {"requestId", "p1"}}));

    auto posted = std::chrono::system_clock::now();
    pagePosts({{"action", "schedule"},
               {"notifications", json::array({{{"deliveryId", "lumory.reminder.e2e.1"},
                                               {"id", "e2e1"},
                                               {"inMs", 2500},
                                               {"title", "Water plants"},
                                               {"detail", "Balcony"},
                                               {"path", "notes/plants.md"}}})}});
    auto shown = server->waitForNotify(
        [](const auto& notification) { return notification.summary == "Water plants"; }, 15s);
    ASSERT_TRUE(shown) << shell.standardError();
    EXPECT_GE(std::chrono::system_clock::now(), posted + 2s) << "shown before its time";
    EXPECT_EQ(shown->body, "Balcony\nTimed task");
    EXPECT_EQ(shown->actions,
              (std::vector<std::string>{"default", "Open", "lumory.reminder.snooze", "Snooze 10m",
                                        "lumory.reminder.done", "Done"}));
    EXPECT_EQ(shown->hints["desktop-entry"], "'org.lumory.Lumory'");

    // Snooze: a copy ten minutes on, and the action posted to the service.
    server->invokeAction(shown->id, "lumory.reminder.snooze", "");
    auto copy = shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "notification-added" &&
                   report.value("identifier", "").rfind("e2e1.native.", 0) == 0;
        },
        10s);
    ASSERT_TRUE(copy);
    EXPECT_NEAR(copy->value("inMs", 0), 600000, 2000);
    EXPECT_EQ(copy->at("userInfo").at("reminder").value("detail", ""), "Snoozed for 10 minutes");
    auto snooze = waitForAction(1, 10s);
    ASSERT_TRUE(snooze);
    EXPECT_EQ(snooze->value("contentType", ""), "application/json");
    EXPECT_EQ(json::parse(snooze->value("body", "{}")),
              json({{"id", "e2e1"},
                    {"action", "snooze"},
                    {"deliveryId", "lumory.reminder.e2e.1"},
                    {"snoozeMinutes", 10}}));

    // Done on a second reminder posts "complete".
    pagePosts({{"action", "schedule"},
               {"notifications", json::array({{{"deliveryId", "lumory.reminder.e2e.2"},
                                               {"id", "e2e2"},
                                               {"inMs", 1500},
                                               {"title", "Pay rent"}}})}});
    auto second = server->waitForNotify(
        [](const auto& notification) { return notification.summary == "Pay rent"; }, 15s);
    ASSERT_TRUE(second);
    server->invokeAction(second->id, "lumory.reminder.done", "");
    auto done = waitForAction(2, 10s);
    ASSERT_TRUE(done);
    EXPECT_EQ(
        json::parse(done->value("body", "{}")),
        json({{"id", "e2e2"}, {"action", "complete"}, {"deliveryId", "lumory.reminder.e2e.2"}}));

    // A click brings the window forward with the server's token and opens the reminder.
    pagePosts({{"action", "schedule"},
               {"notifications", json::array({{{"deliveryId", "lumory.reminder.e2e.3"},
                                               {"id", "e2e3"},
                                               {"inMs", 1500},
                                               {"title", "Call Ada"},
                                               {"path", "notes/ada.md"}}})}});
    auto third = server->waitForNotify(
        [](const auto& notification) { return notification.summary == "Call Ada"; }, 15s);
    ASSERT_TRUE(third);
    server->invokeAction(third->id, "default", "lumory-test_TIME1234");
    auto activated = shell.waitForProbe(
        [](const json& report) { return report.value("event", "") == "activated"; }, 10s);
    ASSERT_TRUE(activated);
    EXPECT_EQ(activated->value("token", ""), "lumory-test_TIME1234");
    auto opened = waitForPageEvent(
        "lumory-reminder-action",
        [](const json& detail) { return detail.value("action", "") == "open"; }, 10s);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->at("reminder").value("id", ""), "e2e3");
    EXPECT_EQ(opened->at("reminder").value("path", ""), "notes/ada.md");
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(display.screenshotOnceDrawn(kArtifacts + "/reminders-after-click.png", 15000));
}

TEST_F(RemindersOnDisplayTest, WhileTheWindowIsActiveThePageIsToldAndNoBannerShows) {
    start();
    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());
    input.movePointer(800, 500);
    input.click(1, 800, 500);
    pagePosts({{"action", "schedule"},
               {"notifications", json::array({{{"deliveryId", "lumory.reminder.front.1"},
                                               {"id", "front1"},
                                               {"inMs", 1500},
                                               {"title", "Stand up"}}})}});
    auto delivered = waitForPageEvent(
        "lumory-reminder-delivered",
        [](const json& detail) { return detail.value("id", "") == "front1"; }, 15s);
    ASSERT_TRUE(delivered) << shell.standardError();
    EXPECT_EQ(delivered->value("title", ""), "Stand up");
    EXPECT_TRUE(shell.waitForProbe(
        [](const json& report) { return report.value("event", "") == "event-sound"; }, 5s))
        << "the sound plays through the desktop's event sound";
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(server->notifications().empty()) << "a banner was shown";
}

TEST_F(RemindersOnDisplayTest, WithoutANotificationServerPermissionIsDenied) {
    start(false);
    pagePosts({{"action", "permission"}, {"requestId", "p"}});
    pagePosts({{"action", "openSettings"}, {"requestId", "s"}});
    auto status = waitForPageEvent(
        "lumory-reminder-native-result",
        [](const json& detail) { return detail.value("requestId", "") == "p"; }, 10s);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->value("status", ""), "denied");
    auto settings = waitForPageEvent(
        "lumory-reminder-native-result",
        [](const json& detail) { return detail.value("requestId", "") == "s"; }, 10s);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->value("ok", false), true);
}

}  // namespace
}  // namespace lumory::testing
