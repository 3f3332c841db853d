#include "eds_event_store.h"

#include <chrono>
#include <cstring>
#include <memory>

namespace lumory::cal {

namespace {

// Bus names of the services that EDS 3.46 activates on the session bus.
constexpr const char* kRegistryBusName = "org.gnome.evolution.dataserver.Sources5";
constexpr const char* kCalendarFactoryBusName = "org.gnome.evolution.dataserver.Calendar8";
constexpr int kStartServiceTimeoutMs = 30'000;
// Bursts (an edit fires a revision change per backend plus registry updates) become one notice.
constexpr guint kChangeCoalescingMs = 100;
// Opening every calendar before the ready notice; a stuck backend must not hold start-up.
constexpr auto kWatchOpeningLimit = std::chrono::seconds(10);
// A client that opens before its calendar's revision reached it hears it a few milliseconds
// later; a calendar that never reports one must not hold start-up for long.
constexpr guint kBaselineLimitMs = 1000;

constexpr const char* kStoreClosed = "the calendar store was closed";

constexpr AuthorizationStatus kRestricted = 1;
constexpr AuthorizationStatus kFullAccess = 3;

bool isCalendarOrTaskList(ESource* source) {
    return e_source_has_extension(source, E_SOURCE_EXTENSION_CALENDAR) ||
           e_source_has_extension(source, E_SOURCE_EXTENSION_TASK_LIST);
}

bool activatable(GDBusConnection* bus, const char* name) {
    g_autoptr(GVariant) names = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE,
        kStartServiceTimeoutMs, nullptr, nullptr);
    if (names == nullptr) return false;
    g_autofree const gchar** list = nullptr;
    g_variant_get(names, "(^a&s)", &list);
    for (const gchar** entry = list; entry != nullptr && *entry != nullptr; ++entry)
        if (std::strcmp(*entry, name) == 0) return true;
    return false;
}

bool owned(GDBusConnection* bus, const char* name) {
    g_autoptr(GVariant) result = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
        kStartServiceTimeoutMs, nullptr, nullptr);
    gboolean hasOwner = FALSE;
    if (result != nullptr) g_variant_get(result, "(b)", &hasOwner);
    return hasOwner;
}

// Asks the bus to start a service; true when it runs afterwards.
bool startService(GDBusConnection* bus, const char* name) {
    g_autoptr(GVariant) result = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "StartServiceByName", g_variant_new("(su)", name, 0u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, kStartServiceTimeoutMs, nullptr, nullptr);
    return result != nullptr;
}

}  // namespace

struct EdsEventStore::Watch {
    GObjectPtr<ECalClient> client;
    GObjectPtr<GCancellable> opening;
    // Counted in openingWatches until the client is open and its revision known.
    bool pending = true;
    // Last revision seen (empty until known): a freshly connected client announces it again,
    // unchanged.
    std::string revision;
    gulong propertyHandler = 0;
    gulong diedHandler = 0;
    guint baselineTimer = 0;

    void disconnect() {
        if (opening) g_cancellable_cancel(opening.get());
        if (baselineTimer != 0) g_source_remove(baselineTimer);
        baselineTimer = 0;
        if (!client) return;
        if (propertyHandler != 0) g_signal_handler_disconnect(client.get(), propertyHandler);
        if (diedHandler != 0) g_signal_handler_disconnect(client.get(), diedHandler);
    }
};

struct EdsEventStore::BaselineWait {
    EdsEventStore* store;
    std::string uid;
};

struct EdsEventStore::OpenRequest {
    EdsEventStore* store;
    std::string uid;
    GObjectPtr<GCancellable> cancellable;
};

EdsEventStore::EdsEventStore() : self(std::make_shared<EdsEventStore*>(this)) {
    install(probeConnection());
}

EdsEventStore::~EdsEventStore() {
    // Callbacks already queued on the main context find the store gone; jobs finish first.
    self.reset();
    workers.shutDown();
    for (auto& pending : pendingAccess) pending.completion(false, std::string(kStoreClosed));
    pendingAccess.clear();
    disconnect();
}

