// Events on a calendar synced with a CalDAV server (Radicale, started here) through the built
// lumory-cal on a private Evolution Data Server (run under tests/support/eds_session.sh). The
// server is read back over HTTP, as another device syncing the same calendar would read it.

#include <gtest/gtest.h>

#include <thread>

#include "eds/caldav_server.h"
#include "helper_client.h"

namespace lumory::testsupport {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kCollection = "/user/calendar/";

// An event that another device put on the server before this one synced.
constexpr const char* kStandup =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\nUID:standup\r\n"
    "DTSTAMP:20250101T000000Z\r\nDTSTART:20250303T090000Z\r\nDTEND:20250303T093000Z\r\n"
    "SUMMARY:Standup\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";

// A server holding the standup and an EDS calendar syncing it.
struct SyncedCalendar {
    CaldavServer server;
    EdsFixture eds;
    std::string id;

    SyncedCalendar() {
        EXPECT_TRUE(server.running()) << "radicale did not start";
        EXPECT_TRUE(server.makeCalendar(kCollection));
        EXPECT_EQ(
            server
                .request("PUT", std::string(kCollection) + "standup.ics", kStandup, "text/calendar")
                .status,
            201u);
        id = addRemoteSource(eds.registry(), "Team", server.url(kCollection), "caldav",
                             "caldav-stub");
        EXPECT_FALSE(id.empty());
    }
    ~SyncedCalendar() {
        if (!id.empty()) EXPECT_TRUE(eds.removeSource(id));
    }

