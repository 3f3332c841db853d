#include "eds_calendar_monitor.h"

#include <cstring>

namespace lumory::cal::eds {
namespace {

// Bursts (an edit fires a revision change per backend plus registry updates) become one notice.
constexpr guint kChangeCoalescingMs = 100;
// A client that opens before its calendar's revision reached it hears it a few milliseconds
// later; a calendar that never reports one must not hold start-up for long.
constexpr guint kBaselineLimitMs = 1000;

bool isCalendarOrTaskList(ESource* source) {
    return e_source_has_extension(source, E_SOURCE_EXTENSION_CALENDAR) ||
           e_source_has_extension(source, E_SOURCE_EXTENSION_TASK_LIST);
}

}  // namespace

struct CalendarMonitor::Watch {
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

    ~Watch() {
        if (opening) g_cancellable_cancel(opening.get());
        if (baselineTimer != 0) g_source_remove(baselineTimer);
        if (!client) return;
        if (propertyHandler != 0) g_signal_handler_disconnect(client.get(), propertyHandler);
        if (diedHandler != 0) g_signal_handler_disconnect(client.get(), diedHandler);
    }
};

struct CalendarMonitor::BaselineWait {
    CalendarMonitor* monitor;
    std::string uid;
};

struct CalendarMonitor::OpenRequest {
    CalendarMonitor* monitor;
    std::string uid;
    GObjectPtr<GCancellable> cancellable;
};

CalendarMonitor::CalendarMonitor(Hooks hooks) : hooks(std::move(hooks)) {}

CalendarMonitor::~CalendarMonitor() {
    stop();
}

void CalendarMonitor::follow(ESourceRegistry* newRegistry) {
    if (registry.get() == newRegistry) return;
    for (gulong handler : registryHandlers) g_signal_handler_disconnect(registry.get(), handler);
    registryHandlers.clear();
    registry = GObjectPtr<ESourceRegistry>::retain(newRegistry);
    if (!registry) return;
    for (const char* signal : {"source-added", "source-enabled"})
        registryHandlers.push_back(
            g_signal_connect(registry.get(), signal, G_CALLBACK(onSourceAdded), this));
    for (const char* signal : {"source-removed", "source-disabled"})
        registryHandlers.push_back(
            g_signal_connect(registry.get(), signal, G_CALLBACK(onSourceRemoved), this));
    registryHandlers.push_back(
        g_signal_connect(registry.get(), "source-changed", G_CALLBACK(onSourceChanged), this));
}

void CalendarMonitor::watchAll(ESourceRegistry* newRegistry) {
    follow(newRegistry);
    if (!registry) return;
    for (const char* extension : {E_SOURCE_EXTENSION_CALENDAR, E_SOURCE_EXTENSION_TASK_LIST}) {
        GList* sources = e_source_registry_list_enabled(registry.get(), extension);
        for (GList* item = sources; item != nullptr; item = item->next)
            watchSource(E_SOURCE(item->data));
        g_list_free_full(sources, g_object_unref);
    }
}

void CalendarMonitor::rewatchAll(ESourceRegistry* newRegistry) {
    dropWatches();
    watchAll(newRegistry);
    scheduleChange();
}

void CalendarMonitor::stop() {
    dropWatches();
    if (changeTimer != 0) g_source_remove(changeTimer);
    changeTimer = 0;
    follow(nullptr);
}

void CalendarMonitor::dropWatches() {
    watches.clear();
    openingWatches = 0;
}

void CalendarMonitor::waitUntilOpen(std::chrono::milliseconds limit) {
    if (openingWatches == 0) return;
    GMainContext* context = g_main_context_default();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    guint wakeUp = g_timeout_add(
        50, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (openingWatches > 0 && std::chrono::steady_clock::now() < deadline)
        g_main_context_iteration(context, TRUE);
    g_source_remove(wakeUp);
}

void CalendarMonitor::watchSource(ESource* source) {
    if (!isCalendarOrTaskList(source)) return;
    std::string uid = e_source_get_uid(source);
    if (watches.contains(uid)) return;

    auto& watch = *watches.emplace(uid, std::make_unique<Watch>()).first->second;
    watch.opening = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
    ++openingWatches;
    auto* request = new OpenRequest{this, uid, watch.opening};
    const ECalClientSourceType type = e_source_has_extension(source, E_SOURCE_EXTENSION_CALENDAR)
                                          ? E_CAL_CLIENT_SOURCE_TYPE_EVENTS
                                          : E_CAL_CLIENT_SOURCE_TYPE_TASKS;
    // A finite wait makes local calendars wait all of it; the unlimited one returns at once.
    e_cal_client_connect(source, type, static_cast<guint32>(-1), watch.opening.get(),
                         onClientOpened, request);
}

void CalendarMonitor::unwatchSource(ESource* source) {
    auto found = watches.find(e_source_get_uid(source));
    if (found == watches.end()) return;
    const bool pending = found->second->pending;
    watches.erase(found);
    if (pending) watchSettled();
}

void CalendarMonitor::onClientOpened(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<OpenRequest> request(static_cast<OpenRequest*>(data));
    g_autoptr(GError) error = nullptr;
    auto client = GObjectPtr<EClient>::adopt(e_cal_client_connect_finish(result, &error));
    // Cancelled: the watch (and perhaps the monitor) is gone.
    if (g_cancellable_is_cancelled(request->cancellable.get())) return;

    CalendarMonitor* self = request->monitor;
    auto found = self->watches.find(request->uid);
    if (found == self->watches.end()) return;
    Watch& watch = *found->second;
    watch.opening.reset();
    if (!client) {
        // Unreadable calendar: its registry entry still reports changes.
        self->settle(watch);
        return;
    }
    watch.client = GObjectPtr<ECalClient>::retain(E_CAL_CLIENT(client.get()));
    watch.propertyHandler = g_signal_connect(client.get(), "backend-property-changed",
                                             G_CALLBACK(onBackendPropertyChanged), self);
    watch.diedHandler =
        g_signal_connect(client.get(), "backend-died", G_CALLBACK(onBackendDied), self);
    watch.revision = cachedRevision(client.get());
    if (!watch.revision.empty()) return self->settle(watch);
    // A client that opened a calendar its backend was still loading holds no revision yet.
    // The first one it then hears is the baseline: taken before the watch counts as open, so
    // that a change made afterwards always differs from it.
    watch.baselineTimer = g_timeout_add_full(
        G_PRIORITY_DEFAULT, kBaselineLimitMs,
        [](gpointer data) -> gboolean {
            auto* wait = static_cast<BaselineWait*>(data);
            auto found = wait->monitor->watches.find(wait->uid);
            if (found != wait->monitor->watches.end()) {
                Watch& watch = *found->second;
                watch.baselineTimer = 0;
                watch.revision = cachedRevision(E_CLIENT(watch.client.get()));
                wait->monitor->settle(watch);
            }
            return G_SOURCE_REMOVE;
        },
        new BaselineWait{self, request->uid},
        [](gpointer data) { delete static_cast<BaselineWait*>(data); });
}

// From the client's cached properties, no round trip; empty when it has none yet.
std::string CalendarMonitor::cachedRevision(EClient* client) {
    g_autofree gchar* revision = nullptr;
    if (e_client_get_backend_property_sync(client, CLIENT_BACKEND_PROPERTY_REVISION, &revision,
                                           nullptr, nullptr) &&
        revision != nullptr)
        return revision;
    return {};
}

void CalendarMonitor::settle(Watch& watch) {
    if (watch.baselineTimer != 0) g_source_remove(watch.baselineTimer);
    watch.baselineTimer = 0;
    if (!watch.pending) return;
    watch.pending = false;
    watchSettled();
}

void CalendarMonitor::watchSettled() {
    --openingWatches;
    if (openingWatches == 0 && hooks.allOpen) hooks.allOpen();
}

void CalendarMonitor::onBackendDied(EClient*, gpointer self) {
    static_cast<CalendarMonitor*>(self)->hooks.backendDied();
}

void CalendarMonitor::onBackendPropertyChanged(EClient* client, const char* name, const char* value,
                                               gpointer self) {
    // The revision moves with every write to the calendar, whoever made it.
    if (std::strcmp(name, CLIENT_BACKEND_PROPERTY_REVISION) != 0) return;
    auto* monitor = static_cast<CalendarMonitor*>(self);
    const std::string revision = value != nullptr ? value : "";
    for (auto& [uid, watch] : monitor->watches) {
        if (watch->client.get() != E_CAL_CLIENT(client)) continue;
        if (watch->revision == revision) return;
        // Until the client has heard its calendar's revision it reports an empty one; the
        // first real value then is news to the client only, and the baseline if it was waited for.
        const bool learned = watch->revision.empty();
        watch->revision = revision;
        if (!learned) break;
        monitor->settle(*watch);
        return;
    }
    monitor->scheduleChange();
}

void CalendarMonitor::onSourceChanged(ESourceRegistry*, ESource* source, gpointer self) {
    if (isCalendarOrTaskList(source)) static_cast<CalendarMonitor*>(self)->scheduleChange();
}

void CalendarMonitor::onSourceAdded(ESourceRegistry*, ESource* source, gpointer self) {
    auto* monitor = static_cast<CalendarMonitor*>(self);
    if (!isCalendarOrTaskList(source)) return;
    if (e_source_get_enabled(source)) monitor->watchSource(source);
    monitor->scheduleChange();
}

void CalendarMonitor::onSourceRemoved(ESourceRegistry*, ESource* source, gpointer self) {
    auto* monitor = static_cast<CalendarMonitor*>(self);
    if (!isCalendarOrTaskList(source)) return;
    monitor->unwatchSource(source);
    monitor->scheduleChange();
}

void CalendarMonitor::scheduleChange() {
    if (changeTimer != 0) return;
    changeTimer = g_timeout_add(kChangeCoalescingMs, onChangeDue, this);
}

gboolean CalendarMonitor::onChangeDue(gpointer self) {
    auto* monitor = static_cast<CalendarMonitor*>(self);
    monitor->changeTimer = 0;
    monitor->hooks.changed();
    return G_SOURCE_REMOVE;
}

}  // namespace lumory::cal::eds
