// Calendars and events through the built lumory-cal on a private Evolution Data Server (run under
// tests/support/eds/eds_session.sh). Data is written beside the helper as another program would.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>

#include "eds/webcal_server.h"
#include "helper_client.h"

namespace lumory::testsupport {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

using Helper = HelperClient;

std::string vevent(const std::string& uid, const std::string& lines) {
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:20250101T000000Z\r\n" + lines +
           "END:VEVENT\r\n";
}

std::vector<std::string> field(const json& events, const char* key) {
    std::vector<std::string> values;
    for (const auto& event : events) values.push_back(event.value(key, std::string("-")));
    return values;
}

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

TEST(EdsEvents, ListsLocalSubscribedAndBirthdayCalendars) {
    EdsFixture eds;
    std::string work = eds.addSource("Work", false, std::string("#ff8000"));
    ASSERT_FALSE(work.empty());
    WebcalServer server(
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n" +
        vevent("holiday-1",
               "DTSTART;VALUE=DATE:20250317\r\nDTEND;VALUE=DATE:20250318\r\nSUMMARY:Holiday\r\n") +
        "END:VCALENDAR\r\n");
    std::string holidays = addWebcalSource(eds.registry(), "Holidays", server.url("/holidays.ics"));
    ASSERT_FALSE(holidays.empty());

    Helper helper("Europe/Berlin");
    json calendars = helper.ask({{"cmd", "calendars"}})["calendars"];
    auto find = [&](const std::string& id) {
        for (const auto& calendar : calendars)
            if (calendar["id"] == id) return calendar;
        return json();
    };
    EXPECT_EQ(find(work), json({{"id", work},
                                {"title", "Work"},
                                {"source", "On This Computer"},
                                {"sourceType", "local"},
                                {"writable", true},
                                {"color", "#FF8000"}}));
    EXPECT_EQ(find("system-calendar")["writable"], true);
    EXPECT_EQ(find(holidays)["sourceType"], "subscribed");
    EXPECT_EQ(find(holidays)["writable"], false);
    EXPECT_EQ(find("birthdays")["sourceType"], "birthdays");
    EXPECT_EQ(find("birthdays")["writable"], false);
    for (size_t i = 1; i < calendars.size(); ++i) {
        auto key = [&](size_t n) {
            return std::make_pair(calendars[n]["source"].get<std::string>(),
                                  calendars[n]["title"].get<std::string>());
        };
        EXPECT_LE(key(i - 1), key(i)) << calendars.dump();
    }

    // The subscription is fetched in the background; wait for its one event (bounded).
    json listed;
    for (int attempt = 0; attempt < 40 && listed.empty(); ++attempt) {
        listed = helper.events(holidays, "2025-03-01", "2025-04-01");
        if (listed.empty()) std::this_thread::sleep_for(250ms);
    }
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]["writable"], false);

    // Read-only calendars refuse every write, and nothing reaches them.
    EXPECT_EQ(helper.ask({{"cmd", "create"}, {"start", "2025-03-03"}, {"calendarId", holidays}}),
              json({{"error", "calendar is read-only: Holidays"}}));
    EXPECT_EQ(
        helper.ask(
            {{"cmd", "create"}, {"start", "2025-03-03"}, {"calendarId", "birthdays"}})["error"],
        "calendar is read-only: " + find("birthdays")["title"].get<std::string>());
    EXPECT_EQ(helper.ask({{"cmd", "update"}, {"eventId", "holiday-1"}, {"title", "Mine"}}),
              json({{"error", "calendar is read-only: Holidays"}}));
    EXPECT_EQ(helper.ask({{"cmd", "delete"}, {"eventId", "holiday-1"}}),
              json({{"error", "calendar is read-only: Holidays"}}));
    EXPECT_EQ(helper.events(holidays, "2025-03-01", "2025-04-01"), listed);
    EXPECT_TRUE(eds.removeSource(holidays));
    EXPECT_TRUE(eds.removeSource(work));
}

// A weekly series in Berlin time, four weeks from Monday 3 March 10:00 (09:00Z).
std::string addWeekly(EdsFixture& eds, const std::string& calendar, const std::string& uid) {
    std::unique_ptr<ECalClient, Unref> client(eds.connect(calendar));
    EXPECT_TRUE(client && e_cal_client_add_timezone_sync(
                              client.get(), i_cal_timezone_get_builtin_timezone("Europe/Berlin"),
                              nullptr, nullptr));
    return eds.addComponent(
        calendar,
        vevent(uid,
               "DTSTART;TZID=/freeassociation.sourceforge.net/Europe/Berlin:20250303T100000\r\n"
               "DTEND;TZID=/freeassociation.sourceforge.net/Europe/Berlin:20250303T103000\r\n"
               "RRULE:FREQ=WEEKLY;COUNT=4\r\nSUMMARY:Series\r\n"));
}