void EdsEventStore::onMainContext(std::function<void(EdsEventStore&)> work,
                                  std::function<void()> ifGone) {
    onMainContext(self, std::move(work), std::move(ifGone));
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
            if (auto store = call->store.lock())
                call->work(**store);
            else if (call->ifGone)
                call->ifGone();
            return G_SOURCE_REMOVE;
        },
        new Call{std::move(store), std::move(work), std::move(ifGone)},
        [](gpointer data) { delete static_cast<Call*>(data); });
}

// Blocking D-Bus calls only (any thread but the main context's, once it runs).
EdsEventStore::Connection EdsEventStore::probeConnection() {
    Connection found;
    g_autoptr(GError) error = nullptr;
    found.bus =
        GObjectPtr<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    if (!found.bus) return found;
    // The shared connection ends the process when the bus goes away unless told otherwise.
    g_dbus_connection_set_exit_on_close(found.bus.get(), FALSE);

    // Without EDS on this bus the registry would wait for its service until a long timeout.
    found.registryActivatable = activatable(found.bus.get(), kRegistryBusName);
    found.factoryActivatable = activatable(found.bus.get(), kCalendarFactoryBusName);
    const bool registryPresent =
        found.registryActivatable || owned(found.bus.get(), kRegistryBusName);
    found.factoryRuns =
        (found.factoryActivatable || owned(found.bus.get(), kCalendarFactoryBusName)) &&
        startService(found.bus.get(), kCalendarFactoryBusName);
    // Made on a thread without a main context of its own, the registry signals on the global
    // default one, where install() connects to them.
    if (registryPresent)
        found.registry =
            GObjectPtr<ESourceRegistry>::adopt(e_source_registry_new_sync(nullptr, nullptr));
    return found;
}

void EdsEventStore::install(Connection connection) {
    if (!connection.bus) return;
    auto newBus = std::move(connection.bus);
    auto newRegistry = std::move(connection.registry);
    registryActivatable = connection.registryActivatable;
    factoryActivatable = connection.factoryActivatable;
    registryOwned = static_cast<bool>(newRegistry);
    factoryOwned = connection.factoryRuns;
    busOpen = !g_dbus_connection_is_closed(newBus.get());

    busClosedHandler = g_signal_connect(newBus.get(), "closed", G_CALLBACK(onBusClosed), this);
    registryNameWatch = g_bus_watch_name_on_connection(
        newBus.get(), kRegistryBusName, G_BUS_NAME_WATCHER_FLAGS_NONE, onNameAppeared,
        onNameVanished, this, nullptr);
    factoryNameWatch = g_bus_watch_name_on_connection(
        newBus.get(), kCalendarFactoryBusName, G_BUS_NAME_WATCHER_FLAGS_NONE, onNameAppeared,
        onNameVanished, this, nullptr);

    if (newRegistry) {
        for (const char* signal : {"source-added", "source-enabled"})
            registryHandlers.push_back(
                g_signal_connect(newRegistry.get(), signal, G_CALLBACK(onSourceAdded), this));
        for (const char* signal : {"source-removed", "source-disabled"})
            registryHandlers.push_back(
                g_signal_connect(newRegistry.get(), signal, G_CALLBACK(onSourceRemoved), this));
        registryHandlers.push_back(g_signal_connect(newRegistry.get(), "source-changed",
                                                    G_CALLBACK(onSourceChanged), this));
    }

    std::lock_guard lock(connectionLock);
    bus = std::move(newBus);
    registry = std::move(newRegistry);
}

