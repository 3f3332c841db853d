#include "eds_event_store.h"

#include "eds_event_listing.h"
#include "eds_event_writing.h"
#include "eds_sources.h"
#include "eds_tasks.h"

namespace lumory::cal::eds {
namespace {

constexpr const char* kStoreClosed = "the calendar store was closed";

constexpr AuthorizationStatus kRestricted = 1;
constexpr AuthorizationStatus kFullAccess = 3;

}  // namespace

EdsEventStore::EdsEventStore()
    : connection([this] { watchAnew(); }),
      monitor(monitorHooks()) {
    connection.install(Connection::probe());
}

CalendarMonitor::Hooks EdsEventStore::monitorHooks() {
    CalendarMonitor::Hooks hooks;
    hooks.changed = [this] {
        if (changeHandler) changeHandler();
    };
    // Access requests that connected anew wait for the calendars to be watched.
    hooks.allOpen = [this] {
        if (reconnecting && accessTimer != 0) answerAccessRequests();
    };
    // Not from inside the dying client's own signal, which rewatching would unref.
    hooks.backendDied = [this] { onMainContext([](EdsEventStore& store) { store.watchAnew(); }); };
    return hooks;
}

EdsEventStore::~EdsEventStore() {
    // Callbacks already queued on the main context find the store gone; jobs finish first.
    lifetime.end();
    workers.shutDown();
    for (auto& pending : pendingAccess) pending.completion(false, std::string(kStoreClosed));
    pendingAccess.clear();
    if (accessTimer != 0) g_source_remove(accessTimer);
    accessTimer = 0;
    monitor.stop();
    connection.close();
}

void EdsEventStore::onMainContext(std::function<void(EdsEventStore&)> work,
                                  std::function<void()> ifGone) {
    onMainContext(lifetime.weak(), std::move(work), std::move(ifGone));
}

void EdsEventStore::onMainContext(WeakSelf store, std::function<void(EdsEventStore&)> work,
                                  std::function<void()> ifGone) {
    // An idle source rather than g_main_context_invoke, which would run it on the calling
    // thread whenever the context is free to acquire.
    struct Call {
        WeakSelf store;
        std::function<void(EdsEventStore&)> work;
        std::function<void()> ifGone;
    };
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            auto* call = static_cast<Call*>(data);
            // The store is destroyed on this same thread, so it cannot go while the work runs.
            if (auto* store = call->store.get())
                call->work(*store);
            else if (call->ifGone)
                call->ifGone();
            return G_SOURCE_REMOVE;
        },
        new Call{std::move(store), std::move(work), std::move(ifGone)},
        [](gpointer data) { delete static_cast<Call*>(data); });
}

AuthorizationStatus EdsEventStore::authorizationStatus(EntityType) {
    // Kept current by bus signals, so that a status costs no round trip.
    return connection.reachable() ? kFullAccess : kRestricted;
}

void EdsEventStore::requestFullAccess(EntityType type, AccessCompletion completion) {
    auto closed = [completion] { completion(false, std::string(kStoreClosed)); };
    onMainContext(
        [type, completion](EdsEventStore& store) {
            if (store.connection.reachable()) return completion(true, std::nullopt);
            // Connecting again blocks for as long as the bus takes: on a worker, so that change
            // notices and other answers keep flowing meanwhile. Requests made meanwhile share it.
            store.pendingAccess.push_back({type, completion});
            if (store.reconnecting) return;
            store.reconnecting = true;
            const bool posted = store.workers.post([weak = store.lifetime.weak()] {
                auto probe = std::make_shared<Connection::Probe>(Connection::probe());
                onMainContext(weak, [probe](EdsEventStore& current) {
                    current.reconnected(std::move(*probe));
                });
            });
            if (!posted) store.answerAccessRequests();
        },
        closed);
}

void EdsEventStore::reconnected(Connection::Probe probe) {
    monitor.stop();
    connection.close();
    connection.install(std::move(probe));
    if (changeHandler) monitor.watchAll(connection.registry().get());
    answerAccessRequestsOnceWatched();
}

