// The shell's own notification centre over a fake server, alarm and clock: pending requests,
// wall-clock delivery across suspend and clock changes, what the server is asked to show, and
// what comes back from it. The last tests run the shell on the real centre.
#include <gtest/gtest.h>

#include "recording_notification_delegate.h"
#include "shell_fixture.h"
#include "notifications/desktop_notification_center.h"

namespace lumory::fakes {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class NotificationCenterTest : public ::testing::Test {
protected:
    NotificationCenterTest() {
        center.setDelegate(&delegate);
        center.setCategories(
            {{"lumory.task-reminder",
              {{"lumory.reminder.snooze", "Snooze 10m"}, {"lumory.reminder.done", "Done"}}}});
    }

    NotificationRequest reminder(const std::string& id, std::chrono::seconds in,
                                 bool sound = true) {
        NotificationContent content;
        content.title = "Pay rent";
        content.subtitle = "Home";
        content.body = "Before noon";
        content.sound = sound;
        content.categoryIdentifier = "lumory.task-reminder";
        content.userInfo = {{"reminder", {{"id", id}}}};
        return {id, content, clock.current + in};
    }

    std::vector<std::string> pendingIds() {
        std::vector<std::string> ids;
        center.pendingIdentifiers([&](std::vector<std::string> identifiers) { ids = identifiers; });
        queue.runPending();
        return ids;
    }

    FakeNotificationServer server;
    FakeWallClockAlarm alarm;
    FakeClock clock;
    FakeMainQueue queue;
    bool active = false;
    int sounds = 0;
    int settingsOpened = 0;
    RecordingNotificationDelegate delegate;
    DesktopNotificationCenter center{server, alarm, clock, queue, hooks()};