TEST(EdsEvents, ChangesAndRemovesOneOccurrenceOnly) {
    EdsFixture eds;
    std::string calendar = eds.addSource("Series");
    // Added before the helper starts, which learns of later calendars a moment after EDS does.
    std::string other = eds.addSource("Elsewhere");
    ASSERT_FALSE(calendar.empty() || other.empty());
    ASSERT_EQ(addWeekly(eds, calendar, "series-1"), "series-1");

    Helper helper("Europe/Berlin");
    json twoWeeks = helper.events(calendar, "2025-03-03", "2025-03-17");
    ASSERT_EQ(twoWeeks.size(), 2u) << twoWeeks.dump();
    EXPECT_EQ(field(twoWeeks, "id"), (std::vector<std::string>{"series-1", "series-1"}));
    EXPECT_EQ(field(twoWeeks, "start"),
              (std::vector<std::string>{"2025-03-03T09:00:00Z", "2025-03-10T09:00:00Z"}));
    EXPECT_EQ(field(twoWeeks, "occurrence"), field(twoWeeks, "start"));
    EXPECT_EQ(twoWeeks[1]["isRecurring"], true);

    json changed = helper.ask({{"cmd", "update"},
                               {"eventId", "series-1"},
                               {"occurrence", "2025-03-10T09:00:00Z"},
                               {"title", "Changed"},
                               {"start", "2025-03-10T12:00:00Z"},
                               {"end", "2025-03-10T13:00:00Z"}});
    EXPECT_EQ(changed["event"]["title"], "Changed");
    EXPECT_EQ(changed["event"]["occurrence"], "2025-03-10T09:00:00Z");
    EXPECT_EQ(
        helper.ask(
            {{"cmd", "delete"}, {"eventId", "series-1"}, {"occurrence", "2025-03-17T09:00:00Z"}}),
        json({{"ok", true}}));

    json month = helper.events(calendar, "2025-03-01", "2025-04-01");
    EXPECT_EQ(field(month, "title"), (std::vector<std::string>{"Series", "Changed", "Series"}));
    EXPECT_EQ(field(month, "start"),
              (std::vector<std::string>{"2025-03-03T09:00:00Z", "2025-03-10T12:00:00Z",
                                        "2025-03-24T09:00:00Z"}));
    EXPECT_EQ(field(month, "occurrence"),
              (std::vector<std::string>{"2025-03-03T09:00:00Z", "2025-03-10T09:00:00Z",
                                        "2025-03-24T09:00:00Z"}));

    // A reader in another zone sees the same occurrences.
    Helper tokyo("Asia/Tokyo");
    EXPECT_EQ(tokyo.events(calendar, "2025-03-01", "2025-04-01"), month);

    // The changed occurrence is still found by its place in the series, and changed again.
    changed = helper.ask({{"cmd", "update"},
                          {"eventId", "series-1"},
                          {"occurrence", "2025-03-10T09:00:00Z"},
                          {"location", "Room 4"}});
    EXPECT_EQ(changed["event"]["title"], "Changed");
    EXPECT_EQ(changed["event"]["location"], "Room 4");
    EXPECT_EQ(
        helper.ask(
            {{"cmd", "delete"}, {"eventId", "series-1"}, {"occurrence", "2025-03-17T09:00:00Z"}}),
        json({{"error", "event not found: series-1"}}));

    // One occurrence moved to another calendar leaves its series and stands alone there.
    json moved = helper.ask({{"cmd", "update"},
                             {"eventId", "series-1"},
                             {"occurrence", "2025-03-24T09:00:00Z"},
                             {"calendarId", other}})["event"];
    EXPECT_EQ(moved["calendarId"], other);
    EXPECT_NE(moved["id"], "series-1");
    EXPECT_EQ(moved["isRecurring"], false);
    EXPECT_EQ(field(helper.events(other, "2025-03-01", "2025-04-01"), "start"),
              (std::vector<std::string>{"2025-03-24T09:00:00Z"}));
    EXPECT_EQ(field(helper.events(calendar, "2025-03-01", "2025-04-01"), "start"),
              (std::vector<std::string>{"2025-03-03T09:00:00Z", "2025-03-10T12:00:00Z"}));
    EXPECT_TRUE(eds.removeSource(other));

    // EDS holds the series with its rule, one exception and one changed occurrence in Berlin time.
    auto stored = storedComponents(eds, calendar, "series-1");
    ASSERT_EQ(stored.size(), 2u);
    std::string all = stored[0] + stored[1];
    EXPECT_NE(all.find("FREQ=WEEKLY;COUNT=4"), std::string::npos) << all;
    EXPECT_NE(
        all.find("EXDATE;TZID=/freeassociation.sourceforge.net/Europe/Berlin:20250317T100000"),
        std::string::npos)
        << all;
    EXPECT_NE(
        all.find(
            "RECURRENCE-ID;TZID=/freeassociation.sourceforge.net/Europe/Berlin:20250310T100000"),
        std::string::npos)
        << all;
    EXPECT_TRUE(eds.removeSource(calendar));
}

