// Calendar and event listing, the event object and the occurrence lookup, over the memory store.

#include "events.h"
#include "calendar_values.h"
#include "command_fixture.h"
#include "local_zone.h"

namespace lumory::cal {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

class EventListing : public CommandFixture {
protected:
    EventListing() {
        work.colorComponents = std::vector<double>{1.0, 0.5, 0.0};
        store.addCalendar(EntityType::event, work);
        store.addCalendar(EntityType::event, home);
        store.addCalendar(EntityType::reminder, errands);
    }

    Event event(std::string id, Instant start, const Calendar& calendar, std::string title = "") {
        Event e;
        e.identifier = std::move(id);
        e.title = std::move(title);
        e.calendar = calendar;
        e.startDate = start;
        e.endDate = start + 1h;
        return e;
    }

    std::vector<std::string> ids(const json& reply) {
        std::vector<std::string> result;
        for (const auto& item : reply.at("events")) result.push_back(item.at("title"));
        return result;
    }

    Calendar work = makeCalendar("cal-work", "Work", true, "Mail");
    Calendar home = makeCalendar("cal-home", "Home", false, "Mail");
    Calendar errands = makeCalendar("list-errands", "Errands");
};

TEST_F(EventListing, CalendarsAreSortedEncodedAndGuarded) {
    store.addCalendar(EntityType::event, makeCalendar("cal-family", "Family", true, "Cloud"));
    auto reply = run(listCalendars, {{"cmd", "calendars"}});
    std::vector<std::string> order;
    for (const auto& calendar : reply.at("calendars")) order.push_back(calendar.at("id"));
    EXPECT_EQ(order, (std::vector<std::string>{"cal-family", "cal-home", "cal-work"}));
    EXPECT_EQ(reply["calendars"][2]["color"], "#FF8000");
    EXPECT_FALSE(reply["calendars"][1].contains("color"));
    EXPECT_EQ(reply["calendars"][1]["writable"], false);

    store.setStatus(EntityType::event, 4);
    for (auto handler : {listCalendars, listEvents, createEvent, updateEvent, deleteEvent})
        EXPECT_EQ(error(handler, {{"from", "2025-03-01"},
                                  {"to", "2025-03-02"},
                                  {"start", "2025-03-01"},
                                  {"eventId", "x"}}),
                  "no calendar access: writeOnly");
    store.setStatus(EntityType::event, 9);
    EXPECT_EQ(error(listCalendars, json::object()), "no calendar access: unknown");
}

TEST_F(EventListing, EventObjectsCarryOnlyTheValuesTheEventHas) {
    Event bare = event("bare", utcInstant(2025, 3, 3, 9), work);
    bare.title.reset();
    Event full = event("full", utcInstant(2025, 3, 3, 10), home, "Full");
    full.notes = "";
    full.url = "https://example.org/x";
    full.location = "Room 1";
    full.lastModifiedDate = utcInstant(2025, 2, 1, 8, 0, 30);
    full.availability = kAvailabilityTentative;
    full.attendees =
        std::vector<Attendee>{{"Ann", "mailto:ann@example.org"}, {"", "mailto:bo@example.org"}};
    Event noList = event("no-list", utcInstant(2025, 3, 3, 11), work, "No list");
    noList.attendees = std::vector<Attendee>{};
    store.addEvent(bare);
    store.addEvent(full);
    store.addEvent(noList);

    auto reply =
        run(listEvents, {{"from", "2025-03-03T00:00:00Z"}, {"to", "2025-03-04T00:00:00Z"}});
    ASSERT_EQ(reply["events"].size(), 3u);
    EXPECT_EQ(reply["events"][0], json::parse(R"({"id":"bare","title":"","isAllDay":false,
        "calendarId":"cal-work","calendar":"Work","isRecurring":false,"writable":true,
        "availability":0,"start":"2025-03-03T09:00:00Z","end":"2025-03-03T10:00:00Z",
        "occurrence":"2025-03-03T09:00:00Z","color":"#FF8000"})"));
    const json& second = reply["events"][1];
    EXPECT_EQ(second["notes"], "");
    EXPECT_EQ(second["url"], "https://example.org/x");
    EXPECT_EQ(second["location"], "Room 1");
    EXPECT_EQ(second["lastModified"], "2025-02-01T08:00:30Z");
    EXPECT_EQ(second["availability"], 2);
    EXPECT_EQ(second["writable"], false);
    EXPECT_EQ(second["attendees"], json::parse(R"(["Ann","mailto:bo@example.org"])"));
    EXPECT_EQ(reply["events"][2]["attendees"], json::array());

    Event orphan = event("orphan", utcInstant(2025, 3, 3, 12), work);
    orphan.calendar.reset();
    json encoded = encode(orphan);
    EXPECT_EQ(encoded["calendarId"], "");
    EXPECT_EQ(encoded["writable"], false);
    EXPECT_FALSE(encoded.contains("color"));
}

TEST_F(EventListing, ListingTextMatchesTheEventObject) {
    Event odd =
        event("quote\"back\\slash", utcInstant(2025, 3, 3, 9), work, "tab\tnew\nline \x01 é ☃");
    odd.notes = "bad \xC3\x28 utf-8";
    odd.location = "";
    odd.attendees = std::vector<Attendee>{{"A \"B\"", "mailto:a@b"}, {"", "mailto:c@d"}};
    odd.lastModifiedDate = utcInstant(2025, 1, 1);
    Event bare = event("bare", utcInstant(2025, 3, 3, 10), work);
    bare.title.reset();
    bare.calendar.reset();
    bare.endDate.reset();
    // As a peer reads them: invalid UTF-8 replaced in both.
    auto onWire = [](const json& object) {
        return json::parse(object.dump(-1, ' ', false, json::error_handler_t::replace));
    };
    for (const Event& e : {odd, bare, event("plain", utcInstant(2025, 3, 3, 11), home, "Plain")})
        EXPECT_EQ(json::parse(encodeText(e)), onWire(encode(e))) << encodeText(e);

    store.addEvent(odd);
    for (const json& id : {json(nullptr), json("x\"y"), json::parse(R"({"n":[1,2.5,true]})")}) {
        capture.clear();
        listEvents(context, id, {{"from", "2025-03-01"}, {"to", "2025-04-01"}});
        auto replies = capture.replies();
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0]["id"], id);
        EXPECT_EQ(replies[0]["events"], json::array({onWire(encode(odd))}));
    }
    capture.clear();
    listEvents(context, std::nullopt, {{"from", "2025-03-01"}, {"to", "2025-04-01"}});
    EXPECT_FALSE(capture.replies().at(0).contains("id"));
}

