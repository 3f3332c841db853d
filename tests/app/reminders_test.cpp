// The page's reminder messages, the reconciliation of its list with the pending requests, and
// what the notifications' buttons and clicks do, over the fake notification centre and HTTP.
#include <gtest/gtest.h>

#include "shell_fixture.h"

namespace lumory::fakes {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr char kReady[] = "{\"event\":\"ready\",\"url\":\"http://127.0.0.1:43981/\"}\n";
constexpr char kActionUrl[] = "http://127.0.0.1:43981/api/reminders/action";

class RemindersTest : public ShellTest {
protected:
    void SetUp() override {
        launch();
        queue.runPending();
        page().scripts.clear();
    }

    void send(const json& body) {
        desktop.webViewDelegate->scriptMessageReceived(page(), "lumoryDesktopReminders", body);
        queue.runPending();
    }

    void connectPage() {
        launcher.writeOutput(kReady);
        queue.runPending();
        desktop.webViewDelegate->loadFinished(page());
        queue.runPending();
    }

    // The details of every event `name` the page was sent, in order.
    std::vector<json> events(const std::string& name) {
        std::string head = "window.dispatchEvent(new CustomEvent('" + name + "',{detail:";
        std::vector<json> found;
        for (const std::string& script : page().scripts) {
            if (script.rfind(head, 0) != 0) continue;
            std::string tail = script.substr(head.size());
            EXPECT_EQ(tail.substr(tail.size() - 3), "}))");
            found.push_back(json::parse(tail.substr(0, tail.size() - 3)));
        }
        return found;
    }
    std::vector<json> results() { return events("lumory-reminder-native-result"); }

    double nowMs() const {
        return static_cast<double>(
            std::chrono::duration_cast<std::chrono::milliseconds>(clock.current.time_since_epoch())
                .count());
    }

    NotificationRequest pendingRequest(const std::string& id) {
        for (const NotificationRequest& request : notifications.pending) {
            if (request.identifier == id) return request;
        }
        ADD_FAILURE() << id << " is not pending";
        return {};
    }

    std::vector<std::string> pendingIds() {
        std::vector<std::string> ids;
        for (const auto& request : notifications.pending) ids.push_back(request.identifier);
        return ids;
    }

    void schedule(const json& list) {
        send({{"action", "schedule"}, {"notifications", list}});
        notifications.answerPendingQueries();
        queue.runPending();
    }

    // A shown reminder notification as the centre would hand it back.
    NotificationRequest shownReminder(const json& reminder) {
        NotificationContent content;
        content.title = "Pay rent";
        content.body = "Timed task";
        content.subtitle = reminder.value("detail", "");
        content.userInfo = {{"reminder", reminder}};
        if (reminder.contains("path")) content.userInfo["path"] = reminder["path"];
        return {reminder.value("deliveryId", "x"), content, clock.current};
    }