// A series written in UTC keeps its exceptions in UTC, so readers in every zone agree.
TEST(EdsEvents, UtcSeriesExceptionsHoldInEveryZone) {
    EdsFixture eds;
    std::string calendar = eds.addSource("Utc");
    ASSERT_FALSE(calendar.empty());
    ASSERT_EQ(
        eds.addComponent(calendar, vevent("utc-1",
                                          "DTSTART:20250303T090000Z\r\nDTEND:20250303T093000Z\r\n"
                                          "RRULE:FREQ=WEEKLY;COUNT=3\r\nSUMMARY:Utc\r\n")),
        "utc-1");
    {
        Helper tokyo("Asia/Tokyo");
        EXPECT_EQ(
            tokyo.ask(
                {{"cmd", "delete"}, {"eventId", "utc-1"}, {"occurrence", "2025-03-10T09:00:00Z"}}),
            json({{"ok", true}}));
        EXPECT_EQ(tokyo.ask({{"cmd", "update"},
                             {"eventId", "utc-1"},
                             {"occurrence", "2025-03-17T09:00:00Z"},
                             {"title", "Moved"}})["event"]["title"],
                  "Moved");
    }
    Helper phoenix("America/Phoenix");
    json events = phoenix.events(calendar, "2025-03-01", "2025-04-01");
    EXPECT_EQ(field(events, "occurrence"),
              (std::vector<std::string>{"2025-03-03T09:00:00Z", "2025-03-17T09:00:00Z"}));
    EXPECT_EQ(field(events, "title"), (std::vector<std::string>{"Utc", "Moved"}));

    // The changed occurrence goes as a whole: no stray copy of it stays behind.
    EXPECT_EQ(
        phoenix.ask(
            {{"cmd", "delete"}, {"eventId", "utc-1"}, {"occurrence", "2025-03-17T09:00:00Z"}}),
        json({{"ok", true}}));
    EXPECT_EQ(field(phoenix.events(calendar, "2025-03-01", "2025-04-01"), "occurrence"),
              (std::vector<std::string>{"2025-03-03T09:00:00Z"}));
    EXPECT_EQ(storedComponents(eds, calendar, "utc-1").size(), 1u);
    EXPECT_TRUE(eds.removeSource(calendar));
}

// Occurrences at 00:30 and 23:30 local time must fall on the right side of windows that start
// and end at local midnight, east and west of UTC alike.
TEST(EdsEvents, WindowEdgesHoldEastAndWestOfUtc) {
    EdsFixture eds;
    std::string calendar = eds.addSource("Edges");
    ASSERT_FALSE(calendar.empty());
    struct Zone {
        const char* name;
        int offsetHours;
    };
    for (Zone zone : {Zone{"Asia/Tokyo", 9}, Zone{"America/Phoenix", -7}}) {
        SCOPED_TRACE(zone.name);
        // Local Monday 3 March 00:30 and Sunday 2 March 23:30, weekly, written in UTC.
        auto utc = [&](int day, int hour, int minute) {
            GDateTime* local = g_date_time_new_utc(2025, 3, day, hour, minute, 0);
            GDateTime* shifted = g_date_time_add_hours(local, -zone.offsetHours);
            gchar* text = g_date_time_format(shifted, "%Y%m%dT%H%M%SZ");
            std::string result = text;
            g_free(text);
            g_date_time_unref(shifted);
            g_date_time_unref(local);
            return result;
        };
        std::string early = std::string("early-") + zone.name,
                    late = std::string("late-") + zone.name;
        ASSERT_EQ(
            eds.addComponent(
                calendar, vevent(early, "DTSTART:" + utc(3, 0, 30) + "\r\nDTEND:" + utc(3, 1, 0) +
                                            "\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\nSUMMARY:early\r\n")),
            early);
        ASSERT_EQ(
            eds.addComponent(
                calendar, vevent(late, "DTSTART:" + utc(2, 23, 30) + "\r\nDTEND:" + utc(2, 23, 45) +
                                           "\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\nSUMMARY:late\r\n")),
            late);

        Helper helper(zone.name);
        json events = helper.events(calendar, "2025-03-03", "2025-03-17");
        // 2 March 23:30 lies just before the window, 17 March 00:30 just after it.
        std::vector<std::string> expected = {utc(3, 0, 30), utc(9, 23, 30), utc(10, 0, 30),
                                             utc(16, 23, 30)};
        std::vector<std::string> starts;
        for (const auto& event : events) {
            if (event["id"] != early && event["id"] != late) continue;
            std::string start = event["start"];
            starts.push_back(start.substr(0, 4) + start.substr(5, 2) + start.substr(8, 5) +
                             start.substr(14, 2) + start.substr(17, 2) + "Z");
        }
        EXPECT_EQ(starts, expected) << events.dump();
    }
    EXPECT_TRUE(eds.removeSource(calendar));
}

