// The EDS event store itself on a private Evolution Data Server (run under eds_session.sh):
// what the helper's process cannot show from outside.

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "eds/eds_fixture.h"
#include "eds_clients.h"
#include "eds_event_store.h"

namespace lumory::cal {
namespace {

using namespace std::chrono_literals;
using testsupport::EdsFixture;

constexpr const char* kCalendarFactory = "org.gnome.evolution.dataserver.Calendar8";

// Serves the main context for a while, as the helper's main loop would.
void serveMainContext(std::chrono::milliseconds span) {
    const auto until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        std::this_thread::sleep_for(5ms);
    }
}

// The calendar factory stopped for as long as the test needs it, continued in any case.
class StoppedFactory {
public:
    StoppedFactory() : pid(EdsFixture::busNameOwner(kCalendarFactory)) {
        if (pid > 0) kill(pid, SIGSTOP);
    }
    ~StoppedFactory() { resume(); }
    void resume() {
        if (pid > 0 && !resumed.exchange(true)) kill(pid, SIGCONT);
    }
    const pid_t pid;

private:
    std::atomic<bool> resumed{false};
};

// Dropping the clients (the main loop does so after an access request or a factory restart)
// must not wait for a client that another thread is still connecting.
TEST(EdsStore, DroppingClientsDoesNotWaitForOneBeingConnected) {
    EdsFixture eds;
    ASSERT_NE(eds.registry(), nullptr);
    g_autoptr(ESource) source =
        e_source_registry_ref_source(eds.registry(), EdsFixture::kPersonalTaskList);
    ASSERT_NE(source, nullptr);

    // The factory starts on first use.
    ECalClient* running = eds.connect(EdsFixture::kPersonalCalendar);
    ASSERT_NE(running, nullptr);
    g_object_unref(running);
    eds::ClientCache clients;
    StoppedFactory factory;
    ASSERT_GT(factory.pid, 0);
    std::thread connecting([&] { clients.client(source, E_CAL_CLIENT_SOURCE_TYPE_TASKS); });
    // Whatever happens, the factory runs again after a while, so that nothing hangs for good.
    std::promise<void> done;
    std::thread watchdog([&factory, finished = done.get_future()] {
        finished.wait_for(5s);
        factory.resume();
    });
    std::this_thread::sleep_for(300ms);
    const auto started = std::chrono::steady_clock::now();
    clients.clear();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    factory.resume();
    done.set_value();
    connecting.join();
    watchdog.join();
    // And the cache works on afterwards.
    EXPECT_TRUE(clients.client(source, E_CAL_CLIENT_SOURCE_TYPE_TASKS));
}

// A store destroyed with work under way: its fetches have answered by the time it is gone, and
// an access request queued on the main context is answered once, with an error, not run on a
// store that no longer exists.
TEST(EdsStore, WorkUnderWayEndsWithTheStore) {
    std::atomic<int> fetched = 0;
    std::atomic<int> answered = 0;
    std::optional<std::string> accessError;
    {
        EdsEventStore store;
        ASSERT_EQ(store.authorizationStatus(EntityType::reminder), 3);
        ReminderQuery query{false, std::nullopt, std::chrono::system_clock::now() + 24h, {}};
        for (int n = 0; n < 6; ++n) store.fetchReminders(query, [&](auto) { ++fetched; });
        store.requestFullAccess(EntityType::event, [&](bool, std::optional<std::string> error) {
            accessError = error;
            ++answered;
        });
    }
    EXPECT_EQ(fetched, 6);
    serveMainContext(500ms);
    EXPECT_EQ(answered, 1);
    EXPECT_EQ(accessError, std::optional<std::string>("the calendar store was closed"));
}

// An occurrence read a moment ago that another program has removed since: the calendar holds
// only other detached occurrences of the series, none of them this one.
TEST(EdsStore, VanishedDetachedOccurrenceIsNotFound) {
    EdsFixture eds;
    const std::string calendar = eds.addSource("Detached only");
    const std::string other = eds.addSource("Other");
    ASSERT_FALSE(calendar.empty() || other.empty());
    ASSERT_EQ(eds.addComponent(calendar,
                               "BEGIN:VEVENT\r\nUID:detached-only\r\n"
                               "DTSTAMP:20250101T000000Z\r\n"
                               "RECURRENCE-ID:20300610T100000Z\r\n"
                               "DTSTART:20300610T120000Z\r\nDTEND:20300610T130000Z\r\n"
                               "SUMMARY:Invited once\r\nEND:VEVENT\r\n"),
              "detached-only");

    EdsEventStore store;
    auto event = store.event("detached-only");
    ASSERT_TRUE(event);
    ASSERT_TRUE(event->recurrenceDate);
    event->recurrenceDate = *event->recurrenceDate + std::chrono::days{7};
    event->title = "Changed";
    for (bool moving : {false, true}) {
        if (moving) event->calendar = store.defaultCalendar(EntityType::event);
        try {
            store.saveEvent(*event);
            ADD_FAILURE() << "saved " << (moving ? "(moving)" : "");
        } catch (const StoreError& error) {
            EXPECT_STREQ(error.what(), "event not found: detached-only");
        }
    }
    auto unchanged = store.event("detached-only");
    ASSERT_TRUE(unchanged);
    EXPECT_EQ(unchanged->title, "Invited once");
    EXPECT_TRUE(eds.removeSource(calendar));
    EXPECT_TRUE(eds.removeSource(other));
}

}  // namespace
}  // namespace lumory::cal