    // The server's copy of one event (its VEVENT, lines unfolded), empty when it has none.
    std::string onServer(const std::string& uid) {
        auto reply = server.request("GET", kCollection);
        EXPECT_EQ(reply.status, 200u);
        std::string text = reply.body;
        for (size_t at; (at = text.find("\r\n ")) != std::string::npos;) text.erase(at, 3);
        for (size_t begin = text.find("BEGIN:VEVENT"); begin != std::string::npos;
             begin = text.find("BEGIN:VEVENT", begin + 1)) {
            std::string event = text.substr(begin, text.find("END:VEVENT", begin) - begin);
            if (event.find("\r\nUID:" + uid + "\r\n") != std::string::npos) return event;
        }
        return {};
    }
};

// EDS fetches the calendar in the background after it is first opened.
json eventsOnceSynced(HelperClient& helper, const std::string& calendar) {
    json listed;
    for (int attempt = 0; attempt < 80 && listed.empty(); ++attempt) {
        listed = helper.events(calendar, "2025-03-01", "2025-04-01");
        if (listed.empty()) std::this_thread::sleep_for(250ms);
    }
    return listed;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(CaldavCalendar, ListsAndWritesThroughToTheServer) {
    SyncedCalendar team;
    ASSERT_FALSE(team.id.empty());
    HelperClient helper("UTC");

    json calendars = helper.ask({{"cmd", "calendars"}})["calendars"];
    json calendar;
    for (const auto& entry : calendars)
        if (entry["id"] == team.id) calendar = entry;
    EXPECT_EQ(calendar["title"], "Team");
    EXPECT_EQ(calendar["source"], "CalDAV");
    EXPECT_EQ(calendar["sourceType"], "caldav");
    EXPECT_EQ(calendar["writable"], true);

    json listed = eventsOnceSynced(helper, team.id);
    ASSERT_EQ(listed.size(), 1u) << listed.dump();
    EXPECT_EQ(listed[0]["id"], "standup");
    EXPECT_EQ(listed[0]["start"], "2025-03-03T09:00:00Z");
    EXPECT_EQ(listed[0]["writable"], true);

    json created = helper.ask({{"cmd", "create"},
                               {"calendarId", team.id},
                               {"title", "Review"},
                               {"start", "2025-03-04T10:00:00Z"},
                               {"end", "2025-03-04T11:00:00Z"}})["event"];
    const std::string review = created.value("id", "");
    ASSERT_FALSE(review.empty()) << created.dump();
    std::string stored = team.onServer(review);
    EXPECT_TRUE(has(stored, "\r\nSUMMARY:Review\r\n")) << stored;
    EXPECT_TRUE(has(stored, "\r\nDTSTART:20250304T100000Z\r\n")) << stored;

    json moved = helper.ask({{"cmd", "update"},
                             {"eventId", review},
                             {"title", "Review, moved"},
                             {"start", "2025-03-05T14:00:00Z"},
                             {"end", "2025-03-05T15:00:00Z"}})["event"];
    EXPECT_EQ(moved["start"], "2025-03-05T14:00:00Z");
    stored = team.onServer(review);
    EXPECT_TRUE(has(stored, "\r\nSUMMARY:Review\\, moved\r\n")) << stored;
    EXPECT_TRUE(has(stored, "\r\nDTSTART:20250305T140000Z\r\n")) << stored;
    EXPECT_TRUE(has(stored, "\r\nDTEND:20250305T150000Z\r\n")) << stored;

    // The other device's event is as much ours to change.
    EXPECT_EQ(helper.ask({{"cmd", "update"},
                          {"eventId", "standup"},
                          {"location", "Room 4"}})["event"]["location"],
              "Room 4");
    stored = team.onServer("standup");
    EXPECT_TRUE(has(stored, "\r\nLOCATION:Room 4\r\n")) << stored;
    EXPECT_TRUE(has(stored, "\r\nSUMMARY:Standup\r\n")) << stored;

    EXPECT_EQ(helper.ask({{"cmd", "delete"}, {"eventId", "standup"}}), json({{"ok", true}}));
    EXPECT_EQ(helper.ask({{"cmd", "delete"}, {"eventId", review}}), json({{"ok", true}}));
    EXPECT_EQ(team.onServer("standup"), "");
    EXPECT_EQ(team.onServer(review), "");
    EXPECT_EQ(helper.events(team.id, "2025-03-01", "2025-04-01"), json::array());
}

// With the server gone, EDS cannot connect and says so at once: every write is refused with
// that reason (within the helper's reply limit, far below EDS's 90 s time-out for a server that
// accepts but never answers), nothing is kept as if written, and the server, once back, holds
// what it held and takes writes again.
TEST(CaldavCalendar, WritesToAStoppedServerFailWithTheReasonAndChangeNothing) {
    SyncedCalendar team;
    ASSERT_FALSE(team.id.empty());
    HelperClient helper("UTC");
    json before = eventsOnceSynced(helper, team.id);
    ASSERT_EQ(before.size(), 1u) << before.dump();

    team.server.stop();
    const std::vector<json> writes = {
        {{"cmd", "create"}, {"calendarId", team.id}, {"title", "Lost"}, {"start", "2025-03-06"}},
        {{"cmd", "update"}, {"eventId", "standup"}, {"title", "Renamed"}},
        {{"cmd", "delete"}, {"eventId", "standup"}},
    };
    for (const json& write : writes) {
        json reply = helper.ask(write);
        ASSERT_TRUE(reply.contains("error")) << write.dump() << " -> " << reply.dump();
        EXPECT_EQ(reply.size(), 1u) << reply.dump();
        EXPECT_TRUE(has(reply["error"].get<std::string>(), "127.0.0.1")) << reply.dump();
    }
    EXPECT_EQ(helper.events(team.id, "2025-03-01", "2025-04-01"), before);
    EXPECT_EQ(helper.ask({{"cmd", "status"}}), json({{"status", "fullAccess"}}));

    ASSERT_TRUE(team.server.start());
    std::string stored = team.onServer("standup");
    EXPECT_TRUE(has(stored, "\r\nSUMMARY:Standup\r\n")) << stored;
    auto reply = team.server.request("GET", kCollection);
    EXPECT_FALSE(has(reply.body, "Lost")) << reply.body;

    json created = helper.ask({{"cmd", "create"},
                               {"calendarId", team.id},
                               {"title", "Back"},
                               {"start", "2025-03-07T08:00:00Z"}})["event"];
    ASSERT_TRUE(created.contains("id")) << created.dump();
    EXPECT_TRUE(has(team.onServer(created["id"]), "\r\nSUMMARY:Back\r\n"));
    EXPECT_EQ(helper.events(team.id, "2025-03-01", "2025-04-01").size(), 2u);
}

}  // namespace
}  // namespace lumory::testsupport