TEST_F(EventListing, SortsStablyByStartAndFiltersByCalendar) {
    store.addEvent(event("1", utcInstant(2025, 3, 5, 9), work, "late"));
    store.addEvent(event("2", utcInstant(2025, 3, 3, 9), home, "early-home"));
    store.addEvent(event("3", utcInstant(2025, 3, 3, 9), work, "early-work"));
    store.addEvent(event("4", utcInstant(2025, 3, 4, 9), work, "middle"));
    store.addEvent(event("5", utcInstant(2025, 4, 4, 9), work, "outside"));

    json window = {{"from", "2025-03-01T00:00:00Z"}, {"to", "2025-03-10T00:00:00Z"}};
    EXPECT_EQ(ids(run(listEvents, window)),
              (std::vector<std::string>{"early-home", "early-work", "middle", "late"}));

    json onlyWork = window;
    onlyWork["calendars"] = {"cal-work", "nobody", "cal-work"};
    EXPECT_EQ(ids(run(listEvents, onlyWork)),
              (std::vector<std::string>{"early-work", "middle", "late"}));

    for (const json& none :
         {json::array(), json::array({"nobody"}), json::array({"list-errands"})}) {
        json request = window;
        request["calendars"] = none;
        EXPECT_EQ(run(listEvents, request), json({{"events", json::array()}})) << none;
    }
    // Anything but an array of strings searches everything.
    for (const json& ignored : {json("cal-work"), json::array({"cal-work", 3}), json(nullptr)}) {
        json request = window;
        request["calendars"] = ignored;
        EXPECT_EQ(run(listEvents, request)["events"].size(), 4u) << ignored;
    }
}