void EdsEventStore::disconnect() {
    for (auto& [uid, watch] : watches) {
        watch->disconnect();
        delete watch;
    }
    watches.clear();
    openingWatches = 0;
    if (accessTimer != 0) g_source_remove(accessTimer);
    accessTimer = 0;
    if (changeTimer != 0) {
        g_source_remove(changeTimer);
        changeTimer = 0;
    }
    if (registryNameWatch != 0) g_bus_unwatch_name(registryNameWatch);
    if (factoryNameWatch != 0) g_bus_unwatch_name(factoryNameWatch);
    registryNameWatch = factoryNameWatch = 0;

    GObjectPtr<GDBusConnection> oldBus;
    GObjectPtr<ESourceRegistry> oldRegistry;
    {
        std::lock_guard lock(connectionLock);
        oldBus = std::move(bus);
        oldRegistry = std::move(registry);
    }
    if (oldBus && busClosedHandler != 0) g_signal_handler_disconnect(oldBus.get(), busClosedHandler);
    busClosedHandler = 0;
    for (gulong handler : registryHandlers) g_signal_handler_disconnect(oldRegistry.get(), handler);
    registryHandlers.clear();
    busOpen = registryOwned = factoryOwned = false;
}

bool EdsEventStore::connected() const {
    std::lock_guard lock(connectionLock);
    return busOpen && registry && (registryOwned || registryActivatable) &&
           (factoryOwned || factoryActivatable);
}

AuthorizationStatus EdsEventStore::authorizationStatus(EntityType) {
    // Kept current by bus signals, so that a status costs no round trip.
    return connected() ? kFullAccess : kRestricted;
}

void EdsEventStore::requestFullAccess(EntityType type, AccessCompletion completion) {
    auto closed = [completion] { completion(false, std::string(kStoreClosed)); };
    onMainContext(
        [type, completion](EdsEventStore& store) {
            if (store.connected()) return completion(true, std::nullopt);
            // Connecting again blocks for as long as the bus takes: on a worker, so that change
            // notices and other answers keep flowing meanwhile. Requests made meanwhile share it.
            store.pendingAccess.push_back({type, completion});
            if (store.reconnecting) return;
            store.reconnecting = true;
            const bool posted = store.workers.post([weak = WeakSelf(store.self)] {
                auto connection = std::make_shared<Connection>(probeConnection());
                onMainContext(weak, [connection](EdsEventStore& current) {
                    current.disconnect();
                    current.install(std::move(*connection));
                    if (current.changeHandler) current.watchAllSources();
                    current.answerAccessRequestsOnceWatched();
                });
            });
            if (!posted) store.answerAccessRequests();
        },
        closed);
}

// A granted request promises that changes from then on are reported, as the ready notice does at
// start-up: the reply waits (bounded) until every calendar is watched with a known revision.
void EdsEventStore::answerAccessRequestsOnceWatched() {
    if (openingWatches == 0) return answerAccessRequests();
    if (accessTimer != 0) return;
    const auto limitMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(kWatchOpeningLimit).count();
    accessTimer = g_timeout_add(
        static_cast<guint>(limitMs),
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
        if (store.changeHandler) store.watchAllSources();
    });
}

