#pragma once

// The event store on Evolution Data Server: the source registry lists calendars and task lists,
// the calendar factory serves their contents. Linux asks no permission, so the store reports
// full access exactly while both services answer on the session bus.

#include <libecal/libecal.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "eds_clients.h"
#include "event_store.h"
#include "gobject_ptr.h"
#include "worker_pool.h"

namespace lumory::cal {

class EdsEventStore final : public EventStore {
public:
    // Connects at once. Must be made, and destroyed, on the thread that runs the global default
    // main context: registry, bus-name and client signals are delivered there.
    EdsEventStore();
    ~EdsEventStore() override;
    EdsEventStore(const EdsEventStore&) = delete;
    EdsEventStore& operator=(const EdsEventStore&) = delete;

    // Access and change notices (eds_event_store.cpp).
    AuthorizationStatus authorizationStatus(EntityType type) override;
    void requestFullAccess(EntityType type, AccessCompletion completion) override;
    void reset() override;
    // Returns once every calendar and task list is watched (bounded wait), so that no change
    // made after the call goes unreported.
    void setChangeHandler(std::function<void()> handler) override;

    // Calendars, events and reminders (the data files of eds/).
    std::vector<Calendar> calendars(EntityType type) override;
    std::optional<Calendar> defaultCalendar(EntityType type) override;
    std::vector<Event> events(Instant start, Instant end,
                              const std::optional<std::vector<std::string>>& calendarIds) override;
    EventListing eventListing(
        Instant start, Instant end,
        const std::optional<std::vector<std::string>>& calendarIds) override;
    std::optional<Event> event(const std::string& identifier) override;
    void saveEvent(Event& event) override;
    void removeEvent(const Event& event) override;
    void fetchReminders(const ReminderQuery& query, ReminderCompletion completion) override;
    std::optional<Reminder> reminder(const std::string& identifier) override;
    void saveReminder(Reminder& reminder) override;
    void removeReminder(const Reminder& reminder) override;

    // The source registry, or null while the store is not connected. Any thread.
    GObjectPtr<ESourceRegistry> sourceRegistry();

private:
    struct Watch;
    struct OpenRequest;
    struct BaselineWait;
    // What connecting found: made by blocking calls on any thread, taken over on the main context.
    struct Connection {
        GObjectPtr<GDBusConnection> bus;
        GObjectPtr<ESourceRegistry> registry;
        bool registryActivatable = false;
        bool factoryActivatable = false;
        bool factoryRuns = false;
    };
    // A handle that main-context callbacks hold instead of the store; empty once it is gone.
    using WeakSelf = std::weak_ptr<EdsEventStore*>;

    static Connection probeConnection();
    // Runs `work` with the store on the main context, or `ifGone` there once it is destroyed.
    void onMainContext(std::function<void(EdsEventStore&)> work, std::function<void()> ifGone = {});
    static void onMainContext(WeakSelf store, std::function<void(EdsEventStore&)> work,
                              std::function<void()> ifGone = {});
    void answerAccessRequests();
    void answerAccessRequestsOnceWatched();

    // Main context only.
    void install(Connection connection);
    void disconnect();
    void watchAllSources();
    void watchSource(ESource* source);
    void unwatchSource(ESource* source);
    void rewatchAll();
    // A watch is open with its revision known (or given up on); ends its count in openingWatches.
    void settle(Watch& watch);
    void watchSettled();
    static std::string cachedRevision(EClient* client);
    void scheduleChange();
    bool connected() const;

    static void onNameAppeared(GDBusConnection*, const char* name, const char*, gpointer self);
    static void onNameVanished(GDBusConnection*, const char* name, gpointer self);
    static void onBusClosed(GDBusConnection*, gboolean, GError*, gpointer self);
    static void onSourceChanged(ESourceRegistry*, ESource* source, gpointer self);
    static void onSourceAdded(ESourceRegistry*, ESource* source, gpointer self);
    static void onSourceRemoved(ESourceRegistry*, ESource* source, gpointer self);
    static void onClientOpened(GObject*, GAsyncResult* result, gpointer request);
    static void onBackendPropertyChanged(EClient* client, const char* name, const char* value,
                                         gpointer self);
    static void onBackendDied(EClient*, gpointer self);
    static gboolean onChangeDue(gpointer self);

    // Guards bus and registry for readers on other threads; the main context replaces them.
    mutable std::mutex connectionLock;
    GObjectPtr<GDBusConnection> bus;
    GObjectPtr<ESourceRegistry> registry;

    std::atomic<bool> busOpen{false};
    std::atomic<bool> registryOwned{false};
    std::atomic<bool> factoryOwned{false};
    std::atomic<bool> registryActivatable{false};
    std::atomic<bool> factoryActivatable{false};

    guint registryNameWatch = 0;
    guint factoryNameWatch = 0;
    gulong busClosedHandler = 0;
    std::vector<gulong> registryHandlers;

    // Clients the data operations read and write through; any thread.
    eds::ClientCache clients;

    std::shared_ptr<EdsEventStore*> self;
    // Access requests waiting for the reconnection in flight (main context only).
    struct PendingAccess {
        EntityType type;
        AccessCompletion completion;
    };
    std::vector<PendingAccess> pendingAccess;
    bool reconnecting = false;
    // Bounds the wait of granted access requests for the calendars to be watched.
    guint accessTimer = 0;
    // Reconnections and reminder fetches; joined before anything else of the store goes.
    WorkerPool workers{4};

    std::function<void()> changeHandler;
    std::map<std::string, Watch*> watches;  // by source uid
    int openingWatches = 0;
    guint changeTimer = 0;
};

}  // namespace lumory::cal