TEST_F(EventListing, NeedsBothEndsOfTheWindow) {
    const std::string message = "events needs `from` and `to`";
    EXPECT_EQ(error(listEvents, {{"to", "2025-03-02"}}), message);
    EXPECT_EQ(error(listEvents, {{"from", "2025-03-01"}}), message);
    EXPECT_EQ(error(listEvents, {{"from", 1740787200}, {"to", "2025-03-02"}}), message);
    EXPECT_EQ(error(listEvents, {{"from", "2025-03-01"}, {"to", "tomorrow"}}), message);

    LocalZone zone("America/New_York");
    store.addEvent(event("a", utcInstant(2025, 3, 1, 4, 30), work, "before local midnight"));
    store.addEvent(event("b", utcInstant(2025, 3, 1, 5, 30), work, "after local midnight"));
    auto reply = run(listEvents, {{"from", "2025-03-01"}, {"to", "2025-03-01T12:00:00Z"}});
    // The earlier event still overlaps local midnight (05:00Z) by half an hour.
    EXPECT_EQ(ids(reply),
              (std::vector<std::string>{"before local midnight", "after local midnight"}));
    reply = run(listEvents, {{"from", "2025-03-01T05:30:00Z"}, {"to", "2025-03-01T12:00:00Z"}});
    EXPECT_EQ(ids(reply), (std::vector<std::string>{"after local midnight"}));
}

TEST_F(EventListing, WindowCountsOverlapsAndInstantsAtItsStart) {
    Instant from = utcInstant(2025, 3, 3, 10), to = utcInstant(2025, 3, 3, 12);
    Event e = event("x", utcInstant(2025, 3, 3, 9), work);
    e.endDate = from;  // ends as the window starts
    EXPECT_FALSE(eventInWindow(e, from, to));
    e.endDate = from + 1s;
    EXPECT_TRUE(eventInWindow(e, from, to));
    e.startDate = to;
    e.endDate = to + 1h;  // starts as the window ends
    EXPECT_FALSE(eventInWindow(e, from, to));
    e.startDate = e.endDate = from;  // lasts no time at all
    EXPECT_TRUE(eventInWindow(e, from, to));
    e.startDate = e.endDate = to;
    EXPECT_FALSE(eventInWindow(e, from, to));
    e.startDate.reset();
    EXPECT_FALSE(eventInWindow(e, from, to));
}

TEST_F(EventListing, FindsOneOccurrenceWithinASecondAndADay) {
    Instant first = utcInstant(2025, 3, 3, 9), second = first + 7 * 24h;
    for (Instant when : {first, second}) {
        Event occurrence = event("weekly", when, work, "Weekly");
        occurrence.hasRecurrenceRules = true;
        occurrence.recurrenceDate = when;
        store.addEvent(occurrence);
    }
    auto found = findEvent(store, "weekly", second + 500ms);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->recurrenceDate, second);
    EXPECT_TRUE(findEvent(store, "weekly", second - 999ms));
    EXPECT_FALSE(findEvent(store, "weekly", second + 1s));
    EXPECT_FALSE(findEvent(store, "weekly", second + 3 * 24h));
    EXPECT_FALSE(findEvent(store, "other", second));
    auto byId = findEvent(store, "weekly", std::nullopt);
    ASSERT_TRUE(byId);
    EXPECT_EQ(byId->recurrenceDate, first);
}

}  // namespace
}  // namespace lumory::cal