// A granted request promises that changes from then on are reported, as the ready notice does at
// start-up: the reply waits (bounded) until every calendar is watched with a known revision.
void EdsEventStore::answerAccessRequestsOnceWatched() {
    if (monitor.opening() == 0) return answerAccessRequests();
    if (accessTimer != 0) return;
    accessTimer = g_timeout_add(
        static_cast<guint>(CalendarMonitor::kOpeningLimit.count()),
        [](gpointer self) -> gboolean {
            auto* store = static_cast<EdsEventStore*>(self);
            store->accessTimer = 0;
            store->answerAccessRequests();
            return G_SOURCE_REMOVE;
        },
        this);
}

void EdsEventStore::answerAccessRequests() {
    if (accessTimer != 0) g_source_remove(accessTimer);
    accessTimer = 0;
    reconnecting = false;
    auto answering = std::move(pendingAccess);
    pendingAccess.clear();
    for (auto& pending : answering)
        pending.completion(authorizationStatus(pending.type) == kFullAccess, std::nullopt);
}

void EdsEventStore::reset() {
    clients.clear();
    onMainContext([](EdsEventStore& store) {
        if (store.changeHandler) store.monitor.watchAll(store.connection.registry().get());
    });
}

// After the calendar factory or a backend restarted, clients opened before hear nothing more.
void EdsEventStore::watchAnew() {
    clients.clear();
    if (changeHandler) monitor.rewatchAll(connection.registry().get());
}

void EdsEventStore::setChangeHandler(std::function<void()> handler) {
    changeHandler = std::move(handler);
    monitor.watchAll(connection.registry().get());
    // Serve the context until every watch is open, so changes right after start-up are seen.
    monitor.waitUntilOpen(CalendarMonitor::kOpeningLimit);
}

std::vector<Calendar> EdsEventStore::calendars(EntityType type) {
    return eds::calendars(connection.registry().get(), type, clients);
}

std::optional<Calendar> EdsEventStore::defaultCalendar(EntityType type) {
    return eds::defaultCalendar(connection.registry().get(), type, clients);
}

EventListing EdsEventStore::eventListing(
    Instant start, Instant end, const std::optional<std::vector<std::string>>& calendarIds) {
    return eds::eventListing(connection.registry().get(), clients, start, end, calendarIds);
}

std::vector<Event> EdsEventStore::events(
    Instant start, Instant end, const std::optional<std::vector<std::string>>& calendarIds) {
    const EventListing listing = eventListing(start, end, calendarIds);
    std::vector<Event> result;
    result.reserve(listing.occurrences.size());
    for (const auto& occurrence : listing.occurrences) result.push_back(listing.event(occurrence));
    return result;
}

std::optional<Event> EdsEventStore::event(const std::string& identifier) {
    return storedEvent(connection.registry().get(), clients, identifier);
}

void EdsEventStore::saveEvent(Event& event) {
    eds::saveEvent(connection.registry().get(), clients, event);
}

void EdsEventStore::removeEvent(const Event& event) {
    eds::removeEvent(connection.registry().get(), clients, event);
}

void EdsEventStore::fetchReminders(const ReminderQuery& query, ReminderCompletion completion) {
    // The fetch reads through sync calls, so it runs on a worker of the store (joined before
    // the store goes); the other fetch of the same listing runs beside it.
    auto shared = std::make_shared<ReminderCompletion>(std::move(completion));
    const bool posted = workers.post([this, query, shared] {
        (*shared)(eds::fetchReminders(connection.registry().get(), clients, query));
    });
    if (!posted) (*shared)(std::nullopt);
}

std::optional<Reminder> EdsEventStore::reminder(const std::string& identifier) {
    return storedReminder(connection.registry().get(), clients, identifier);
}

void EdsEventStore::saveReminder(Reminder& reminder) {
    eds::saveReminder(connection.registry().get(), clients, reminder);
}

void EdsEventStore::removeReminder(const Reminder& reminder) {
    eds::removeReminder(connection.registry().get(), clients, reminder);
}

}  // namespace lumory::cal::eds