    NotificationCenterHooks hooks() {
        NotificationCenterHooks hooks;
        hooks.applicationIsActive = [this] { return active; };
        hooks.playEventSound = [this] { ++sounds; };
        hooks.openSettings = [this] {
            ++settingsOpened;
            return false;
        };
        return hooks;
    }
};

TEST_F(NotificationCenterTest, KeepsPendingRequestsInOrderAndReplacesBySameId) {
    center.add(reminder("a", 60s));
    center.add(reminder("b", 30s));
    center.add(reminder("c", 90s));
    EXPECT_EQ(alarm.armedAt, clock.current + 30s) << "armed for the earliest";
    center.add(reminder("a", 10s));
    EXPECT_EQ(pendingIds(), (std::vector<std::string>{"b", "c", "a"}));
    EXPECT_EQ(alarm.armedAt, clock.current + 10s);
    center.removePending({"a", "missing", "b"});
    EXPECT_EQ(pendingIds(), std::vector<std::string>{"c"});
    EXPECT_EQ(alarm.armedAt, clock.current + 90s);
    center.removePending({"c"});
    EXPECT_FALSE(alarm.armedAt) << "nothing pending, nothing armed";
}

TEST_F(NotificationCenterTest, ShowsEachRequestAtItsTimeWithButtonsForItsCategory) {
    center.add(reminder("lumory.reminder.1", 30s));
    center.add(reminder("lumory.reminder.2", 60s, false));
    NotificationRequest test{"lumory.test.1.0", {}, clock.current + 1s};
    test.content.title = "Test reminder";
    center.add(test);

    ASSERT_TRUE(alarm.fire(clock));
    ASSERT_EQ(server.shown.size(), 1u);
    EXPECT_EQ(server.shown[0].summary, "Test reminder");
    EXPECT_EQ(server.shown[0].actions.size(), 1u) << "no category, only the click";
    ASSERT_TRUE(alarm.fire(clock));
    ASSERT_EQ(server.shown.size(), 2u);
    const DesktopNotification& shown = server.shown[1];
    EXPECT_EQ(shown.appName, "Lumory");
    EXPECT_EQ(shown.appIcon, "org.lumory.Lumory");
    EXPECT_EQ(shown.desktopEntry, "org.lumory.Lumory");
    EXPECT_EQ(shown.summary, "Pay rent");
    EXPECT_EQ(shown.body, "Home\nBefore noon");
    ASSERT_EQ(shown.actions.size(), 3u);
    EXPECT_EQ(shown.actions[0].identifier, "default");
    EXPECT_EQ(shown.actions[1].identifier, "lumory.reminder.snooze");
    EXPECT_EQ(shown.actions[1].title, "Snooze 10m");
    EXPECT_EQ(shown.actions[2].identifier, "lumory.reminder.done");
    EXPECT_EQ(shown.actions[2].title, "Done");
    EXPECT_EQ(shown.soundName, "message-new-instant");
    EXPECT_FALSE(shown.suppressSound);
    EXPECT_EQ(alarm.armedAt, clock.current + 30s);

    ASSERT_TRUE(alarm.fire(clock));
    ASSERT_EQ(server.shown.size(), 3u);
    EXPECT_TRUE(server.shown[2].soundName.empty());
    EXPECT_TRUE(server.shown[2].suppressSound);
    EXPECT_TRUE(pendingIds().empty());
    EXPECT_FALSE(alarm.armedAt);
}

TEST_F(NotificationCenterTest, AdaptsToWhatTheServerCanDo) {
    server.serverCapabilities = {"body", "body-markup"};
    NotificationRequest request = reminder("lumory.reminder.1", 5s);
    request.content.subtitle = "";
    request.content.body = "Tom & Jerry <b>";
    center.add(request);
    alarm.fire(clock);
    ASSERT_EQ(server.shown.size(), 1u);
    EXPECT_EQ(server.shown[0].body, "Tom &amp; Jerry &lt;b&gt;");
    EXPECT_TRUE(server.shown[0].actions.empty()) << "a server without actions gets none";
}

TEST_F(NotificationCenterTest, AReminderDueDuringSuspendFiresAtResumeAndClockChangesAreFollowed) {
    center.add(reminder("lumory.reminder.1", 60s));
    center.add(reminder("lumory.reminder.2", 2h));
    // The clock is set back an hour: nothing is due, and the alarm is armed afresh.
    clock.advance(-1h);
    alarm.armedAt.reset();
    alarm.wake();
    EXPECT_TRUE(server.shown.empty());
    EXPECT_EQ(alarm.armedAt, clock.current + 1h + 60s);

    // Asleep past the first due time: it shows as soon as the machine wakes up.
    clock.advance(1h + 30min + 60s);
    alarm.wake();
    ASSERT_EQ(server.shown.size(), 1u);
    EXPECT_EQ(pendingIds(), std::vector<std::string>{"lumory.reminder.2"});
}

TEST_F(NotificationCenterTest, WhileActiveThePageIsToldAndOnlyTheSoundPlays) {
    active = true;
    center.add(reminder("lumory.reminder.loud", 5s));
    center.add(reminder("lumory.reminder.quiet", 6s, false));
    alarm.fire(clock);
    alarm.fire(clock);
    EXPECT_EQ(delegate.presented,
              (std::vector<std::string>{"lumory.reminder.loud", "lumory.reminder.quiet"}));
    EXPECT_TRUE(server.shown.empty()) << "no banner while the window is active";
    EXPECT_EQ(sounds, 1);
}

TEST_F(NotificationCenterTest, ActionsComeBackWithTheirTokenOnceAndClosedOnesAreForgotten) {
    center.add(reminder("lumory.reminder.1", 5s));
    center.add(reminder("lumory.reminder.2", 6s));
    alarm.fire(clock);
    alarm.fire(clock);
    ASSERT_EQ(center.shownCount(), 2u);

    server.invoke(1, "lumory.reminder.snooze", "token-1");
    ASSERT_EQ(delegate.responses.size(), 1u);
    EXPECT_EQ(delegate.responses[0].notification.identifier, "lumory.reminder.1");
    EXPECT_EQ(delegate.responses[0].actionIdentifier, "lumory.reminder.snooze");
    EXPECT_EQ(delegate.responses[0].activationToken, "token-1");
    EXPECT_EQ(delegate.responses[0].notification.content.userInfo["reminder"]["id"],
              "lumory.reminder.1");
    EXPECT_EQ(server.closed, std::vector<std::uint32_t>{1});
    server.invoke(1, "default");
    EXPECT_EQ(delegate.responses.size(), 1u) << "an answered notification is gone";

    server.listener->notificationClosed(2);
    server.invoke(2, "default");
    EXPECT_EQ(delegate.responses.size(), 1u);
    EXPECT_EQ(center.shownCount(), 0u);
}

TEST_F(NotificationCenterTest, SignalsThatOvertakeTheNotifyReplyAreNotLost) {
    server.deferReplies = true;
    center.add(reminder("lumory.reminder.1", 5s));
    center.add(reminder("lumory.reminder.2", 6s));
    alarm.fire(clock);
    alarm.fire(clock);
    ASSERT_EQ(server.shown.size(), 2u);
    server.invoke(1, "lumory.reminder.done", "token-early");
    server.listener->notificationClosed(2);
    server.listener->actionInvoked(77, "default");  // not ours: dropped once the replies are in
    EXPECT_TRUE(delegate.responses.empty());
    server.reply();
    ASSERT_EQ(delegate.responses.size(), 1u);
    EXPECT_EQ(delegate.responses[0].notification.identifier, "lumory.reminder.1");
    EXPECT_EQ(delegate.responses[0].actionIdentifier, "lumory.reminder.done");
    EXPECT_EQ(delegate.responses[0].activationToken, "token-early");
    EXPECT_EQ(center.shownCount(), 0u) << "the second was closed before its reply";

    // With nothing in flight, signals for unknown ids are not kept.
    server.listener->actionInvoked(3, "default");
    server.deferReplies = false;
    center.add(reminder("lumory.reminder.3", 5s));
    alarm.fire(clock);
    EXPECT_EQ(delegate.responses.size(), 1u);
}

TEST_F(NotificationCenterTest, AServerThatGoesAwayLosesNoReminders) {
    center.add(reminder("lumory.reminder.1", 5s));
    center.add(reminder("lumory.reminder.2", 60s));
    center.add(reminder("lumory.reminder.3", 90s));
    alarm.fire(clock);
    server.restart(false);
    EXPECT_EQ(center.shownCount(), 0u) << "the old server's ids mean nothing";
    alarm.fire(clock);
    EXPECT_EQ(server.shown.size(), 1u) << "no server took the second";
    server.restart(true);
    ASSERT_EQ(server.shown.size(), 2u) << "shown once a server is back";
    EXPECT_EQ(server.shown[1].summary, "Pay rent");
    EXPECT_EQ(pendingIds(), std::vector<std::string>{"lumory.reminder.3"});
    server.invoke(2, "lumory.reminder.done");
    ASSERT_EQ(delegate.responses.size(), 1u);
    EXPECT_EQ(delegate.responses[0].notification.identifier, "lumory.reminder.2");
}

TEST_F(NotificationCenterTest, ARemindersHeldForAServerStayThePagesToSeeAndWithdraw) {
    center.add(reminder("lumory.reminder.1", 5s));
    center.add(reminder("lumory.reminder.2", 60s));
    server.present = false;
    alarm.fire(clock);
    EXPECT_TRUE(server.shown.empty());
    EXPECT_EQ(pendingIds(), (std::vector<std::string>{"lumory.reminder.2", "lumory.reminder.1"}))
        << "held for a server, still pending";

    // The task was completed meanwhile: the page's next list withdraws it.
    center.removePending({"lumory.reminder.1"});
    server.restart(true);
    EXPECT_TRUE(server.shown.empty()) << "a withdrawn reminder never pops up later";
    EXPECT_EQ(pendingIds(), std::vector<std::string>{"lumory.reminder.2"});
}

TEST_F(NotificationCenterTest, AnAnsweredBannerIsForgottenByItsIdentifierToo) {
    center.add(reminder("lumory.reminder.1", 5s));
    alarm.fire(clock);
    server.invoke(1, "lumory.reminder.done");
    EXPECT_EQ(center.shownCount(), 0u);
    EXPECT_EQ(center.shownByIdentifierCount(), 0u);
    center.add(reminder("lumory.reminder.1", 5s));
    alarm.fire(clock);
    ASSERT_EQ(server.shown.size(), 2u);
    EXPECT_EQ(server.shown[1].replacesId, 0u) << "the closed banner is not replaced";
}

TEST_F(NotificationCenterTest, ShowingTheSameIdentifierAgainReplacesTheBanner) {
    center.add(reminder("lumory.reminder.1", 5s));
    alarm.fire(clock);
    center.add(reminder("lumory.reminder.1", 5s));
    alarm.fire(clock);
    ASSERT_EQ(server.shown.size(), 2u);
    EXPECT_EQ(server.shown[1].replacesId, 1u);
    EXPECT_EQ(center.shownCount(), 1u);
}

TEST_F(NotificationCenterTest, AuthorisationFollowsTheServersPresence) {
    std::vector<PermissionStatus> answers;
    auto record = [&](PermissionStatus status) { answers.push_back(status); };
    center.permission(record);
    server.present = false;
    center.permission(record);
    server.activatable = true;
    center.permission(record);
    EXPECT_EQ(answers, (std::vector<PermissionStatus>{PermissionStatus::Authorized,
                                                         PermissionStatus::Denied,
                                                         PermissionStatus::Authorized}));
    bool asked = false;
    center.requestPermission([&](std::optional<std::string> error) {
        asked = true;
        EXPECT_FALSE(error);
    });
    EXPECT_TRUE(asked);
    EXPECT_FALSE(center.openSettings());
    EXPECT_EQ(settingsOpened, 1);
}

TEST_F(NotificationCenterTest, AnswersForAGoneCentreAreDropped) {
    auto other = std::make_unique<DesktopNotificationCenter>(server, alarm, clock, queue,
                                                             NotificationCenterHooks{});
    bool answered = false;
    other->pendingIdentifiers([&](std::vector<std::string>) { answered = true; });
    other.reset();
    queue.runPending();
    EXPECT_FALSE(answered);
}

// The shell on the real centre: from the page's list to the server and back.
class RemindersOnTheRealCentreTest : public ShellTest {
protected:
    RemindersOnTheRealCentreTest() {
        shell = std::make_unique<Shell>(
            ShellPlatform{desktop, launcher, queue, system, dialogs, center, http, settings, clock});
        shell->start();
        launcher.writeOutput("{\"event\":\"ready\",\"url\":\"http://127.0.0.1:43981/\"}\n");
        queue.runPending();
        desktop.webViewDelegate->loadFinished(page());
        queue.runPending();
    }
    ~RemindersOnTheRealCentreTest() override { shell.reset(); }