void EdsEventStore::setChangeHandler(std::function<void()> handler) {
    changeHandler = std::move(handler);
    watchAllSources();
    if (openingWatches == 0) return;

    // Serve the context until every watch is open, so changes right after start-up are seen.
    GMainContext* context = g_main_context_default();
    const auto deadline = std::chrono::steady_clock::now() + kWatchOpeningLimit;
    guint wakeUp = g_timeout_add(50, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (openingWatches > 0 && std::chrono::steady_clock::now() < deadline)
        g_main_context_iteration(context, TRUE);
    g_source_remove(wakeUp);
}

GObjectPtr<ESourceRegistry> EdsEventStore::sourceRegistry() {
    std::lock_guard lock(connectionLock);
    return registry;
}

void EdsEventStore::watchAllSources() {
    auto current = sourceRegistry();
    if (!current) return;
    for (const char* extension : {E_SOURCE_EXTENSION_CALENDAR, E_SOURCE_EXTENSION_TASK_LIST}) {
        GList* sources = e_source_registry_list_enabled(current.get(), extension);
        for (GList* item = sources; item != nullptr; item = item->next)
            watchSource(E_SOURCE(item->data));
        g_list_free_full(sources, g_object_unref);
    }
}

void EdsEventStore::watchSource(ESource* source) {
    if (!isCalendarOrTaskList(source)) return;
    std::string uid = e_source_get_uid(source);
    if (watches.contains(uid)) return;

    auto* watch = new Watch;
    watch->opening = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
    watches.emplace(uid, watch);
    ++openingWatches;
    auto* request = new OpenRequest{this, uid, watch->opening};
    const ECalClientSourceType type = e_source_has_extension(source, E_SOURCE_EXTENSION_CALENDAR)
                                          ? E_CAL_CLIENT_SOURCE_TYPE_EVENTS
                                          : E_CAL_CLIENT_SOURCE_TYPE_TASKS;
    // A finite wait makes local calendars wait all of it; the unlimited one returns at once.
    e_cal_client_connect(source, type, static_cast<guint32>(-1), watch->opening.get(),
                         onClientOpened, request);
}

void EdsEventStore::unwatchSource(ESource* source) {
    auto found = watches.find(e_source_get_uid(source));
    if (found == watches.end()) return;
    Watch* watch = found->second;
    watch->disconnect();
    const bool pending = watch->pending;
    delete watch;
    watches.erase(found);
    if (pending) watchSettled();
}

// After the calendar factory or a backend restarted, the old clients hear nothing more. Changes
// made meanwhile cannot be told apart, so one notice covers them.
void EdsEventStore::rewatchAll() {
    for (auto& [uid, watch] : watches) {
        watch->disconnect();
        delete watch;
    }
    watches.clear();
    openingWatches = 0;
    clients.clear();
    if (!changeHandler) return;
    watchAllSources();
    scheduleChange();
}

void EdsEventStore::onClientOpened(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<OpenRequest> request(static_cast<OpenRequest*>(data));
    g_autoptr(GError) error = nullptr;
    auto client = GObjectPtr<EClient>::adopt(e_cal_client_connect_finish(result, &error));
    // Cancelled: the watch (and perhaps the store) is gone.
    if (g_cancellable_is_cancelled(request->cancellable.get())) return;

    EdsEventStore* self = request->store;
    auto found = self->watches.find(request->uid);
    if (found == self->watches.end()) return;
    Watch* watch = found->second;
    watch->opening.reset();
    if (!client) {
        // Unreadable calendar: its registry entry still reports changes.
        self->settle(*watch);
        return;
    }
    watch->client = GObjectPtr<ECalClient>::retain(E_CAL_CLIENT(client.get()));
    watch->propertyHandler = g_signal_connect(client.get(), "backend-property-changed",
                                              G_CALLBACK(onBackendPropertyChanged), self);
    watch->diedHandler =
        g_signal_connect(client.get(), "backend-died", G_CALLBACK(onBackendDied), self);
    watch->revision = cachedRevision(client.get());
    if (!watch->revision.empty()) return self->settle(*watch);
    // A client that opened a calendar its backend was still loading holds no revision yet.
    // The first one it then hears is the baseline: taken before the watch counts as open, so
    // that a change made afterwards always differs from it.
    watch->baselineTimer = g_timeout_add_full(
        G_PRIORITY_DEFAULT, kBaselineLimitMs,
        [](gpointer data) -> gboolean {
            auto* wait = static_cast<BaselineWait*>(data);
            auto found = wait->store->watches.find(wait->uid);
            if (found != wait->store->watches.end()) {
                Watch& watch = *found->second;
                watch.baselineTimer = 0;
                watch.revision = cachedRevision(E_CLIENT(watch.client.get()));
                wait->store->settle(watch);
            }
            return G_SOURCE_REMOVE;
        },
        new BaselineWait{self, request->uid},
        [](gpointer data) { delete static_cast<BaselineWait*>(data); });
}

// From the client's cached properties, no round trip; empty when it has none yet.
std::string EdsEventStore::cachedRevision(EClient* client) {
    g_autofree gchar* revision = nullptr;
    if (e_client_get_backend_property_sync(client, CLIENT_BACKEND_PROPERTY_REVISION, &revision,
                                           nullptr, nullptr) &&
        revision != nullptr)
        return revision;
    return {};
}

void EdsEventStore::settle(Watch& watch) {
    if (watch.baselineTimer != 0) g_source_remove(watch.baselineTimer);
    watch.baselineTimer = 0;
    if (!watch.pending) return;
    watch.pending = false;
    watchSettled();
}

void EdsEventStore::watchSettled() {
    --openingWatches;
    if (openingWatches == 0 && reconnecting && accessTimer != 0) answerAccessRequests();
}

void EdsEventStore::onBackendDied(EClient*, gpointer self) {
    // Not from inside the dying client's own signal, which rewatching would unref.
    static_cast<EdsEventStore*>(self)->onMainContext(
        [](EdsEventStore& store) { store.rewatchAll(); });
}

void EdsEventStore::onBackendPropertyChanged(EClient* client, const char* name, const char* value,
                                             gpointer self) {
    // The revision moves with every write to the calendar, whoever made it.
    if (std::strcmp(name, CLIENT_BACKEND_PROPERTY_REVISION) != 0) return;
    auto* store = static_cast<EdsEventStore*>(self);
    const std::string revision = value != nullptr ? value : "";
    for (auto& [uid, watch] : store->watches) {
        if (watch->client.get() != E_CAL_CLIENT(client)) continue;
        if (watch->revision == revision) return;
        // Until the client has heard its calendar's revision it reports an empty one; the
        // first real value then is news to the client only, and the baseline if it was waited for.
        const bool learned = watch->revision.empty();
        watch->revision = revision;
        if (!learned) break;
        store->settle(*watch);
        return;
    }
    store->scheduleChange();
}

void EdsEventStore::onSourceChanged(ESourceRegistry*, ESource* source, gpointer self) {
    if (isCalendarOrTaskList(source)) static_cast<EdsEventStore*>(self)->scheduleChange();
}

void EdsEventStore::onSourceAdded(ESourceRegistry*, ESource* source, gpointer self) {
    auto* store = static_cast<EdsEventStore*>(self);
    if (!isCalendarOrTaskList(source)) return;
    if (e_source_get_enabled(source) && store->changeHandler) store->watchSource(source);
    store->scheduleChange();
}

void EdsEventStore::onSourceRemoved(ESourceRegistry*, ESource* source, gpointer self) {
    auto* store = static_cast<EdsEventStore*>(self);
    if (!isCalendarOrTaskList(source)) return;
    store->unwatchSource(source);
    store->scheduleChange();
}

void EdsEventStore::scheduleChange() {
    if (!changeHandler || changeTimer != 0) return;
    changeTimer = g_timeout_add(kChangeCoalescingMs, onChangeDue, this);
}

gboolean EdsEventStore::onChangeDue(gpointer self) {
    auto* store = static_cast<EdsEventStore*>(self);
    store->changeTimer = 0;
    store->changeHandler();
    return G_SOURCE_REMOVE;
}

void EdsEventStore::onNameAppeared(GDBusConnection*, const char* name, const char*, gpointer self) {
    auto* store = static_cast<EdsEventStore*>(self);
    if (std::strcmp(name, kRegistryBusName) == 0) {
        store->registryOwned = true;
    } else if (!store->factoryOwned.exchange(true)) {
        store->rewatchAll();
    }
}

void EdsEventStore::onNameVanished(GDBusConnection*, const char* name, gpointer self) {
    auto* store = static_cast<EdsEventStore*>(self);
    (std::strcmp(name, kRegistryBusName) == 0 ? store->registryOwned : store->factoryOwned) = false;
}

void EdsEventStore::onBusClosed(GDBusConnection*, gboolean, GError*, gpointer self) {
    static_cast<EdsEventStore*>(self)->busOpen = false;
}

}  // namespace lumory::cal
