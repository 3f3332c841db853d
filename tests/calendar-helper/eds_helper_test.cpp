// The built lumory-cal against a private Evolution Data Server (run under eds_session.sh), and
// without one.

#include <gtest/gtest.h>
#include <unistd.h>

#include <signal.h>

#include <fstream>
#include <thread>

#include "eds/eds_fixture.h"
#include "helper_client.h"
#include "process/line_protocol_process.h"

namespace lumory::testsupport {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr auto kReplyLimit = 20s;
// A change notice may come up to the coalescing delay after EDS reports it.
constexpr auto kChangeLimit = 10s;

bool isChanged(const json& line) { return line == json({{"event", "changed"}}); }
auto hasId(json id) {
    return [id](const json& line) { return line.contains("id") && line["id"] == id; };
}

std::unique_ptr<LineProtocolProcess> startHelper(const std::vector<std::string>& environment = {},
                                                 bool clearEnvironment = false) {
    auto helper = std::make_unique<LineProtocolProcess>(std::vector<std::string>{helperUnderTest()},
                                                        environment, clearEnvironment);
    EXPECT_TRUE(helper->started());
    return helper;
}

// No session bus at all: nothing to fall back to, not even an autolaunched one. Not hosted by
// the desktop either: with no re-launch on Linux the helper serves in its own process.
std::vector<std::string> withoutSessionBus(const TemporaryDirectory& home) {
    return {"PATH=/usr/bin:/bin", "HOME=" + home.path(), "XDG_RUNTIME_DIR=" + home.path()};
}

TEST(EdsHelper, ServesStatusAndAccessOnARunningEds) {
    auto helper = startHelper({"LUMORY_DESKTOP=1"});
    EXPECT_EQ(helper->readJson(kReplyLimit), json({{"event", "ready"}, {"status", "fullAccess"}}));

    helper->writeLine(R"({"id":1,"cmd":"status"})");
    helper->writeLine(R"({"cmd":"reminders-status","id":"r"})");
    helper->writeLine(R"({"id":[2],"cmd":"auth"})");
    helper->writeLine(R"({"id":3,"cmd":"reminders-auth"})");
    std::vector<json> replies;
    for (int n = 0; n < 4; ++n) {
        auto reply = helper->readJsonUntil([](const json& l) { return l.contains("id"); }, kReplyLimit);
        ASSERT_TRUE(reply);
        replies.push_back(*reply);
    }
    EXPECT_EQ(replies[0], json({{"id", 1}, {"status", "fullAccess"}}));
    EXPECT_EQ(replies[1], json({{"id", "r"}, {"status", "fullAccess"}}));
    // The access answers come from the main loop; their order among themselves is free.
    std::vector<json> access(replies.begin() + 2, replies.end());
    std::sort(access.begin(), access.end(), [](const json& a, const json& b) { return a.dump() < b.dump(); });
    EXPECT_EQ(access[0], json({{"id", 3}, {"status", "fullAccess"}, {"granted", true}}));
    EXPECT_EQ(access[1], json({{"id", json::array({2})}, {"status", "fullAccess"}, {"granted", true}}));

    helper->closeInput();
    EXPECT_EQ(helper->waitForExit(kReplyLimit), 0);
}

TEST(EdsHelper, ReportsChangesMadeByOtherPrograms) {
    EdsFixture eds;
    ASSERT_NE(eds.registry(), nullptr);
    auto helper = startHelper({"LUMORY_DESKTOP=1"});
    ASSERT_TRUE(helper->readJson(kReplyLimit));

    // An event written straight into the personal calendar.
    ASSERT_FALSE(eds.addComponent(EdsFixture::kPersonalCalendar,
                                  "BEGIN:VEVENT\r\nUID:lumory-change-1\r\nSUMMARY:Dentist\r\n"
                                  "DTSTART:20300102T100000Z\r\nDTEND:20300102T110000Z\r\n"
                                  "END:VEVENT\r\n").empty());
    EXPECT_TRUE(helper->readJsonUntil(isChanged, kChangeLimit)) << "event added";

    // A task in the personal task list.
    ASSERT_FALSE(eds.addComponent(EdsFixture::kPersonalTaskList,
                                  "BEGIN:VTODO\r\nUID:lumory-change-2\r\nSUMMARY:Milk\r\n"
                                  "END:VTODO\r\n").empty());
    EXPECT_TRUE(helper->readJsonUntil(isChanged, kChangeLimit)) << "task added";

    // A new calendar, then an event in it: the helper watches calendars added while it runs.
    const std::string uid = eds.addSource("Team", false, "#3366ff");
    ASSERT_FALSE(uid.empty());
    EXPECT_TRUE(helper->readJsonUntil(isChanged, kChangeLimit)) << "calendar added";
    // Let the burst of the addition pass, so that the next notice is the event's own.
    while (helper->readJsonUntil(isChanged, 1s)) {
    }
    ASSERT_FALSE(eds.addComponent(uid, "BEGIN:VEVENT\r\nUID:lumory-change-3\r\nSUMMARY:Sync\r\n"
                                       "DTSTART:20300103T100000Z\r\nDTEND:20300103T103000Z\r\n"
                                       "END:VEVENT\r\n").empty());
    EXPECT_TRUE(helper->readJsonUntil(isChanged, kChangeLimit)) << "event in the new calendar";

    ASSERT_TRUE(eds.removeSource(uid));
    EXPECT_TRUE(helper->readJsonUntil(isChanged, kChangeLimit)) << "calendar removed";

    helper->closeInput();
    EXPECT_EQ(helper->waitForExit(kReplyLimit), 0);
}

TEST(EdsHelper, KeepsReportingChangesAfterTheCalendarFactoryRestarts) {
    EdsFixture eds;
    ASSERT_NE(eds.registry(), nullptr);
    auto helper = startHelper({"LUMORY_DESKTOP=1"});
    ASSERT_TRUE(helper->readJson(kReplyLimit));

    const pid_t factory = EdsFixture::busNameOwner("org.gnome.evolution.dataserver.Calendar8");
    ASSERT_GT(factory, 0);
    ASSERT_EQ(kill(factory, SIGKILL), 0);
    // The next write starts the factory again; the helper must hear about it all the same.
    std::this_thread::sleep_for(200ms);
    ASSERT_FALSE(eds.addComponent(EdsFixture::kPersonalCalendar,
                                  "BEGIN:VEVENT\r\nUID:lumory-after-restart\r\nSUMMARY:Again\r\n"
                                  "DTSTART:20300105T100000Z\r\nDTEND:20300105T110000Z\r\n"
                                  "END:VEVENT\r\n").empty());
    EXPECT_TRUE(helper->readJsonUntil(isChanged, kChangeLimit));
    while (helper->readJsonUntil(isChanged, 1s)) {
    }
    // And later writes too, through the watches opened anew.
    ASSERT_FALSE(eds.addComponent(EdsFixture::kPersonalTaskList,
                                  "BEGIN:VTODO\r\nUID:lumory-after-restart-2\r\nSUMMARY:Bread\r\n"
                                  "END:VTODO\r\n").empty());
    EXPECT_TRUE(helper->readJsonUntil(isChanged, kChangeLimit));

    helper->writeLine(R"({"id":1,"cmd":"status"})");
    EXPECT_EQ(helper->readJsonUntil(hasId(1), kReplyLimit), json({{"id", 1}, {"status", "fullAccess"}}));
    helper->closeInput();
    EXPECT_EQ(helper->waitForExit(kReplyLimit), 0);
}

TEST(EdsHelper, RestrictedWithoutASessionBus) {
    TemporaryDirectory home;
    auto helper = startHelper(withoutSessionBus(home), true);
    EXPECT_EQ(helper->readJson(kReplyLimit), json({{"event", "ready"}, {"status", "restricted"}}));
    helper->writeLine(R"({"id":1,"cmd":"reminders-status"})");
    EXPECT_EQ(helper->readJson(kReplyLimit), json({{"id", 1}, {"status", "restricted"}}));
    // The access request tries again, finds nothing and says so without an error.
    helper->writeLine(R"({"id":2,"cmd":"auth"})");
    EXPECT_EQ(helper->readJson(kReplyLimit),
              json({{"id", 2}, {"status", "restricted"}, {"granted", false}}));
    helper->writeLine(R"({"id":3,"cmd":"calendars"})");
    EXPECT_EQ(helper->readJson(kReplyLimit),
              json({{"id", 3}, {"error", "no calendar access: restricted"}}));
    helper->closeInput();
    EXPECT_EQ(helper->waitForExit(kReplyLimit), 0);
}

TEST(EdsHelper, RestrictedOnABusWithoutEds) {
    // A bus of our own that can activate nothing.
    TemporaryDirectory directory;
    const std::string config = directory.path() + "/bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:dir=" << directory.path()
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                             "<allow own=\"*\"/></policy>"
                             "</busconfig>\n";
    LineProtocolProcess bus({"/usr/bin/dbus-daemon", "--nofork", "--print-address",
                             "--config-file=" + config});
    auto address = bus.readLine(kReplyLimit);
    ASSERT_TRUE(address);

    auto helper = startHelper({"PATH=/usr/bin:/bin", "HOME=" + directory.path(),
                               "DBUS_SESSION_BUS_ADDRESS=" + *address, "LUMORY_DESKTOP=1"},
                              true);
    EXPECT_EQ(helper->readJson(kReplyLimit), json({{"event", "ready"}, {"status", "restricted"}}));
    helper->writeLine(R"({"id":1,"cmd":"reminders-auth"})");
    EXPECT_EQ(helper->readJson(kReplyLimit),
              json({{"id", 1}, {"status", "restricted"}, {"granted", false}}));
    helper->closeInput();
    EXPECT_EQ(helper->waitForExit(kReplyLimit), 0);
}

TEST(EdsHelper, AccessRequestConnectsOnceEdsBecomesReachable) {
    // The helper is pointed at a bus socket that does not exist yet; it later appears as a link
    // to the private session's bus.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(address, nullptr);
    const std::string_view prefix = "unix:path=";
    std::string_view text = address;
    if (!text.starts_with(prefix)) GTEST_SKIP() << "session bus is not a socket path: " << address;
    const std::string socket(text.substr(prefix.size(), text.find(',') - prefix.size()));

    EdsFixture eds;
    // A change made right after the grant is reported, whether or not the personal calendar's
    // backend is still loading then (it unloads once its last client leaves): several starts.
    for (int start = 0; start < 3; ++start) {
        TemporaryDirectory home;
        const std::string link = home.path() + "/bus";
        auto helper =
            startHelper({"PATH=/usr/bin:/bin", "HOME=" + home.path(),
                         "DBUS_SESSION_BUS_ADDRESS=unix:path=" + link, "LUMORY_DESKTOP=1"},
                        true);
        EXPECT_EQ(helper->readJson(kReplyLimit),
                  json({{"event", "ready"}, {"status", "restricted"}}));
        helper->writeLine(R"({"id":1,"cmd":"auth"})");
        EXPECT_EQ(helper->readJson(kReplyLimit),
                  json({{"id", 1}, {"status", "restricted"}, {"granted", false}}));

        ASSERT_EQ(symlink(socket.c_str(), link.c_str()), 0);
        helper->writeLine(R"({"id":3,"cmd":"reminders-auth"})");
        EXPECT_EQ(helper->readJson(kReplyLimit),
                  json({{"id", 3}, {"status", "fullAccess"}, {"granted", true}}));
        helper->writeLine(R"({"id":4,"cmd":"status"})");
        EXPECT_EQ(helper->readJson(kReplyLimit), json({{"id", 4}, {"status", "fullAccess"}}));

        // Now connected, it watches the calendars too.
        const std::string uid = "lumory-after-auth-" + std::to_string(start);
        ASSERT_FALSE(eds.addComponent(EdsFixture::kPersonalCalendar,
                                      "BEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:Late\r\n"
                                      "DTSTART:20300104T100000Z\r\nDTEND:20300104T110000Z\r\n"
                                      "END:VEVENT\r\n").empty());
        EXPECT_TRUE(helper->readJsonUntil(isChanged, kChangeLimit)) << "start " << start;
        helper->closeInput();
        EXPECT_EQ(helper->waitForExit(kReplyLimit), 0);
    }
}

TEST(EdsHelper, ClosedOutputDoesNotEndTheHelperBeforeItDrains) {
    TemporaryDirectory home;
    auto helper = startHelper(withoutSessionBus(home), true);
    helper->closeOutput();
    for (int n = 0; n < 100; ++n) helper->writeLine(R"({"cmd":"status","id":)" + std::to_string(n) + "}");
    helper->writeLine(R"({"cmd":"auth","id":"a"})");
    helper->closeInput();
    // Exit status 0, not death by SIGPIPE (141).
    EXPECT_EQ(helper->waitForExit(kReplyLimit), 0);
}

TEST(EdsHelper, SurvivesHostileLines) {
    TemporaryDirectory home;
    auto helper = startHelper(withoutSessionBus(home), true);
    ASSERT_TRUE(helper->readJson(kReplyLimit));
    helper->writeLine(std::string(1'000'000, '['));
    helper->writeLine(R"({"cmd":"status","id":")" + std::string(64u << 20, 'x') + "\"}");
    helper->writeLine(R"({"cmd":"status","id":)" + std::string(100'000, '{') + "}");
    helper->writeLine(R"({"cmd":"status","id":"after"})");
    EXPECT_EQ(helper->readJson(kReplyLimit), json({{"error", "bad JSON"}}));
    // Parsing and writing 64 MiB takes a while in an unoptimised build.
    auto huge = helper->readJson(180s);
    ASSERT_TRUE(huge);
    EXPECT_EQ((*huge)["id"].get<std::string>().size(), 64u << 20);
    EXPECT_EQ(helper->readJson(kReplyLimit), json({{"error", "bad JSON"}}));
    EXPECT_EQ(helper->readJson(kReplyLimit), json({{"id", "after"}, {"status", "restricted"}}));
    helper->closeInput();
    EXPECT_EQ(helper->waitForExit(kReplyLimit), 0);
}

// Every start, with calendars and task lists to open and a request already waiting: the ready
// notice comes first, then the reply, and nothing more while nothing changes (a calendar
// announces its unchanged revision once after connecting).
TEST(EdsHelper, ReadyComesFirstAndNoChangeIsReportedWhenNothingChanged) {
    EdsFixture eds;
    ASSERT_NE(eds.registry(), nullptr);
    std::vector<std::string> sources;
    for (int n = 0; n < 4; ++n) sources.push_back(eds.addSource("Seeded " + std::to_string(n)));
    sources.push_back(eds.addSource("Seeded tasks", true));
    for (const auto& uid : sources) ASSERT_FALSE(uid.empty());
    // EDS gives a calendar a new revision when its backend loads it again, which it may do
    // whenever its last client left: the test's own clients keep the backends loaded, so that
    // nothing changes between the starts.
    std::vector<std::unique_ptr<ECalClient, void (*)(gpointer)>> keepLoaded;
    for (const auto& uid : sources) keepLoaded.emplace_back(eds.connect(uid), g_object_unref);
    {
        // The first client to open a new calendar makes EDS update its source, a change the
        // helper rightly reports; let that pass first.
        auto first = startHelper({"LUMORY_DESKTOP=1"});
        while (first->readLine(1500ms)) {
        }
    }

    for (int start = 0; start < 6; ++start) {
        auto helper = startHelper({"LUMORY_DESKTOP=1"});
        helper->writeLine(R"({"id":1,"cmd":"status"})");
        EXPECT_EQ(helper->readJson(kReplyLimit),
                  json({{"event", "ready"}, {"status", "fullAccess"}}))
            << "start " << start;
        EXPECT_EQ(helper->readJson(kReplyLimit), json({{"id", 1}, {"status", "fullAccess"}}));
        auto extra = helper->readLine(1500ms);
        EXPECT_FALSE(extra) << "start " << start << ": " << extra.value_or("");
        helper->closeInput();
        EXPECT_EQ(helper->waitForExit(kReplyLimit), 0);
    }
    for (const auto& uid : sources) EXPECT_TRUE(eds.removeSource(uid));
}

TEST(EdsHelper, ReadyComesFirstWithoutASessionBus) {
    TemporaryDirectory home;
    for (int start = 0; start < 40; ++start) {
        auto helper = startHelper(withoutSessionBus(home), true);
        helper->writeLine(R"({"id":1,"cmd":"status"})");
        EXPECT_EQ(helper->readJson(kReplyLimit),
                  json({{"event", "ready"}, {"status", "restricted"}}))
            << "start " << start;
        EXPECT_EQ(helper->readJson(kReplyLimit), json({{"id", 1}, {"status", "restricted"}}));
        helper->closeInput();
        EXPECT_EQ(helper->waitForExit(kReplyLimit), 0);
    }
}

// `printf '{"id":1,"cmd":"reminders",...}\n' | lumory-cal`: the listing is fetched off the
// reader thread, and still answered before the process ends.
TEST(EdsHelper, AnswersAReminderListingWhoseInputEndsAtOnce) {
    EdsFixture eds;
    ASSERT_FALSE(eds.addComponent(EdsFixture::kPersonalTaskList,
                                  "BEGIN:VTODO\r\nUID:lumory-drain-1\r\nSUMMARY:Stamps\r\n"
                                  "DUE:20300610T100000Z\r\nEND:VTODO\r\n")
                     .empty());
    for (int run = 0; run < 3; ++run) {
        auto helper = startHelper({"LUMORY_DESKTOP=1"});
        helper->writeLine(
            R"({"id":1,"cmd":"reminders","from":"2030-06-01T00:00:00Z","to":"2030-07-01T00:00:00Z"})");
        helper->closeInput();
        auto reply = helper->readJsonUntil(hasId(1), kReplyLimit);
        ASSERT_TRUE(reply) << "run " << run;
        ASSERT_EQ((*reply)["reminders"].size(), 1u) << reply->dump();
        EXPECT_EQ((*reply)["reminders"][0]["title"], "Stamps");
        EXPECT_EQ(helper->waitForExit(kReplyLimit), 0);
    }
}

}  // namespace
}  // namespace lumory::testsupport