TEST(EdsEvents, AllDayEventsCoverLocalDays) {
    EdsFixture eds;
    std::string calendar = eds.addSource("Days");
    ASSERT_FALSE(calendar.empty());
    ASSERT_EQ(eds.addComponent(calendar, vevent("day-1",
                                                "DTSTART;VALUE=DATE:20250305\r\n"
                                                "DTEND;VALUE=DATE:20250306\r\nSUMMARY:Day\r\n")),
              "day-1");
    Helper helper("Asia/Tokyo");
    json events = helper.events(calendar, "2025-03-05", "2025-03-06");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["isAllDay"], true);
    EXPECT_EQ(events[0]["start"], "2025-03-04T15:00:00Z");
    EXPECT_EQ(events[0]["end"], "2025-03-05T15:00:00Z");
    EXPECT_TRUE(helper.events(calendar, "2025-03-06", "2025-03-07").empty());

    json created = helper.ask({{"cmd", "create"},
                               {"calendarId", calendar},
                               {"start", "2025-03-07"},
                               {"isAllDay", true},
                               {"title", "Off"}});
    EXPECT_EQ(created["event"]["start"], "2025-03-06T15:00:00Z");
    EXPECT_EQ(created["event"]["end"], "2025-03-07T15:00:00Z");
    auto stored = storedComponents(eds, calendar, created["event"]["id"]);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_NE(stored[0].find("DTSTART;VALUE=DATE:20250307"), std::string::npos) << stored[0];
    EXPECT_NE(stored[0].find("DTEND;VALUE=DATE:20250308"), std::string::npos) << stored[0];
    EXPECT_TRUE(eds.removeSource(calendar));
}

TEST(EdsEvents, CreatesUpdatesAndDeletesSingleEvents) {
    EdsFixture eds;
    std::string calendar = eds.addSource("Plain");
    std::string other = eds.addSource("Other");
    ASSERT_FALSE(calendar.empty());
    Helper helper("Europe/Berlin");
    json created = helper.ask({{"cmd", "create"},
                               {"calendarId", calendar},
                               {"start", "2025-03-03T09:00:00Z"},
                               {"title", "Plan"},
                               {"notes", "n"},
                               {"location", "L"},
                               {"url", "https://example.org/p"},
                               {"availability", 1}})["event"];
    std::string id = created["id"];
    EXPECT_EQ(helper.events(calendar, "2025-03-03", "2025-03-04"), json::array({created}));

    json updated = helper.ask({{"cmd", "update"},
                               {"eventId", id},
                               {"url", ""},
                               {"availability", 2},
                               {"calendarId", other}})["event"];
    EXPECT_EQ(updated["calendarId"], other);
    EXPECT_FALSE(updated.contains("url"));
    EXPECT_TRUE(helper.events(calendar, "2025-03-03", "2025-03-04").empty());
    json moved = helper.events(other, "2025-03-03", "2025-03-04");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved, json::array({updated}));
    EXPECT_EQ(moved[0]["id"], id);
    EXPECT_EQ(moved[0]["availability"], 2);
    EXPECT_EQ(moved[0]["notes"], "n");

    EXPECT_EQ(helper.ask({{"cmd", "delete"}, {"eventId", id}}), json({{"ok", true}}));
    EXPECT_TRUE(helper.events(other, "2025-03-01", "2025-04-01").empty());
    EXPECT_EQ(helper.ask({{"cmd", "delete"}, {"eventId", id}}),
              json({{"error", "event not found: " + id}}));
    EXPECT_TRUE(eds.removeSource(calendar));
    EXPECT_TRUE(eds.removeSource(other));
}

