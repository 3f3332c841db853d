// "create", "update" and "delete": their checks, messages and field rules, over the memory store.

#include "event_editing.h"
#include "command_fixture.h"
#include "failure.h"

namespace lumory::cal {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

class EventEditing : public CommandFixture {
protected:
    EventEditing() {
        store.addCalendar(EntityType::event, personal);
        store.addCalendar(EntityType::event, holidays);
        store.addCalendar(EntityType::event, work);
        store.addCalendar(EntityType::reminder, makeCalendar("list-1", "Errands"));
        store.setDefaultCalendar(EntityType::event, "cal-personal");
    }

    // A weekly series stored as its occurrences, three weeks from 3 March 09:00Z.
    void addWeekly(const Calendar& calendar) {
        for (int week = 0; week < 3; ++week) {
            Event occurrence;
            occurrence.identifier = "weekly";
            occurrence.title = "Standup";
            occurrence.calendar = calendar;
            occurrence.hasRecurrenceRules = true;
            occurrence.startDate = occurrence.recurrenceDate = utcInstant(2025, 3, 3 + 7 * week, 9);
            occurrence.endDate = *occurrence.startDate + 15min;
            occurrence.url = "https://example.org/standup";
            store.addEvent(occurrence);
        }
    }

    Calendar personal = makeCalendar("cal-personal", "Personal");
    Calendar holidays = makeCalendar("cal-holidays", "Holidays", false);
    Calendar work = makeCalendar("cal-work", "Work");
};

TEST_F(EventEditing, CreateFillsDefaultsAndSavesTheEvent) {
    auto reply = run(createEvent, {{"start", "2025-03-03T09:00:00Z"}});
    const json& event = reply.at("event");
    EXPECT_EQ(event["title"], "");
    EXPECT_EQ(event["calendarId"], "cal-personal");
    EXPECT_EQ(event["start"], "2025-03-03T09:00:00Z");
    EXPECT_EQ(event["end"], "2025-03-03T09:30:00Z");
    ASSERT_EQ(store.storedEvents().size(), 1u);
    EXPECT_EQ(store.storedEvents()[0].identifier, event["id"]);

    reply = run(createEvent, {{"start", "2025-03-03T09:00:00Z"},
                              {"end", "soon"},
                              {"title", "T"},
                              {"calendarId", "cal-work"},
                              {"availability", 1},
                              {"isAllDay", "yes"},
                              {"notes", ""},
                              {"location", 5}});
    EXPECT_EQ(reply["event"]["end"], "2025-03-03T09:30:00Z");
    EXPECT_EQ(reply["event"]["calendarId"], "cal-work");
    EXPECT_EQ(reply["event"]["availability"], 1);
    EXPECT_EQ(reply["event"]["isAllDay"], false);
    EXPECT_EQ(reply["event"]["notes"], "");
    EXPECT_FALSE(reply["event"].contains("location"));
}

TEST_F(EventEditing, CreateRefusesWhatItCannotWrite) {
    EXPECT_EQ(error(createEvent, {{"title", "no start"}}), "create needs `start`");
    EXPECT_EQ(error(createEvent, {{"start", 1740992400}}), "create needs `start`");
    EXPECT_EQ(error(createEvent, {{"start", "2025-03-03"}, {"calendarId", "cal-holidays"}}),
              "calendar is read-only: Holidays");
    // Reminder lists are no event calendars; the bad identifier is reported even though the
    // default calendar would have taken the event.
    EXPECT_EQ(error(createEvent, {{"start", "2025-03-03"}, {"calendarId", "list-1"}}),
              "unknown calendar: list-1");
    EXPECT_EQ(
        error(createEvent, {{"start", "2025-03-03T10:00:00Z"}, {"end", "2025-03-03T09:00:00Z"}}),
        "event ends before it starts");
    store.failNextWrite("disk full");
    EXPECT_EQ(error(createEvent, {{"start", "2025-03-03"}}), "disk full");
    EXPECT_TRUE(store.storedEvents().empty());

    store.setDefaultCalendar(EntityType::event, "cal-holidays");
    EXPECT_EQ(error(createEvent, {{"start", "2025-03-03"}}), "calendar is read-only: Holidays");
    store.setDefaultCalendar(EntityType::event, std::nullopt);
    EXPECT_EQ(error(createEvent, {{"start", "2025-03-03"}}), "no calendar to write to");
    EXPECT_TRUE(store.storedEvents().empty());
}

TEST_F(EventEditing, ApplySetsFieldsInOrderAndStopsAtABadCalendar) {
    Event event;
    event.url = "https://example.org";
    json request = {{"title", "New"},
                    {"start", "2025-03-03T09:00:00.500Z"},
                    {"url", ""},
                    {"availability", 7},
                    {"calendarId", "cal-nowhere"}};
    try {
        apply(request, event, store);
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.message, "unknown calendar: cal-nowhere");
    }
    // Fields before the calendar were applied, the default end was not.
    EXPECT_EQ(event.title, "New");
    EXPECT_EQ(event.startDate, utcInstant(2025, 3, 3, 9) + 500ms);
    EXPECT_FALSE(event.url);
    EXPECT_EQ(event.availability, kAvailabilityBusy);
    EXPECT_FALSE(event.endDate);

