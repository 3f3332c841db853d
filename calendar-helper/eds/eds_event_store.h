#pragma once

// The event store on Evolution Data Server: the source registry lists calendars and task lists,
// the calendar factory serves their contents. The store wires the jobs together, each in a file
// of its own: the connection, the calendar monitor for change notices, and the reads and writes
// of calendars, events and reminders.

#include <libecal/libecal.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "eds_calendar_monitor.h"
#include "eds_clients.h"
#include "eds_connection.h"
#include "event_store.h"
#include "worker_pool.h"
#include "weak_handle.h"

namespace lumory::cal::eds {

class EdsEventStore final : public EventStore {
public:
    // Connects at once. Must be made, and destroyed, on the thread that runs the global default
    // main context: registry, bus-name and client signals are delivered there.
    EdsEventStore();
    ~EdsEventStore() override;
    EdsEventStore(const EdsEventStore&) = delete;
    EdsEventStore& operator=(const EdsEventStore&) = delete;

    AuthorizationStatus authorizationStatus(EntityType type) override;
    void requestFullAccess(EntityType type, AccessCompletion completion) override;
    void reset() override;
    // Returns once every calendar and task list is watched (bounded wait), so that no change
    // made after the call goes unreported.
    void setChangeHandler(std::function<void()> handler) override;

    std::vector<Calendar> calendars(EntityType type) override;
    std::optional<Calendar> defaultCalendar(EntityType type) override;
    std::vector<Event> events(Instant start, Instant end,
                              const std::optional<std::vector<std::string>>& calendarIds) override;
    EventListing eventListing(Instant start, Instant end,
                              const std::optional<std::vector<std::string>>& calendarIds) override;
    std::optional<Event> event(const std::string& identifier) override;
    void saveEvent(Event& event) override;
    void removeEvent(const Event& event) override;
    void fetchReminders(const ReminderQuery& query, ReminderCompletion completion) override;
    std::optional<Reminder> reminder(const std::string& identifier) override;
    void saveReminder(Reminder& reminder) override;
    void removeReminder(const Reminder& reminder) override;

private:
    // A handle that main-context callbacks hold instead of the store; empty once it is gone.
    using WeakSelf = WeakHandle<EdsEventStore>;
    // An access request waiting for the reconnection in flight.
    struct PendingAccess {
        EntityType type;
        AccessCompletion completion;
    };

    // Runs `work` with the store on the main context, or `ifGone` there once it is destroyed.
    void onMainContext(std::function<void(EdsEventStore&)> work, std::function<void()> ifGone = {});
    static void onMainContext(WeakSelf store, std::function<void(EdsEventStore&)> work,
                              std::function<void()> ifGone = {});

    CalendarMonitor::Hooks monitorHooks();
    // Main context only.
    void reconnected(Connection::Probe probe);
    void answerAccessRequestsOnceWatched();
    void answerAccessRequests();
    void watchAnew();

    Connection connection;
    CalendarMonitor monitor;
    // Clients the data operations read and write through; any thread.
    ClientCache clients;

    Lifetime<EdsEventStore> lifetime{this};
    std::function<void()> changeHandler;
    // Main context only.
    std::vector<PendingAccess> pendingAccess;
    bool reconnecting = false;
    // Bounds the wait of granted access requests for the calendars to be watched.
    guint accessTimer = 0;
    // Reconnections and reminder fetches; joined before anything else of the store goes.
    WorkerPool workers{4};
};

}  // namespace lumory::cal::eds