// Ends that lie beyond the years an instant can hold (about 1678 to 2261) are left out, at both
// ends and for single events and occurrences alike; they never wrap around to another century.
TEST(EdsEvents, EndsBeyondTheYearsAnInstantHoldsAreLeftOut) {
    EdsFixture eds;
    std::string calendar = eds.addSource("Far");
    ASSERT_FALSE(calendar.empty());
    ASSERT_FALSE(eds.addComponent(calendar, vevent("far-1",
                                                   "DTSTART:22500101T100000Z\r\n"
                                                   "DURATION:P9000D\r\nSUMMARY:Far\r\n"))
                     .empty());
    ASSERT_FALSE(eds.addComponent(calendar, vevent("far-2",
                                                   "DTSTART:22550101T100000Z\r\n"
                                                   "DTEND:22600101T100000Z\r\n"
                                                   "RRULE:FREQ=YEARLY;COUNT=5\r\n"
                                                   "SUMMARY:Far series\r\n"))
                     .empty());
    // Nearly the whole range long: the span itself no longer fits in an instant's count.
    std::string earlyCalendar = eds.addSource("Early");
    ASSERT_FALSE(earlyCalendar.empty());
    ASSERT_FALSE(eds.addComponent(earlyCalendar, vevent("early-1",
                                                        "DTSTART:16800101T100000Z\r\n"
                                                        "DTEND:22620301T100000Z\r\n"
                                                        "RRULE:FREQ=YEARLY;COUNT=2\r\n"
                                                        "SUMMARY:Early\r\n"))
                     .empty());

    Helper helper("UTC");
    json late = helper.events(calendar, "2250-01-01", "2262-04-01");
    ASSERT_EQ(late.size(), 6u) << late.dump();
    EXPECT_EQ(late[0]["id"], "far-1");
    EXPECT_EQ(late[0]["start"], "2250-01-01T10:00:00Z");
    EXPECT_FALSE(late[0].contains("end")) << late[0].dump();
    // Occurrences whose end fits keep it; the later ones have none.
    EXPECT_EQ(field(late, "end"),
              (std::vector<std::string>{"-", "2260-01-01T10:00:00Z", "2260-12-31T10:00:00Z",
                                        "2262-01-01T10:00:00Z", "-", "-"}));
    json early = helper.events(earlyCalendar, "1679-01-01", "1681-06-01");
    EXPECT_EQ(field(early, "start"),
              (std::vector<std::string>{"1680-01-01T10:00:00Z", "1681-01-01T10:00:00Z"}));
    EXPECT_EQ(field(early, "end")[0].substr(0, 5), "2262-") << early.dump();
    EXPECT_EQ(field(early, "end")[1], "-") << early.dump();
    EXPECT_TRUE(eds.removeSource(earlyCalendar));
    EXPECT_TRUE(eds.removeSource(calendar));
}

namespace {
constexpr const char* kBerlin = "/freeassociation.sourceforge.net/Europe/Berlin";

std::string berlinTime(const char* property, const char* local) {
    return std::string(property) + ";TZID=" + kBerlin + ":" + local + "\r\n";
}
}  // namespace

