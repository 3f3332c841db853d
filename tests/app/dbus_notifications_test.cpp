// The shell's notification centre on its real D-Bus and timer pieces, against a test
// notification server on a private session bus and a private bus standing in for the system
// bus (logind). Runs the default main context in the test's thread.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <thread>

#include "dbus/bus_service_thread.h"
#include "dbus/notification_test_server.h"
#include "gtk/notifications/dbus_notification_server.h"
#include "gtk/notifications/timerfd_wall_clock_alarm.h"
#include "gtk/system/gtk_main_queue.h"
#include "gtk/system/system_clock.h"
#include "notifications/desktop_notification_center.h"
#include "xvfb/xvfb_session_bus.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;

// Both buses live for the whole run: GIO keeps one connection to each per process.
XvfbSessionBus* sessionBus = nullptr;
XvfbSessionBus* systemBus = nullptr;

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class RecordingDelegate : public NotificationCenterDelegate {
public:
    bool notificationDueWhileActive(const NotificationRequest& notification) override {
        presented.push_back(notification.identifier);
        return true;
    }
    void notificationActivated(const NotificationResponse& response,
                    std::function<void()> completion) override {
        responses.push_back(response);
        completion();
    }
    std::vector<std::string> presented;
    std::vector<NotificationResponse> responses;
};

class DBusNotificationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sessionBus && sessionBus->started());
        center.setDelegate(&delegate);
        center.setCategories(
            {{"lumory.task-reminder",
              {{"lumory.reminder.snooze", "Snooze 10m"}, {"lumory.reminder.done", "Done"}}}});
    }

    NotificationRequest reminder(const std::string& id, std::chrono::milliseconds in) {
        NotificationContent content;
        content.title = "Water plants";
        content.subtitle = "Balcony";
        content.body = "Timed task";
        content.categoryIdentifier = "lumory.task-reminder";
        content.userInfo = {{"reminder", {{"id", id}}}};
        return {id, content, clock.now() + in};
    }

    std::optional<PermissionStatus> authorisation() {
        std::optional<PermissionStatus> answer;
        center.permission([&](PermissionStatus status) { answer = status; });
        spinUntil([&] { return answer.has_value(); }, 5s);
        return answer;
    }

    gtk::DBusNotificationServer server;
    gtk::TimerfdWallClockAlarm alarm;
    gtk::SystemClock clock;
    gtk::GtkMainQueue queue;
    bool active = false;
    RecordingDelegate delegate;
    DesktopNotificationCenter center{server, alarm, clock, queue, activeOnly()};

    NotificationCenterHooks activeOnly() {
        NotificationCenterHooks hooks;
        hooks.applicationIsActive = [this] { return active; };
        return hooks;
    }
};

TEST_F(DBusNotificationsTest, ShowsAtTheWallClockInstantAndAnswersButtonsWithTheirToken) {
    NotificationTestServer notifications(sessionBus->address());
    ASSERT_TRUE(notifications.started());
    EXPECT_EQ(authorisation(), PermissionStatus::Authorized);

    NotificationRequest request = reminder("lumory.reminder.a", 400ms);
    center.add(request);
    std::optional<NotificationTestServer::Notification> shown;
    ASSERT_TRUE(spinUntil(
        [&] {
            shown = notifications.waitForNotify([](auto&) { return true; }, 0ms);
            return shown.has_value();
        },
        5s));
    EXPECT_GE(clock.now(), request.due) << "shown early";
    EXPECT_LT(clock.now(), request.due + 1s) << "shown late";
    EXPECT_EQ(shown->appName, "Lumory");
    EXPECT_EQ(shown->appIcon, "org.lumory.Lumory");
    EXPECT_EQ(shown->summary, "Water plants");
    EXPECT_EQ(shown->body, "Balcony\nTimed task");
    EXPECT_EQ(shown->actions,
              (std::vector<std::string>{"default", "Open", "lumory.reminder.snooze", "Snooze 10m",
                                        "lumory.reminder.done", "Done"}));
    EXPECT_EQ(shown->hints["desktop-entry"], "'org.lumory.Lumory'");
    EXPECT_EQ(shown->hints["sound-name"], "'message-new-instant'");
    EXPECT_EQ(shown->hints.count("suppress-sound"), 0u);

    notifications.invokeAction(shown->id, "lumory.reminder.snooze", "wayland-token-1");
    ASSERT_TRUE(spinUntil([&] { return !delegate.responses.empty(); }, 5s));
    EXPECT_EQ(delegate.responses[0].notification.identifier, "lumory.reminder.a");
    EXPECT_EQ(delegate.responses[0].actionIdentifier, "lumory.reminder.snooze");
    EXPECT_EQ(delegate.responses[0].activationToken, "wayland-token-1");
    ASSERT_TRUE(spinUntil([&] { return center.shownCount() == 0; }, 5s));

    // Silent, and pressed on the notification itself.
    NotificationRequest quiet = reminder("lumory.reminder.b", 50ms);
    quiet.content.sound = false;
    center.add(quiet);
    std::optional<NotificationTestServer::Notification> second;
    ASSERT_TRUE(spinUntil(
        [&] {
            second = notifications.waitForNotify([](auto&) { return true; }, 0ms, 1);
            return second.has_value();
        },
        5s));
    EXPECT_EQ(second->hints["suppress-sound"], "true");
    EXPECT_EQ(second->hints.count("sound-name"), 0u);
    notifications.invokeAction(second->id, "default", "");
    ASSERT_TRUE(spinUntil([&] { return delegate.responses.size() == 2; }, 5s));
    EXPECT_EQ(delegate.responses[1].actionIdentifier, "default");
    EXPECT_EQ(delegate.responses[1].activationToken, "");
}

