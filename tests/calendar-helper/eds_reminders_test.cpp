// Reminder lists and reminders through the built lumory-cal on a private Evolution Data Server
// (run under tests/support/eds/eds_session.sh), in zones at UTC+01:00 and UTC+02:00.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "eds/webcal_server.h"
#include "helper_client.h"

namespace lumory::testsupport {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kPlusOne = "Europe/Berlin";    // UTC+01:00 in March
constexpr const char* kPlusTwo = "Europe/Helsinki";  // UTC+02:00 in March

std::string vtodo(const std::string& uid, const std::string& lines) {
    return "BEGIN:VTODO\r\nUID:" + uid + "\r\nDTSTAMP:20250101T000000Z\r\n" + lines +
           "END:VTODO\r\n";
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> ids(const json& reply) {
    std::vector<std::string> result;
    for (const auto& reminder : reply.at("reminders")) result.push_back(reminder.at("id"));
    std::sort(result.begin(), result.end());
    return result;
}

TEST(EdsReminders, CreatesWithDueTimesAndDaysInEachZone) {
    EdsFixture eds;
    std::string list = eds.addSource("Chores", true);
    ASSERT_FALSE(list.empty());
    {
        HelperClient helper(kPlusOne);
        json timed = helper.ask({{"cmd", "reminder-create"},
                                 {"listId", list},
                                 {"title", "Call"},
                                 {"dueDate", "2025-03-04T08:30:45Z"}})["reminder"];
        EXPECT_EQ(timed["hasDueTime"], true);
        EXPECT_EQ(timed["dueDate"], "2025-03-04T08:30:00Z");
        EXPECT_EQ(timed["listId"], list);
        auto stored = storedComponents(eds, list, timed["id"]);
        ASSERT_EQ(stored.size(), 1u);
        EXPECT_TRUE(has(stored[0], "DUE:20250304T083000Z")) << stored[0];

        json day = helper.ask({{"cmd", "reminder-create"},
                               {"listId", list},
                               {"title", "Day"},
                               {"dueDate", "2025-03-04T08:30:00Z"},
                               {"hasDueTime", false}})["reminder"];
        EXPECT_EQ(day["hasDueTime"], false);
        EXPECT_EQ(day["dueDate"], "2025-03-03T23:00:00Z");
        stored = storedComponents(eds, list, day["id"]);
        ASSERT_EQ(stored.size(), 1u);
        EXPECT_TRUE(has(stored[0], "DUE;VALUE=DATE:20250304")) << stored[0];
    }
    {
        // The same day read where it is UTC+02:00, and a date-only text taken as local midnight.
        HelperClient helper(kPlusTwo);
        json listed = helper.ask({{"cmd", "reminders"},
                                  {"from", "2025-03-04"},
                                  {"to", "2025-03-05"},
                                  {"lists", {list}}});
        ASSERT_EQ(listed["reminders"].size(), 2u) << listed.dump();
        for (const auto& reminder : listed["reminders"]) {
            if (reminder["title"] == "Day")
                EXPECT_EQ(reminder["dueDate"], "2025-03-03T22:00:00Z");
            else
                EXPECT_EQ(reminder["dueDate"], "2025-03-04T08:30:00Z");
        }
        json midnight = helper.ask(
            {{"cmd", "reminder-create"}, {"listId", list}, {"dueDate", "2025-03-06"}})["reminder"];
        EXPECT_EQ(midnight["hasDueTime"], true);
        EXPECT_EQ(midnight["dueDate"], "2025-03-05T22:00:00Z");
    }
    EXPECT_TRUE(eds.removeSource(list));
}

TEST(EdsReminders, UpdatesCompletesReopensAndDeletes) {
    EdsFixture eds;
    std::string list = eds.addSource("Home", true);
    // Added before the helper starts, which learns of later lists a moment after EDS does.
    std::string other = eds.addSource("Elsewhere", true);
    ASSERT_FALSE(list.empty() || other.empty());
    HelperClient helper(kPlusOne);
    json created = helper.ask({{"cmd", "reminder-create"},
                               {"listId", list},
                               {"title", "Paint"},
                               {"notes", "blue"},
                               {"dueDate", "2025-03-04T08:30:00Z"}})["reminder"];
    std::string id = created["id"];

    json updated = helper.ask({{"cmd", "reminder-update"},
                               {"reminderId", id},
                               {"title", 7},
                               {"notes", ""},
                               {"dueDate", nullptr}})["reminder"];
    EXPECT_EQ(updated["title"], "Paint");
    EXPECT_FALSE(updated.contains("notes"));
    EXPECT_EQ(updated["dueDate"], "2025-03-04T08:30:00Z");
    updated = helper.ask(
        {{"cmd", "reminder-update"}, {"reminderId", id}, {"title", ""}, {"notes", 3}})["reminder"];
    EXPECT_EQ(updated["title"], "");
    EXPECT_FALSE(has(storedComponents(eds, list, id).at(0), "DESCRIPTION"));

    json done = helper.ask({{"cmd", "reminder-complete"}, {"reminderId", id}})["reminder"];
    EXPECT_EQ(done["isCompleted"], true);
    std::string stored = storedComponents(eds, list, id).at(0);
    EXPECT_TRUE(has(stored, "\r\nCOMPLETED:")) << stored;
    EXPECT_TRUE(has(stored, "STATUS:COMPLETED")) << stored;
    EXPECT_TRUE(has(stored, "PERCENT-COMPLETE:100")) << stored;

    json reopened = helper.ask(
        {{"cmd", "reminder-complete"}, {"reminderId", id}, {"completed", false}})["reminder"];
    EXPECT_EQ(reopened["isCompleted"], false);
    stored = storedComponents(eds, list, id).at(0);
    EXPECT_FALSE(has(stored, "\r\nCOMPLETED:") || has(stored, "STATUS:COMPLETED") ||
                 has(stored, "PERCENT-COMPLETE"))
        << stored;

    json moved =
        helper.ask({{"cmd", "reminder-update"}, {"reminderId", id}, {"listId", other}})["reminder"];
    EXPECT_EQ(moved["listId"], other);
    EXPECT_TRUE(storedComponents(eds, list, id).empty());
    ASSERT_EQ(storedComponents(eds, other, id).size(), 1u);

    EXPECT_EQ(helper.ask({{"cmd", "reminder-delete"}, {"reminderId", id}}), json({{"ok", true}}));
    EXPECT_TRUE(storedComponents(eds, other, id).empty());
    EXPECT_TRUE(eds.removeSource(other));
    EXPECT_EQ(helper.ask({{"cmd", "reminder-delete"}, {"reminderId", id}}),
              json({{"error", "reminder not found: " + id}}));

    // An event's identifier names no reminder.
    std::string eventId =
        eds.addComponent("system-calendar",
                         "BEGIN:VEVENT\r\nUID:not-a-task\r\nDTSTAMP:20250101T000000Z\r\nDTSTART:"
                         "20250303T090000Z\r\nEND:VEVENT\r\n");
    ASSERT_EQ(eventId, "not-a-task");
    EXPECT_EQ(helper.ask({{"cmd", "reminder-update"}, {"reminderId", eventId}, {"title", "x"}}),
              json({{"error", "reminder not found: not-a-task"}}));
    EXPECT_TRUE(eds.removeSource(list));
}

TEST(EdsReminders, ListsOverdueAndCompletedInTheSpan) {
    EdsFixture eds;
    std::string list = eds.addSource("Span", true);
    ASSERT_FALSE(list.empty());
    ASSERT_FALSE(
        eds.addComponent(list, vtodo("inside", "SUMMARY:inside\r\nDUE:20250303T100000Z\r\n"))
            .empty());
    ASSERT_FALSE(
        eds.addComponent(list, vtodo("overdue", "SUMMARY:overdue\r\nDUE;VALUE=DATE:20250220\r\n"))
            .empty());
    ASSERT_FALSE(eds.addComponent(list, vtodo("no-due", "SUMMARY:no due\r\n")).empty());
    ASSERT_FALSE(eds.addComponent(list, vtodo("done-due-outside",
                                              "SUMMARY:done\r\nDUE:20250105T090000Z\r\nCOMPLETED:"
                                              "20250302T120000Z\r\nSTATUS:COMPLETED\r\n"))
                     .empty());
    ASSERT_FALSE(
        eds.addComponent(
               list, vtodo("done-no-due",
                           "SUMMARY:done\r\nCOMPLETED:20250302T120000Z\r\nSTATUS:COMPLETED\r\n"))
            .empty());
    ASSERT_FALSE(
        eds.addComponent(
               list,
               vtodo("done-before",
                     "SUMMARY:done\r\nDUE:20250304T090000Z\r\nCOMPLETED:20250227T120000Z\r\n"))
            .empty());

    HelperClient helper(kPlusTwo);
    json week = {
        {"cmd", "reminders"}, {"from", "2025-03-01"}, {"to", "2025-03-08"}, {"lists", {list}}};
    EXPECT_EQ(ids(helper.ask(week)), (std::vector<std::string>{"done-due-outside", "inside"}));
    week["overdue"] = true;
    EXPECT_EQ(ids(helper.ask(week)),
              (std::vector<std::string>{"done-due-outside", "inside", "overdue"}));
    week["lists"] = json::array({"nothing-here"});
    EXPECT_EQ(helper.ask(week), json({{"reminders", json::array()}}));
    EXPECT_EQ(helper.ask({{"cmd", "reminders"}, {"from", "2025-03-01"}}),
              json({{"error", "reminders needs `from` and `to`"}}));
    EXPECT_TRUE(eds.removeSource(list));
}

TEST(EdsReminders, ReadOnlyListsRefuseChanges) {
    EdsFixture eds;
    WebcalServer server("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n" +
                        vtodo("shared-task", "SUMMARY:Shared\r\nDUE:20250303T100000Z\r\n") +
                        "END:VCALENDAR\r\n");
    std::string list = addWebcalSource(eds.registry(), "Team", server.url("/team.ics"), true);
    ASSERT_FALSE(list.empty());
    HelperClient helper(kPlusOne);
    json lists = helper.ask({{"cmd", "reminder-lists"}})["lists"];
    auto team =
        std::find_if(lists.begin(), lists.end(), [&](const json& l) { return l["id"] == list; });
    ASSERT_NE(team, lists.end()) << lists.dump();
    EXPECT_EQ((*team)["writable"], false);
    EXPECT_EQ((*team)["sourceType"], "subscribed");

    // The subscription is fetched in the background; wait for its task (bounded).
    json found;
    for (int attempt = 0; attempt < 40; ++attempt) {
        found = helper.ask({{"cmd", "reminders"},
                            {"from", "2025-03-01"},
                            {"to", "2025-03-08"},
                            {"lists", {list}}});
        if (!found["reminders"].empty()) break;
        std::this_thread::sleep_for(250ms);
    }
    ASSERT_EQ(found["reminders"].size(), 1u);
    EXPECT_EQ(found["reminders"][0]["writable"], false);

    const json refused = {{"error", "list is read-only: Team"}};
    EXPECT_EQ(helper.ask({{"cmd", "reminder-create"}, {"listId", list}, {"title", "x"}}), refused);
    EXPECT_EQ(
        helper.ask({{"cmd", "reminder-update"}, {"reminderId", "shared-task"}, {"title", "x"}}),
        refused);
    EXPECT_EQ(helper.ask({{"cmd", "reminder-complete"}, {"reminderId", "shared-task"}}), refused);
    EXPECT_EQ(helper.ask({{"cmd", "reminder-delete"}, {"reminderId", "shared-task"}}), refused);
    EXPECT_TRUE(eds.removeSource(list));
}

}  // namespace
}  // namespace lumory::testsupport