// An event written in Berlin time by another program stays in Berlin time: an update that
// leaves the times alone leaves them as written, new times are written in the event's zone, and
// a new event gets the helper's own zone, as Evolution does.
TEST(EdsEvents, UpdatesKeepTheZoneTheEventWasWrittenIn) {
    EdsFixture eds;
    std::string calendar = eds.addSource("Zoned");
    ASSERT_FALSE(calendar.empty());
    {
        std::unique_ptr<ECalClient, Unref> client(eds.connect(calendar));
        ASSERT_TRUE(client &&
                    e_cal_client_add_timezone_sync(
                        client.get(), i_cal_timezone_get_builtin_timezone("Europe/Berlin"), nullptr,
                        nullptr));
    }
    ASSERT_FALSE(
        eds.addComponent(calendar, vevent("zoned-1", berlinTime("DTSTART", "20300610T100000") +
                                                         berlinTime("DTEND", "20300610T110000") +
                                                         "SUMMARY:Zoned\r\n"))
            .empty());
    ASSERT_FALSE(
        eds.addComponent(calendar, vevent("zoned-2", berlinTime("DTSTART", "20300304T100000") +
                                                         berlinTime("DTEND", "20300304T103000") +
                                                         "RRULE:FREQ=WEEKLY;COUNT=6\r\n"
                                                         "SUMMARY:Weekly\r\n"))
            .empty());
    auto storedText = [&](const std::string& uid) {
        std::string all;
        for (const auto& text : storedComponents(eds, calendar, uid)) all += text;
        return all;
    };

    Helper helper("UTC");
    EXPECT_EQ(
        helper.ask(
            {{"cmd", "update"}, {"eventId", "zoned-1"}, {"title", "Renamed"}})["event"]["start"],
        "2030-06-10T08:00:00Z");
    std::string text = storedText("zoned-1");
    EXPECT_NE(text.find("SUMMARY:Renamed"), std::string::npos) << text;
    EXPECT_NE(text.find(berlinTime("DTSTART", "20300610T100000")), std::string::npos) << text;
    EXPECT_NE(text.find(berlinTime("DTEND", "20300610T110000")), std::string::npos) << text;

    // A new end only: the start stays as written, the end is written in Berlin time.
    helper.ask({{"cmd", "update"}, {"eventId", "zoned-1"}, {"end", "2030-06-10T10:00:00Z"}});
    text = storedText("zoned-1");
    EXPECT_NE(text.find(berlinTime("DTSTART", "20300610T100000")), std::string::npos) << text;
    EXPECT_NE(text.find(berlinTime("DTEND", "20300610T120000")), std::string::npos) << text;

    // One occurrence of the weekly series, renamed, and another one moved by an hour.
    helper.ask({{"cmd", "update"},
                {"eventId", "zoned-2"},
                {"occurrence", "2030-03-11T09:00:00Z"},
                {"title", "Renamed once"}});
    helper.ask({{"cmd", "update"},
                {"eventId", "zoned-2"},
                {"occurrence", "2030-04-01T08:00:00Z"},
                {"start", "2030-04-01T09:00:00Z"},
                {"end", "2030-04-01T09:30:00Z"}});
    text = storedText("zoned-2");
    EXPECT_EQ(text.find("DTSTART:2030"), std::string::npos) << text;
    EXPECT_NE(text.find(berlinTime("DTSTART", "20300311T100000")), std::string::npos) << text;
    EXPECT_NE(text.find(berlinTime("DTSTART", "20300401T110000")), std::string::npos) << text;
    // Across the change to summer time the series keeps its wall-clock time.
    EXPECT_EQ(field(helper.events(calendar, "2030-03-01", "2030-05-01"), "start"),
              (std::vector<std::string>{"2030-03-04T09:00:00Z", "2030-03-11T09:00:00Z",
                                        "2030-03-18T09:00:00Z", "2030-03-25T09:00:00Z",
                                        "2030-04-01T09:00:00Z", "2030-04-08T08:00:00Z"}));

    // Created by a helper that runs in Berlin: written in Berlin time, read back the same.
    Helper berlin("Europe/Berlin");
    json created = berlin.ask({{"cmd", "create"},
                               {"calendarId", calendar},
                               {"title", "New"},
                               {"start", "2030-06-12T08:00:00Z"},
                               {"end", "2030-06-12T09:00:00Z"}})["event"];
    text = storedText(created["id"].get<std::string>());
    EXPECT_NE(text.find("Europe/Berlin:20300612T100000"), std::string::npos) << text;
    EXPECT_EQ(helper.ask({{"cmd", "events"},
                          {"from", "2030-06-12"},
                          {"to", "2030-06-13"},
                          {"calendars", {calendar}}})["events"][0]["start"],
              "2030-06-12T08:00:00Z");
    EXPECT_TRUE(eds.removeSource(calendar));
}

// A move whose removal of the original fails leaves the event where it was, once, and says so.
// Here the removal misses a detached occurrence whose start is written in another zone than
// its place in the series.
TEST(EdsEvents, MoveThatCannotRemoveTheOriginalLeavesOneCopy) {
    EdsFixture eds;
    std::string from = eds.addSource("Invitations");
    std::string to = eds.addSource("Mine");
    ASSERT_FALSE(from.empty() || to.empty());
    {
        std::unique_ptr<ECalClient, Unref> client(eds.connect(from));
        ASSERT_TRUE(client &&
                    e_cal_client_add_timezone_sync(
                        client.get(), i_cal_timezone_get_builtin_timezone("Europe/Berlin"), nullptr,
                        nullptr));
    }
    ASSERT_FALSE(
        eds.addComponent(from, vevent("invite-1", berlinTime("RECURRENCE-ID", "20300610T100000") +
                                                      "DTSTART:20300610T090000Z\r\n"
                                                      "DTEND:20300610T100000Z\r\n"
                                                      "SUMMARY:Invited\r\n"))
            .empty());

    Helper helper("UTC");
    json reply = helper.ask({{"cmd", "update"},
                             {"eventId", "invite-1"},
                             {"occurrence", "2030-06-10T08:00:00Z"},
                             {"calendarId", to}});
    json inFrom = helper.events(from, "2030-06-01", "2030-07-01");
    json inTo = helper.events(to, "2030-06-01", "2030-07-01");
    EXPECT_EQ(inFrom.size() + inTo.size(), 1u) << reply.dump() << inFrom.dump() << inTo.dump();
    if (reply.contains("error"))
        EXPECT_EQ(inFrom.size(), 1u);
    else
        EXPECT_EQ(inTo.size(), 1u);
    EXPECT_TRUE(eds.removeSource(from));
    EXPECT_TRUE(eds.removeSource(to));
}