    void respond(const NotificationRequest& notification, const std::string& action,
                 const std::string& token = {}) {
        int completions = 0;
        shell->notificationResponder().notificationActivated({notification, action, token}, [&] { ++completions; });
        queue.runPending();
        EXPECT_EQ(completions, 1) << "the completion must run exactly once";
    }
};

TEST_F(RemindersTest, AnswersPermissionOnlyWhenTheRequestIdIsAString) {
    send({{"action", "permission"}, {"requestId", "a"}});
    ASSERT_EQ(notifications.statusQueries.size(), 1u);
    notifications.statusQueries[0](PermissionStatus::Provisional);
    queue.runPending();
    ASSERT_EQ(results().size(), 1u);
    EXPECT_EQ(results()[0], json({{"status", "granted"}, {"requestId", "a"}}));

    page().scripts.clear();
    notifications.statusQueries.clear();
    send({{"action", "permission"}});
    send({{"action", "Schedule"}, {"requestId", 7}});
    send(json::object());
    send(json::array({1, 2}));
    for (auto& query : notifications.statusQueries) query(PermissionStatus::Denied);
    queue.runPending();
    EXPECT_TRUE(page().scripts.empty());

    send({{"action", "Schedule"}, {"requestId", "b"}});
    send({{"action", 3}, {"requestId", "c"}});
    ASSERT_EQ(results().size(), 2u);
    EXPECT_EQ(results()[0], json({{"error", "Unknown reminder action"}, {"requestId", "b"}}));
    EXPECT_EQ(results()[1], json({{"error", "Unknown reminder action"}, {"requestId", "c"}}));
    EXPECT_TRUE(notifications.pendingQueries.empty()) << "nothing was scheduled";
}

TEST_F(RemindersTest, RequestPermissionReportsTheErrorOrTheFreshStatus) {
    send({{"action", "requestPermission"}, {"requestId", "p1"}});
    send({{"action", "requestPermission"}, {"requestId", "p2"}});
    ASSERT_EQ(notifications.authorizationRequests.size(), 2u);
    notifications.authorizationRequests[0]("No notification server");
    notifications.authorizationRequests[1](std::nullopt);
    ASSERT_EQ(notifications.statusQueries.size(), 1u) << "the status is asked after no error";
    notifications.statusQueries[0](PermissionStatus::Denied);
    queue.runPending();
    ASSERT_EQ(results().size(), 2u);
    EXPECT_EQ(results()[0], json({{"error", "No notification server"}, {"requestId", "p1"}}));
    EXPECT_EQ(results()[1], json({{"status", "denied"}, {"requestId", "p2"}}));
}

TEST_F(RemindersTest, TestAndOpenSettingsAnswerOkAtOnce) {
    notifications.settingsOpen = false;
    send({{"action", "openSettings"}, {"requestId", "s"}});
    EXPECT_EQ(notifications.settingsOpened, 1);
    send({{"action", "test"}, {"sound", "no"}, {"requestId", "t"}});
    send({{"action", "test"}, {"sound", false}});
    ASSERT_EQ(results().size(), 2u);
    EXPECT_EQ(results()[0], json({{"ok", true}, {"requestId", "s"}}));
    EXPECT_EQ(results()[1], json({{"ok", true}, {"requestId", "t"}}));

    ASSERT_EQ(notifications.added.size(), 2u);
    const NotificationRequest& test = notifications.added[0];
    EXPECT_EQ(test.identifier, "lumory.test.1796731200.0");
    EXPECT_EQ(test.due, clock.current + 1s);
    EXPECT_EQ(test.content.title, "Test reminder");
    EXPECT_EQ(test.content.body, "Lumory notifications are ready");
    EXPECT_TRUE(test.content.sound) << "a string is not a boolean";
    EXPECT_TRUE(test.content.categoryIdentifier.empty());
    EXPECT_TRUE(test.content.userInfo.empty());
    EXPECT_FALSE(notifications.added[1].content.sound);

    clock.advance(250ms);
    send({{"action", "test"}});
    EXPECT_EQ(notifications.added[2].identifier, "lumory.test.1796731200.25");
}

TEST_F(RemindersTest, RegistersTheCategoryWithBothButtonsAtStartUp) {
    EXPECT_EQ(notifications.delegate, &shell->notificationResponder());
    ASSERT_EQ(notifications.categories.size(), 1u);
    const NotificationCategory& category = notifications.categories[0];
    EXPECT_EQ(category.identifier, "lumory.task-reminder");
    ASSERT_EQ(category.actions.size(), 2u);
    EXPECT_EQ(category.actions[0].identifier, "lumory.reminder.snooze");
    EXPECT_EQ(category.actions[0].title, "Snooze 10m");
    EXPECT_EQ(category.actions[1].identifier, "lumory.reminder.done");
    EXPECT_EQ(category.actions[1].title, "Done");
    shell.reset();
    EXPECT_EQ(notifications.delegate, nullptr) << "a gone responder stays reachable";
}

TEST_F(RemindersTest, OnlyTheNewestScheduleMessageReconciles) {
    notifications.pending = {{"lumory.reminder.old", {}, clock.current + 1h}};
    send({{"action", "schedule"},
          {"notifications",
           json::array({{{"deliveryId", "lumory.reminder.a"}, {"at", nowMs() + 60000}}})}});
    send({{"action", "schedule"},
          {"requestId", "r"},
          {"notifications",
           json::array({{{"deliveryId", "lumory.reminder.b"}, {"at", nowMs() + 60000}}})}});
    notifications.answerPendingQueries();
    ASSERT_EQ(notifications.removals.size(), 1u) << "the stale answer must do nothing";
    EXPECT_EQ(notifications.removals[0], std::vector<std::string>{"lumory.reminder.old"});
    EXPECT_EQ(pendingIds(), std::vector<std::string>{"lumory.reminder.b"});
    queue.runPending();
    EXPECT_TRUE(results().empty()) << "schedule never answers";
}

TEST_F(RemindersTest, AnEmptyOrMalformedListWithdrawsOnlyPrefixedRequests) {
    notifications.pending = {{"lumory.reminder.1", {}, clock.current + 1h},
                             {"lumory.test.5.0", {}, clock.current + 1s},
                             {"other.reminder", {}, clock.current + 1h},
                             {"lumory.reminder.2", {}, clock.current + 2h}};
    schedule(json::array({{{"deliveryId", "lumory.reminder.1"}, {"at", nowMs() + 5000}}, 42}));
    ASSERT_EQ(notifications.removals.size(), 1u);
    EXPECT_EQ(notifications.removals[0],
              (std::vector<std::string>{"lumory.reminder.1", "lumory.reminder.2"}));
    EXPECT_EQ(pendingIds(), (std::vector<std::string>{"lumory.test.5.0", "other.reminder"}));
    EXPECT_TRUE(notifications.added.empty());

    schedule(json::array());
    ASSERT_EQ(notifications.removals.size(), 2u);
    EXPECT_TRUE(notifications.removals[1].empty()) << "the withdrawal is made even when empty";
}

TEST_F(RemindersTest, SchedulesOnlyWellFormedEntriesDueMoreThanASecondAhead) {
    notifications.pending = {{"lumory.reminder.kept", {}, clock.current + 1h},
                             {"plain.id", {}, clock.current + 1h}};
    schedule(json::array({
        {{"deliveryId", "lumory.reminder.soon"}, {"at", nowMs() + 500}},
        {{"deliveryId", "lumory.reminder.past"}, {"at", nowMs() - 60000}},
        {{"deliveryId", "lumory.reminder.ok"}, {"at", nowMs() + 1500}, {"title", "Call"}},
        {{"deliveryId", "lumory.reminder.text"}, {"at", std::to_string(nowMs() + 9000)}},
        {{"deliveryId", "plain.id"}, {"at", nowMs() + 9000}},
        {{"deliveryId", 12}, {"at", nowMs() + 9000}},
        {{"at", nowMs() + 9000}},
        {{"deliveryId", "lumory.reminder.kept"}, {"at", nowMs() + 9000}, {"title", "New"}},
        {{"deliveryId", "lumory.reminder.far"}, {"at", 1e300}},
    }));
    ASSERT_EQ(notifications.removals.size(), 1u);
    EXPECT_TRUE(notifications.removals[0].empty());
    ASSERT_EQ(notifications.added.size(), 2u);
    EXPECT_EQ(notifications.added[0].identifier, "lumory.reminder.ok");
    EXPECT_EQ(notifications.added[0].due, clock.current + 1500ms);
    EXPECT_EQ(notifications.added[1].identifier, "lumory.reminder.far");
    EXPECT_GT(notifications.added[1].due, clock.current + 24h * 365 * 50);
    EXPECT_EQ(pendingRequest("lumory.reminder.kept").due, clock.current + 1h)
        << "an already pending request keeps its time";
}

TEST_F(RemindersTest, ReminderContentCarriesTheWholeReminder) {
    json full = {{"deliveryId", "lumory.reminder.full"},
                 {"at", nowMs() + 60000},
                 {"title", "Pay rent"},
                 {"body", "Before noon"},
                 {"detail", "Home"},
                 {"sound", false},
                 {"path", "notes/rent.md"},
                 {"id", "r1"},
                 {"extra", {{"nested", true}}}};
    json bare = {{"deliveryId", "lumory.reminder.bare"},
                 {"at", nowMs() + 60000},
                 {"sound", "false"},
                 {"path", 5}};
    json twice1 = {{"deliveryId", "lumory.reminder.dup"}, {"at", nowMs() + 60000}, {"title", "1"}};
    json twice2 = {{"deliveryId", "lumory.reminder.dup"}, {"at", nowMs() + 90000}, {"title", "2"}};
    schedule(json::array({full, bare, twice1, twice2}));

    const NotificationContent& content = pendingRequest("lumory.reminder.full").content;
    EXPECT_EQ(content.title, "Pay rent");
    EXPECT_EQ(content.body, "Before noon");
    EXPECT_EQ(content.subtitle, "Home");
    EXPECT_FALSE(content.sound);
    EXPECT_EQ(content.threadIdentifier, "lumory-tasks");
    EXPECT_EQ(content.categoryIdentifier, "lumory.task-reminder");
    EXPECT_EQ(content.userInfo, json({{"reminder", full}, {"path", "notes/rent.md"}}));

    const NotificationContent& settings = pendingRequest("lumory.reminder.bare").content;
    EXPECT_EQ(settings.title, "Task reminder");
    EXPECT_EQ(settings.body, "Timed task");
    EXPECT_EQ(settings.subtitle, "");
    EXPECT_TRUE(settings.sound) << "the string \"false\" is not a boolean";
    EXPECT_EQ(settings.userInfo, json({{"reminder", bare}}));

    ASSERT_EQ(notifications.added.size(), 4u) << "both duplicates are submitted";
    EXPECT_EQ(pendingRequest("lumory.reminder.dup").content.title, "2");
    EXPECT_EQ(pendingRequest("lumory.reminder.dup").due, clock.current + 90s);
}

TEST_F(RemindersTest, SnoozeSchedulesACopyTenMinutesLaterAndPostsTheAction) {
    connectPage();
    clock.advance(123ms);
    json reminder = {{"id", "r1"},
                     {"deliveryId", "lumory.reminder.r1.1"},
                     {"at", nowMs()},
                     {"detail", "Home"},
                     {"path", "notes/a.md"}};
    NotificationRequest shown = shownReminder(reminder);
    respond(shown, "lumory.reminder.snooze");

    double snoozeAt = nowMs() + 600000;
    std::string copyId = "r1.native." + std::to_string(static_cast<long long>(snoozeAt));
    ASSERT_EQ(notifications.added.size(), 1u);
    const NotificationRequest& copy = notifications.added[0];
    EXPECT_EQ(copy.identifier, copyId);
    EXPECT_EQ(copy.due, clock.current + 600s);
    EXPECT_EQ(copy.content.subtitle, "Home") << "the visible subtitle stays";
    EXPECT_EQ(copy.content.userInfo["path"], "notes/a.md");
    json copied = copy.content.userInfo["reminder"];
    EXPECT_EQ(copied["deliveryId"], copyId);
    EXPECT_DOUBLE_EQ(copied["at"].get<double>(), snoozeAt);
    EXPECT_TRUE(copied["at"].is_number_float());
    EXPECT_EQ(copied["detail"], "Snoozed for 10 minutes");
    EXPECT_EQ(copied["path"], "notes/a.md");

    ASSERT_EQ(http.sent.size(), 1u);
    const HttpRequest& post = http.sent[0].request;
    EXPECT_EQ(post.method, "POST");
    EXPECT_EQ(post.url, kActionUrl);
    EXPECT_EQ(post.contentType, "application/json");
    EXPECT_EQ(post.timeout, 60s);
    EXPECT_EQ(json::parse(*post.body), json({{"id", "r1"},
                                             {"action", "snooze"},
                                             {"deliveryId", "lumory.reminder.r1.1"},
                                             {"snoozeMinutes", 10}}));
    http.respond({200, ""});

    // Snoozing the copy builds the identifier from `id` again and posts the copy's deliveryId.
    clock.advance(600s);
    respond(copy, "lumory.reminder.snooze");
    ASSERT_EQ(notifications.added.size(), 2u);
    EXPECT_EQ(notifications.added[1].identifier,
              "r1.native." + std::to_string(static_cast<long long>(nowMs() + 600000)));
    EXPECT_EQ(json::parse(*http.sent[0].request.body)["deliveryId"], copyId);
}

TEST_F(RemindersTest, ButtonsOnRemindersWithoutAStringIdDoNothing) {
    connectPage();
    respond(shownReminder({{"id", 5}, {"deliveryId", "lumory.reminder.x"}}),
            "lumory.reminder.snooze");
    respond(shownReminder({{"deliveryId", "lumory.reminder.y"}}), "lumory.reminder.done");
    EXPECT_TRUE(notifications.added.empty());
    EXPECT_TRUE(http.sent.empty());
    EXPECT_EQ(
        std::count_if(desktop.events.begin(), desktop.events.end(),
                      [](const std::string& event) { return event.starts_with("activate:"); }),
        0)
        << "a button is not a click";
}

TEST_F(RemindersTest, ActionsBeforeTheServiceIsKnownWaitAndAreAllPostedInOrder) {
    respond(shownReminder({{"id", "r1"}}), "lumory.reminder.done");
    respond(shownReminder({{"id", "r2"}, {"deliveryId", "lumory.reminder.r2"}}),
            "lumory.reminder.done");
    EXPECT_TRUE(http.sent.empty());
    connectPage();
    ASSERT_EQ(http.sent.size(), 1u) << "one at a time";
    EXPECT_EQ(json::parse(*http.sent[0].request.body),
              json({{"id", "r1"}, {"action", "complete"}}));
    http.respond({200, ""});
    queue.runPending();
    ASSERT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(json::parse(*http.sent[0].request.body),
              json({{"id", "r2"}, {"action", "complete"}, {"deliveryId", "lumory.reminder.r2"}}));
}

TEST_F(RemindersTest, TheActionPathGoesAfterTheAnnouncedPathAndBeforeItsQuery) {
    launcher.writeOutput("{\"event\":\"ready\",\"url\":\"http://127.0.0.1:5000/desk?team=a\"}\n");
    queue.runPending();
    respond(shownReminder({{"id", "r1"}}), "lumory.reminder.done");
    ASSERT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(http.sent[0].request.url, "http://127.0.0.1:5000/desk/api/reminders/action?team=a");
}

TEST_F(RemindersTest, AnythingButStatus200PutsTheActionBack) {
    connectPage();
    respond(shownReminder({{"id", "r1"}}), "lumory.reminder.done");
    ASSERT_EQ(http.sent.size(), 1u);
    http.respond({204, ""});
    shell->reminderActions().postPendingReminderAction();
    EXPECT_TRUE(http.sent.empty()) << "put back on the main queue, not at once";
    queue.runPending();

    shell->reminderActions().postPendingReminderAction();
    ASSERT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(json::parse(*http.sent[0].request.body)["id"], "r1");
    http.respond({std::nullopt, std::nullopt});
    queue.runPending();
    shell->reminderActions().postPendingReminderAction();
    ASSERT_EQ(http.sent.size(), 1u) << "a transport error counts as failure too";
    http.respond({200, "ignored"});
    queue.runPending();
    shell->reminderActions().postPendingReminderAction();
    EXPECT_TRUE(http.sent.empty()) << "delivered: nothing waits";
    EXPECT_EQ(http.answered, 3);
}

TEST_F(RemindersTest, AFailedPostIsRetriedWithGrowingPausesAndKeepsItsPlace) {
    connectPage();
    respond(shownReminder({{"id", "r1"}}), "lumory.reminder.done");
    respond(shownReminder({{"id", "r2"}}), "lumory.reminder.snooze");
    ASSERT_EQ(http.sent.size(), 1u);
    auto failAndWaitFor = [&](std::chrono::milliseconds pause) {
        http.respond({500, ""});
        queue.advance(pause - 1ms);
        EXPECT_TRUE(http.sent.empty()) << "too early after " << pause.count() << " ms";
        queue.advance(1ms);
        ASSERT_EQ(http.sent.size(), 1u) << "retried after " << pause.count() << " ms";
        EXPECT_EQ(json::parse(*http.sent[0].request.body)["id"], "r1");
    };
    for (auto pause : {1s, 2s, 4s, 8s, 16s, 32s, 60s, 60s}) failAndWaitFor(pause);

    http.respond({200, ""});
    queue.runPending();
    ASSERT_EQ(http.sent.size(), 1u) << "the next action follows at once";
    EXPECT_EQ(json::parse(*http.sent[0].request.body)["id"], "r2");
    EXPECT_EQ(json::parse(*http.sent[0].request.body)["action"], "snooze");
    http.respond({200, ""});
    queue.advance(120s);
    EXPECT_TRUE(http.sent.empty());
    EXPECT_EQ(shell->reminderActions().waitingCount(), 0u);
}

TEST_F(RemindersTest, ANewConnectionPostsAWaitingActionWithoutWaitingForTheRetry) {
    connectPage();
    respond(shownReminder({{"id", "r1"}}), "lumory.reminder.done");
    http.respond({std::nullopt, std::nullopt});
    queue.runPending();
    EXPECT_TRUE(http.sent.empty());
    shell->reminderActions().postPendingReminderAction();
    ASSERT_EQ(http.sent.size(), 1u);
    http.respond({200, ""});
    queue.advance(10s);
    EXPECT_TRUE(http.sent.empty()) << "the cancelled retry posts nothing more";
}

TEST_F(RemindersTest, AClickWaitsForAnInternalPageAndBringsTheWindowForward) {
    connectPage();
    page().loadUri("https://example.com/help", 60s);
    json reminder = {{"id", "r1"}, {"path", "notes/a.md"}};
    respond(shownReminder(reminder), "default", "x11-token_TIME42");
    EXPECT_EQ(desktop.events.back(), "activate:x11-token_TIME42");
    EXPECT_EQ(desktop.mainWindow->calls.back(), "present");
    EXPECT_TRUE(events("lumory-reminder-action").empty());

    desktop.webViewDelegate->loadFinished(page());
    queue.runPending();
    EXPECT_TRUE(events("lumory-reminder-action").empty()) << "still the external page";

    page().loadUri("http://127.0.0.1:43981/notes", 60s);
    desktop.webViewDelegate->loadFinished(page());
    queue.runPending();
    ASSERT_EQ(events("lumory-reminder-action").size(), 1u);
    EXPECT_EQ(events("lumory-reminder-action")[0],
              json({{"reminder", reminder}, {"action", "open"}}));
    EXPECT_TRUE(events("lumory-open-note").empty()) << "the path goes with the event";

    desktop.webViewDelegate->loadFinished(page());
    queue.runPending();
    EXPECT_EQ(events("lumory-reminder-action").size(), 1u) << "delivered once";
}

TEST_F(RemindersTest, AClickWithoutAReminderOpensItsPathOrNothing) {
    NotificationRequest withPath = shownReminder(json::object());
    withPath.content.userInfo = {{"path", "notes/b.md"}};
    respond(withPath, "lumory.reminder.done");  // a button without a reminder is a click
    EXPECT_TRUE(page().scripts.empty()) << "not connected yet";
    connectPage();
    EXPECT_EQ(events("lumory-open-note"), std::vector<json>{json({{"path", "notes/b.md"}})});

    page().scripts.clear();
    NotificationRequest test{"lumory.test.1.0", {}, clock.current};
    respond(test, "default");
    EXPECT_EQ(desktop.events.back(), "activate:");
    EXPECT_TRUE(page().scripts.empty());
}

TEST_F(RemindersTest, WillPresentTellsThePageAndAnswersTheSound) {
    json reminder = {{"id", "r1"}, {"deliveryId", "lumory.reminder.r1"}};
    NotificationRequest shown = shownReminder(reminder);
    EXPECT_TRUE(shell->notificationResponder().notificationDueWhileActive(shown));
    shown.content.sound = false;
    EXPECT_FALSE(shell->notificationResponder().notificationDueWhileActive(shown));
    NotificationRequest test{"lumory.test.1.0", {}, clock.current};
    test.content.sound = false;
    EXPECT_FALSE(shell->notificationResponder().notificationDueWhileActive(test));
    queue.runPending();
    EXPECT_EQ(events("lumory-reminder-delivered"), (std::vector<json>{reminder, reminder}));
}

}  // namespace
}  // namespace lumory::fakes