    FakeNotificationServer server;
    FakeWallClockAlarm alarm;
    bool active = false;
    DesktopNotificationCenter center{server, alarm, clock, queue, activeOnly()};

    NotificationCenterHooks activeOnly() {
        NotificationCenterHooks hooks;
        hooks.applicationIsActive = [this] { return active; };
        return hooks;
    }
};

TEST_F(RemindersOnTheRealCentreTest, AScheduledReminderShowsSnoozesAndPosts) {
    double at = unixSeconds(clock.current) * 1000.0 + 30000;
    json message = {{"action", "schedule"},
                    {"notifications", json::array({{{"deliveryId", "lumory.reminder.r1.1"},
                                                    {"id", "r1"},
                                                    {"at", at},
                                                    {"title", "Water plants"}}})}};
    desktop.webViewDelegate->scriptMessageReceived(page(), "lumoryDesktopReminders", message);
    queue.runPending();
    EXPECT_EQ(center.pendingCount(), 1u);
    ASSERT_TRUE(alarm.fire(clock));
    queue.runPending();
    ASSERT_EQ(server.shown.size(), 1u);
    EXPECT_EQ(server.shown[0].summary, "Water plants");
    EXPECT_EQ(server.shown[0].body, "Timed task");
    EXPECT_EQ(server.shown[0].actions.size(), 3u);

    server.invoke(1, "lumory.reminder.snooze");
    queue.runPending();
    EXPECT_EQ(center.pendingCount(), 1u);
    EXPECT_EQ(alarm.armedAt, clock.current + 600s);
    ASSERT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(json::parse(*http.sent[0].request.body)["action"], "snooze");

    // The page's next list no longer names the copy, but it lacks the prefix: it stays.
    desktop.webViewDelegate->scriptMessageReceived(
        page(), "lumoryDesktopReminders",
        {{"action", "schedule"}, {"notifications", json::array()}});
    queue.runPending();
    EXPECT_EQ(center.pendingCount(), 1u);

    active = true;
    ASSERT_TRUE(alarm.fire(clock));
    queue.runPending();
    EXPECT_EQ(server.shown.size(), 1u) << "no banner while the window is active";
    EXPECT_NE(page().scripts.back().find("lumory-reminder-delivered"), std::string::npos);
    EXPECT_NE(page().scripts.back().find("Snoozed for 10 minutes"), std::string::npos);
}

}  // namespace
}  // namespace lumory::fakes