// More series than libecal answers side by side, each with changed occurrences: one moved out of
// the window, one moved within it. Every series keeps its own, and none gets another's.
TEST(EdsEvents, ListsManySeriesEachWithItsOwnChangedOccurrences) {
    EdsFixture eds;
    std::string calendar = eds.addSource("Many series");
    ASSERT_FALSE(calendar.empty());
    std::unique_ptr<ECalClient, Unref> client(eds.connect(calendar));
    ASSERT_TRUE(client);
    auto at = [](int month, int day, int hour, int minute) {
        char text[32];
        std::snprintf(text, sizeof text, "2025%02d%02dT%02d%02d00Z", month, day, hour, minute);
        return std::string(text);
    };
    auto iso = [](const std::string& ical) {
        return ical.substr(0, 4) + "-" + ical.substr(4, 2) + "-" + ical.substr(6, 2) + "T" +
               ical.substr(9, 2) + ":" + ical.substr(11, 2) + ":" + ical.substr(13, 2) + "Z";
    };
    // One occurrence changed on its own, as another program writes it.
    auto change = [&](const std::string& uid, const std::string& lines) {
        std::unique_ptr<ICalComponent, Unref> component(
            i_cal_component_new_from_string(vevent(uid, lines).c_str()));
        return component &&
               e_cal_client_modify_object_sync(client.get(), component.get(), E_CAL_OBJ_MOD_THIS,
                                               E_CAL_OPERATION_FLAG_NONE, nullptr, nullptr);
    };
    std::vector<std::string> expected;
    for (int n = 0; n < 40; ++n) {
        const std::string uid = "many-" + std::to_string(n);
        const std::string title = "Series " + std::to_string(n);
        ASSERT_EQ(eds.addComponent(calendar, vevent(uid, "DTSTART:" + at(3, 3, 9, n) +
                                                             "\r\nDTEND:" + at(3, 3, 10, n) +
                                                             "\r\nRRULE:FREQ=WEEKLY;COUNT=4\r\n"
                                                             "SUMMARY:" +
                                                             title + "\r\n")),
                  uid);
        for (int day : {3, 10, 17, 24}) {
            if (day == 10 && n % 2 == 0) {
                ASSERT_TRUE(change(
                    uid, "RECURRENCE-ID:" + at(3, 10, 9, n) + "\r\nDTSTART:" + at(5, 5, 9, n) +
                             "\r\nDTEND:" + at(5, 5, 10, n) + "\r\nSUMMARY:Away\r\n"));
            } else if (day == 17 && n % 5 == 0) {
                ASSERT_TRUE(change(
                    uid, "RECURRENCE-ID:" + at(3, 17, 9, n) + "\r\nDTSTART:" + at(3, 18, 9, n) +
                             "\r\nDTEND:" + at(3, 18, 10, n) + "\r\nSUMMARY:Moved\r\n"));
                expected.push_back(uid + " " + iso(at(3, 18, 9, n)) + " " + iso(at(3, 17, 9, n)) +
                                   " Moved");
            } else {
                expected.push_back(uid + " " + iso(at(3, day, 9, n)) + " " + iso(at(3, day, 9, n)) +
                                   " " + title);
            }
        }
    }

    Helper helper("UTC");
    json listed = helper.events(calendar, "2025-03-01", "2025-04-01");
    std::vector<std::string> got;
    for (const auto& event : listed)
        got.push_back(event.value("id", "") + " " + event.value("start", "") + " " +
                      event.value("occurrence", "") + " " + event.value("title", ""));
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(eds.removeSource(calendar));
}

