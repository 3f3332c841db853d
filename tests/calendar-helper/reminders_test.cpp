// Reminder lists, the reminder object, the listing's filters and the editing rules, over the
// memory store.

#include "reminders.h"
#include "command_fixture.h"
#include "local_zone.h"
#include "reminder_editing.h"

namespace lumory::cal {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

class Reminders : public CommandFixture {
protected:
    Reminders() {
        errands.colorComponents = std::vector<double>{0.0, 0.5, 1.0};
        store.addCalendar(EntityType::reminder, errands);
        store.addCalendar(EntityType::reminder, shared);
        store.addCalendar(EntityType::event, makeCalendar("cal-1", "Personal"));
        store.setDefaultCalendar(EntityType::reminder, "list-errands");
    }

    Reminder reminder(std::string id, std::optional<DueDate> due, const Calendar& list) {
        Reminder r;
        r.identifier = std::move(id);
        r.title = r.identifier;
        r.list = list;
        r.dueDateComponents = due;
        return r;
    }

    std::vector<std::string> listed(json request) {
        auto reply = run(listReminders, std::move(request));
        std::vector<std::string> ids;
        for (const auto& item : reply.at("reminders")) ids.push_back(item.at("id"));
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    std::optional<Reminder> stored(const std::string& id) {
        for (auto& r : store.storedReminders())
            if (r.identifier == id) return r;
        return std::nullopt;
    }

    LocalZone zone{"Europe/Berlin"};
    Calendar errands = makeCalendar("list-errands", "Errands");
    Calendar shared = makeCalendar("list-shared", "Shared", false, "Cloud");
};

TEST_F(Reminders, ObjectShowsDueDatesInTheLocalZone) {
    Reminder timed = reminder("timed", DueDate{2025, 3, 4, 9, 30}, errands);
    timed.title.reset();
    json object = encode(timed);
    EXPECT_EQ(object,
              json::parse(R"({"id":"timed","title":"","listId":"list-errands","list":"Errands",
        "isCompleted":false,"priority":0,"hasDueTime":true,"writable":true,
        "dueDate":"2025-03-04T08:30:00Z","color":"#0080FF"})"));

    {
        LocalZone east("Europe/Helsinki");  // UTC+02:00
        Reminder day = reminder("day", DueDate{2025, 3, 4, std::nullopt, std::nullopt}, shared);
        day.notes = "";
        day.priority = 1;
        day.isCompleted = true;
        object = encode(day);
        EXPECT_EQ(object["hasDueTime"], false);
        EXPECT_EQ(object["dueDate"], "2025-03-03T22:00:00Z");
        EXPECT_EQ(object["notes"], "");
        EXPECT_EQ(object["writable"], false);
        EXPECT_EQ(object["priority"], 1);
        EXPECT_EQ(object["isCompleted"], true);
        EXPECT_FALSE(object.contains("color"));
    }
    object = encode(reminder("none", std::nullopt, errands));
    EXPECT_EQ(object["hasDueTime"], false);
    EXPECT_FALSE(object.contains("dueDate"));
    EXPECT_FALSE(object.contains("notes"));
}

TEST_F(Reminders, ListsAreSortedAndGuarded) {
    store.addCalendar(EntityType::reminder, makeCalendar("list-lower", "errands"));
    auto reply = run(listReminderLists, json::object());
    std::vector<std::string> order;
    for (const auto& list : reply["lists"]) order.push_back(list["id"]);
    EXPECT_EQ(order, (std::vector<std::string>{"list-shared", "list-errands", "list-lower"}));
    EXPECT_EQ(reply["lists"][1]["color"], "#0080FF");

    store.setStatus(EntityType::reminder, 2);
    for (auto handler : {listReminderLists, listReminders, createReminder, updateReminder,
                         deleteReminder, setReminderCompleted})
        EXPECT_EQ(
            error(handler, {{"from", "2025-03-01"}, {"to", "2025-03-08"}, {"reminderId", "x"}}),
            "no reminders access: denied");
    EXPECT_TRUE(store.storedReminders().empty());
}

TEST_F(Reminders, ListingJoinsOpenAndCompletedReminders) {
    store.addReminder(reminder("due-inside", DueDate{2025, 3, 3, 10, 0}, errands));
    store.addReminder(reminder("due-before", DueDate{2025, 2, 20, 10, 0}, errands));
    store.addReminder(
        reminder("due-on-end", DueDate{2025, 3, 8, std::nullopt, std::nullopt}, errands));
    store.addReminder(reminder("no-due", std::nullopt, errands));
    Reminder doneLate = reminder("done-outside-due", DueDate{2025, 1, 5, 9, 0}, shared);
    doneLate.isCompleted = true;
    doneLate.completionDate = utcInstant(2025, 3, 2, 12);
    store.addReminder(doneLate);
    Reminder doneNoDue = reminder("done-no-due", std::nullopt, errands);
    doneNoDue.isCompleted = true;
    doneNoDue.completionDate = utcInstant(2025, 3, 2, 12);
    store.addReminder(doneNoDue);
    Reminder doneBefore = reminder("done-before", DueDate{2025, 3, 4, 9, 0}, errands);
    doneBefore.isCompleted = true;
    doneBefore.completionDate = utcInstant(2025, 2, 27, 12);
    store.addReminder(doneBefore);

    json week = {{"from", "2025-03-01"}, {"to", "2025-03-08"}};
    EXPECT_EQ(listed(week), (std::vector<std::string>{"done-outside-due", "due-inside"}));
    json overdue = week;
    overdue["overdue"] = true;
    EXPECT_EQ(listed(overdue),
              (std::vector<std::string>{"done-outside-due", "due-before", "due-inside"}));
    overdue["overdue"] = "true";
    EXPECT_EQ(listed(overdue), (std::vector<std::string>{"done-outside-due", "due-inside"}));

    json lists = week;
    lists["lists"] = {"list-shared", "unknown"};
    EXPECT_EQ(listed(lists), (std::vector<std::string>{"done-outside-due"}));
    lists["lists"] = "list-shared";  // not an array: every list
    EXPECT_EQ(listed(lists).size(), 2u);
    int fetches = store.fetchCount();
    for (const json& none : {json::array(), json::array({"unknown"}), json::array({"cal-1"})}) {
        lists["lists"] = none;
        EXPECT_EQ(run(listReminders, lists), json({{"reminders", json::array()}}));
    }
    EXPECT_EQ(store.fetchCount(), fetches);
}

TEST_F(Reminders, ListingNeedsBothDates) {
    for (const json& request :
         {json{{"to", "2025-03-08"}}, json{{"from", "2025-03-01"}},
          json{{"from", 5}, {"to", "2025-03-08"}}, json{{"from", "2025-03-01"}, {"to", "x"}}})
        EXPECT_EQ(error(listReminders, request), "reminders needs `from` and `to`") << request;
}

TEST_F(Reminders, ApplyFollowsTheFieldRules) {
    Reminder r = reminder("r", DueDate{2025, 3, 4, 9, 30}, errands);
    r.notes = "keep";
    applyReminder({{"title", 42}, {"dueDate", nullptr}, {"completed", "yes"}}, r, store);
    EXPECT_EQ(r.title, "r");
    EXPECT_EQ(r.notes, "keep");
    EXPECT_EQ(r.dueDateComponents, (DueDate{2025, 3, 4, 9, 30}));
    EXPECT_FALSE(r.isCompleted);

    for (const json& clears : {json(""), json(nullptr), json(17)}) {
        r.notes = "keep";
        applyReminder({{"notes", clears}}, r, store);
        EXPECT_FALSE(r.notes) << clears;
    }
    applyReminder({{"dueDate", "2025-03-04T08:30:45Z"}}, r, store);
    EXPECT_EQ(r.dueDateComponents, (DueDate{2025, 3, 4, 9, 30}));
    applyReminder({{"dueDate", "2025-03-04T23:30:00Z"}, {"hasDueTime", false}}, r, store);
    EXPECT_EQ(r.dueDateComponents, (DueDate{2025, 3, 5, std::nullopt, std::nullopt}));
    applyReminder({{"dueDate", "2025-03-06"}, {"hasDueTime", "no"}}, r, store);
    EXPECT_EQ(r.dueDateComponents, (DueDate{2025, 3, 6, 0, 0}));

    applyReminder({{"completed", true}}, r, store);
    ASSERT_TRUE(r.isCompleted && r.completionDate);
    applyReminder({{"completed", false}}, r, store);
    EXPECT_FALSE(r.isCompleted || r.completionDate);

    try {
        applyReminder({{"title", "changed"}, {"listId", "list-shared"}}, r, store);
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.message, "list is read-only: Shared");
    }
    EXPECT_EQ(r.list->identifier, "list-errands");
}

TEST_F(Reminders, CreateChoosesItsListAndSaves) {
    auto reply = run(createReminder, json::object());
    EXPECT_EQ(reply["reminder"]["title"], "");
    EXPECT_EQ(reply["reminder"]["listId"], "list-errands");
    EXPECT_FALSE(reply["reminder"].contains("dueDate"));

    reply = run(createReminder,
                {{"title", "Call"}, {"dueDate", "2025-03-04T08:30:00Z"}, {"notes", "n"}});
    EXPECT_EQ(reply["reminder"]["hasDueTime"], true);
    EXPECT_EQ(reply["reminder"]["dueDate"], "2025-03-04T08:30:00Z");
    EXPECT_TRUE(stored(reply["reminder"]["id"]));

    EXPECT_EQ(error(createReminder, {{"listId", "nowhere"}}), "unknown list: nowhere");
    EXPECT_EQ(error(createReminder, {{"listId", "cal-1"}}), "unknown list: cal-1");
    EXPECT_EQ(error(createReminder, {{"listId", "list-shared"}}), "list is read-only: Shared");
    store.setDefaultCalendar(EntityType::reminder, "list-shared");
    EXPECT_EQ(error(createReminder, {{"title", "x"}}), "list is read-only: Shared");
    store.setDefaultCalendar(EntityType::reminder, std::nullopt);
    EXPECT_EQ(error(createReminder, {{"title", "x"}}), "no reminders list to write to");
    EXPECT_EQ(store.storedReminders().size(), 2u);
}

TEST_F(Reminders, LookupRefusesWhatItCannotChange) {
    store.addReminder(reminder("mine", DueDate{2025, 3, 4, 9, 30}, errands));
    store.addReminder(reminder("theirs", std::nullopt, shared));
    Event event;
    event.identifier = "an-event";
    event.calendar = makeCalendar("cal-1", "Personal");
    event.startDate = utcInstant(2025, 3, 3);
    store.addEvent(event);

    for (auto handler : {updateReminder, deleteReminder, setReminderCompleted}) {
        EXPECT_EQ(error(handler, {{"reminderId", 17}}), "needs `reminderId`");
        EXPECT_EQ(error(handler, json::object()), "needs `reminderId`");
        EXPECT_EQ(error(handler, {{"reminderId", "an-event"}}), "reminder not found: an-event");
        EXPECT_EQ(error(handler, {{"reminderId", "theirs"}}), "list is read-only: Shared");
    }
    EXPECT_EQ(error(updateReminder, {{"reminderId", "mine"}, {"listId", "nowhere"}}),
              "unknown list: nowhere");
    store.failNextWrite("disk full");
    EXPECT_EQ(error(updateReminder, {{"reminderId", "mine"}, {"title", "lost"}}), "disk full");
    EXPECT_EQ(stored("mine")->title, "mine");
    EXPECT_EQ(store.storedReminders().size(), 2u);
}

TEST_F(Reminders, UpdateCompleteAndDelete) {
    store.addReminder(reminder("mine", DueDate{2025, 3, 4, 9, 30}, errands));
    auto reply = run(updateReminder, {{"reminderId", "mine"},
                                      {"title", 42},
                                      {"notes", "n"},
                                      {"dueDate", "2025-03-05T10:15:00Z"}});
    EXPECT_EQ(reply["reminder"]["title"], "mine");
    EXPECT_EQ(reply["reminder"]["notes"], "n");
    EXPECT_EQ(reply["reminder"]["dueDate"], "2025-03-05T10:15:00Z");
    reply = run(updateReminder, {{"reminderId", "mine"}, {"notes", nullptr}});
    EXPECT_FALSE(reply["reminder"].contains("notes"));

    EXPECT_EQ(run(setReminderCompleted,
                  {{"reminderId", "mine"}, {"title", "ignored"}})["reminder"]["isCompleted"],
              true);
    EXPECT_TRUE(stored("mine")->completionDate);
    EXPECT_EQ(stored("mine")->title, "mine");
    EXPECT_EQ(run(setReminderCompleted,
                  {{"reminderId", "mine"}, {"completed", false}})["reminder"]["isCompleted"],
              false);
    EXPECT_FALSE(stored("mine")->completionDate);
    EXPECT_EQ(run(setReminderCompleted,
                  {{"reminderId", "mine"}, {"completed", "no"}})["reminder"]["isCompleted"],
              true);

    EXPECT_EQ(run(deleteReminder, {{"reminderId", "mine"}}), json({{"ok", true}}));
    EXPECT_TRUE(store.storedReminders().empty());
}

}  // namespace
}  // namespace lumory::cal