TEST_F(DBusNotificationsTest, NoServerMeansDeniedAndDueRemindersWaitForOne) {
    EXPECT_EQ(authorisation(), PermissionStatus::Denied);
    center.add(reminder("lumory.reminder.late", 100ms));
    center.add(reminder("lumory.reminder.later", 1h));
    std::this_thread::sleep_for(300ms);
    spinUntil([] { return false; }, 300ms);

    NotificationTestServer notifications(sessionBus->address(), {"body"});
    ASSERT_TRUE(notifications.started());
    auto shown = std::optional<NotificationTestServer::Notification>();
    ASSERT_TRUE(spinUntil(
        [&] {
            shown = notifications.waitForNotify([](auto&) { return true; }, 0ms);
            return shown.has_value();
        },
        5s))
        << "the reminder due while no server ran was lost";
    EXPECT_EQ(shown->summary, "Water plants");
    EXPECT_TRUE(shown->actions.empty()) << "this server has no buttons";
    EXPECT_EQ(center.pendingCount(), 1u);
    EXPECT_EQ(authorisation(), PermissionStatus::Authorized);
}

TEST_F(DBusNotificationsTest, AResumeReportedByLogindWakesTheAlarm) {
    ASSERT_TRUE(systemBus && systemBus->started());
    int wakes = 0;
    gtk::TimerfdWallClockAlarm resumeAlarm;
    resumeAlarm.setWakeHandler([&] { ++wakes; });
    GDBusConnection* login = connectToBus(systemBus->address());
    ASSERT_NE(login, nullptr);
    ASSERT_TRUE(requestName(login, "org.freedesktop.login1"));
    auto emit = [&](bool start) {
        g_dbus_connection_emit_signal(login, nullptr, "/org/freedesktop/login1",
                                      "org.freedesktop.login1.Manager", "PrepareForSleep",
                                      g_variant_new("(b)", start), nullptr);
        g_dbus_connection_flush_sync(login, nullptr, nullptr);
    };
    // The alarm subscribes once its system bus connection is up; resumes are sent until then.
    bool woke = spinUntil(
        [&] {
            emit(true);
            emit(false);
            spinUntil([] { return false; }, 20ms);
            return wakes > 0;
        },
        5s);
    EXPECT_TRUE(woke);
    int before = wakes;
    emit(true);
    spinUntil([] { return false; }, 100ms);
    EXPECT_EQ(wakes, before) << "going to sleep is not a resume";
    g_dbus_connection_close_sync(login, nullptr, nullptr);
    g_object_unref(login);
}

TEST_F(DBusNotificationsTest, TheAlarmFiresAtAnAbsoluteWallClockInstant) {
    int wakes = 0;
    gtk::TimerfdWallClockAlarm timer;
    timer.setWakeHandler([&] { ++wakes; });
    auto at = std::chrono::system_clock::now() + 200ms;
    timer.arm(at);
    ASSERT_TRUE(spinUntil([&] { return wakes > 0; }, 5s));
    EXPECT_GE(std::chrono::system_clock::now(), at);
    timer.arm(std::chrono::system_clock::now() + 100ms);
    timer.disarm();
    spinUntil([] { return false; }, 300ms);
    EXPECT_EQ(wakes, 1) << "a disarmed alarm stays quiet";
    timer.arm(std::chrono::system_clock::time_point{});
    EXPECT_TRUE(spinUntil([&] { return wakes == 2; }, 5s)) << "an instant long past fires at once";
}

}  // namespace
}  // namespace lumory::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    lumory::testing::XvfbSessionBus session(false);
    lumory::testing::XvfbSessionBus system(false);
    lumory::testing::sessionBus = &session;
    lumory::testing::systemBus = &system;
    setenv("DBUS_SESSION_BUS_ADDRESS", session.address().c_str(), 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", system.address().c_str(), 1);
    return RUN_ALL_TESTS();
}