// What other programs write beyond a plain start and end reads as they meant it: an end given
// as a duration (a date plus hours becomes a time), a zone the calendar defines itself,
// "out of office" as Outlook marks it, attendees by name or address.
TEST(EdsEvents, ReadsDurationsOwnZonesAvailabilityAndAttendeesAsWritten) {
    EdsFixture eds;
    std::string calendar = eds.addSource("As written");
    ASSERT_FALSE(calendar.empty());
    {
        std::unique_ptr<ECalClient, Unref> client(eds.connect(calendar));
        std::unique_ptr<ICalComponent, Unref> definition(i_cal_component_new_from_string(
            "BEGIN:VTIMEZONE\r\nTZID:Custom/Plus3\r\nBEGIN:STANDARD\r\n"
            "DTSTART:19700101T000000\r\nTZOFFSETFROM:+0300\r\nTZOFFSETTO:+0300\r\n"
            "TZNAME:P3\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"));
        std::unique_ptr<ICalTimezone, Unref> zone(i_cal_timezone_new());
        ASSERT_TRUE(client && definition &&
                    i_cal_timezone_set_component(zone.get(), definition.get()) &&
                    e_cal_client_add_timezone_sync(client.get(), zone.get(), nullptr, nullptr));
    }
    for (const auto& [uid, lines] : std::vector<std::pair<std::string, std::string>>{
             {"timed", "DTSTART:20250318T090000Z\r\nDURATION:PT1H30M\r\n"},
             {"day-and-hours", "DTSTART;VALUE=DATE:20250320\r\nDURATION:P1DT5H\r\n"},
             {"backwards", "DTSTART:20250321T090000Z\r\nDURATION:-PT1H\r\n"},
             {"zero", "DTSTART:20250321T120000Z\r\nDURATION:PT0S\r\n"},
             {"own-zone",
              "DTSTART;TZID=Custom/Plus3:20250312T090000\r\n"
              "DTEND;TZID=Custom/Plus3:20250312T093000\r\n"
              "X-OTHER:1\r\nX-MICROSOFT-CDO-BUSYSTATUS:oof\r\n"},
             {"free",
              "DTSTART:20250313T090000Z\r\nDTEND:20250313T100000Z\r\nTRANSP:TRANSPARENT\r\n"},
             {"maybe",
              "DTSTART:20250313T110000Z\r\nDTEND:20250313T120000Z\r\nSTATUS:TENTATIVE\r\n"},
             {"meeting",
              "DTSTART:20250324T090000Z\r\nDTEND:20250324T100000Z\r\n"
              "ATTENDEE;CN=Ana Lopez:mailto:ana@example.org\r\n"
              "ATTENDEE:mailto:bob@example.org\r\n"
              "ATTENDEE;CN=\"Lee, Kim\";ROLE=CHAIR:mailto:kim@example.org\r\n"
              "DESCRIPTION:First\r\nDESCRIPTION:Second\r\nLOCATION:Room\\n2\r\n"
              "URL:https://example.org/meeting\r\n"}})
        ASSERT_EQ(eds.addComponent(calendar, vevent(uid, lines + "SUMMARY:" + uid + "\r\n")), uid);

    Helper helper("Europe/Berlin");
    std::map<std::string, json> events;
    for (const auto& event : helper.events(calendar, "2025-03-01", "2025-04-01"))
        events[event.value("id", "")] = event;
    ASSERT_EQ(events.size(), 8u);
    EXPECT_EQ(events["timed"]["end"], "2025-03-18T10:30:00Z");
    EXPECT_EQ(events["day-and-hours"]["isAllDay"], true);
    EXPECT_EQ(events["day-and-hours"]["start"], "2025-03-19T23:00:00Z");
    EXPECT_EQ(events["day-and-hours"]["end"], "2025-03-21T04:00:00Z");
    EXPECT_EQ(events["backwards"]["end"], "2025-03-21T09:00:00Z");
    EXPECT_FALSE(events["zero"].contains("end")) << events["zero"].dump();
    EXPECT_EQ(events["own-zone"]["start"], "2025-03-12T06:00:00Z");
    EXPECT_EQ(events["own-zone"]["end"], "2025-03-12T06:30:00Z");
    EXPECT_EQ(events["own-zone"]["availability"], 3);
    EXPECT_EQ(events["free"]["availability"], 1);
    EXPECT_EQ(events["maybe"]["availability"], 2);
    EXPECT_EQ(events["timed"]["availability"], 0);
    EXPECT_EQ(events["meeting"]["attendees"],
              json::array({"Ana Lopez", "mailto:bob@example.org", "Lee, Kim"}));
    EXPECT_EQ(events["meeting"]["notes"], "First");
    EXPECT_EQ(events["meeting"]["location"], "Room\n2");
    EXPECT_EQ(events["meeting"]["url"], "https://example.org/meeting");
    EXPECT_FALSE(events["timed"].contains("attendees"));
    EXPECT_TRUE(eds.removeSource(calendar));
}

}  // namespace
}  // namespace lumory::testsupport