    apply({{"url", "not a link"}, {"availability", 3}}, event, store);
    EXPECT_FALSE(event.url);
    EXPECT_EQ(event.availability, kAvailabilityUnavailable);
    apply({{"url", "mailto:someone@example.org"}}, event, store);
    EXPECT_EQ(event.url, "mailto:someone@example.org");
    EXPECT_EQ(event.endDate, *event.startDate + 30min);
}

TEST_F(EventEditing, UpdateChangesOnlyTheGivenOccurrence) {
    addWeekly(work);
    auto reply = run(updateEvent, {{"eventId", "weekly"},
                                   {"occurrence", "2025-03-10T09:00:00Z"},
                                   {"title", "Moved"},
                                   {"url", ""},
                                   {"isAllDay", "true"}});
    EXPECT_EQ(reply["event"]["title"], "Moved");
    EXPECT_EQ(reply["event"]["occurrence"], "2025-03-10T09:00:00Z");
    EXPECT_EQ(reply["event"]["isAllDay"], false);
    EXPECT_FALSE(reply["event"].contains("url"));
    int moved = 0;
    for (const auto& occurrence : store.storedEvents()) {
        bool isSecond = occurrence.recurrenceDate == utcInstant(2025, 3, 10, 9);
        EXPECT_EQ(occurrence.title, isSecond ? "Moved" : "Standup");
        EXPECT_EQ(occurrence.url.has_value(), !isSecond);
        moved += isSecond;
    }
    EXPECT_EQ(moved, 1);

    // Without an occurrence the lookup by identifier picks the first one.
    reply = run(updateEvent, {{"eventId", "weekly"}, {"location", "Room 2"}});
    EXPECT_EQ(reply["event"]["occurrence"], "2025-03-03T09:00:00Z");
    EXPECT_EQ(reply["event"]["location"], "Room 2");
}

TEST_F(EventEditing, UpdateAndDeleteReportEveryRefusal) {
    addWeekly(holidays);
    EXPECT_EQ(error(updateEvent, {{"title", "x"}}), "update needs `eventId`");
    EXPECT_EQ(error(updateEvent, {{"eventId", 12}}), "update needs `eventId`");
    EXPECT_EQ(error(deleteEvent, json::object()), "delete needs `eventId`");
    EXPECT_EQ(error(updateEvent, {{"eventId", "nothing"}}), "event not found: nothing");
    EXPECT_EQ(error(deleteEvent, {{"eventId", "weekly"}, {"occurrence", "2025-03-10T09:00:01Z"}}),
              "event not found: weekly");
    EXPECT_EQ(error(updateEvent, {{"eventId", "weekly"}, {"title", "x"}}),
              "calendar is read-only: Holidays");
    EXPECT_EQ(error(deleteEvent, {{"eventId", "weekly"}}), "calendar is read-only: Holidays");
    EXPECT_EQ(store.storedEvents().size(), 3u);
}

TEST_F(EventEditing, FailedUpdateSavesNothing) {
    addWeekly(work);
    EXPECT_EQ(error(updateEvent, {{"eventId", "weekly"},
                                  {"occurrence", "2025-03-03T09:00:00Z"},
                                  {"title", "Lost"},
                                  {"calendarId", "cal-holidays"}}),
              "calendar is read-only: Holidays");
    store.failNextWrite("backend gone");
    EXPECT_EQ(error(updateEvent, {{"eventId", "weekly"}, {"title", "Lost"}}), "backend gone");
    for (const auto& occurrence : store.storedEvents()) EXPECT_EQ(occurrence.title, "Standup");
}

TEST_F(EventEditing, DeleteRemovesOneOccurrence) {
    addWeekly(work);
    EXPECT_EQ(run(deleteEvent, {{"eventId", "weekly"}, {"occurrence", "2025-03-17T09:00:00.300Z"}}),
              json({{"ok", true}}));
    auto left = store.storedEvents();
    ASSERT_EQ(left.size(), 2u);
    for (const auto& occurrence : left)
        EXPECT_NE(occurrence.recurrenceDate, utcInstant(2025, 3, 17, 9));
    store.failNextWrite("backend gone");
    EXPECT_EQ(error(deleteEvent, {{"eventId", "weekly"}}), "backend gone");
    EXPECT_EQ(store.storedEvents().size(), 2u);
}

}  // namespace
}  // namespace lumory::cal
