#include "eds_connection.h"

#include <cstring>

namespace lumory::cal::eds {
namespace {

// Bus names of the services that EDS 3.46 activates on the session bus.
constexpr const char* kRegistryBusName = "org.gnome.evolution.dataserver.Sources5";
constexpr const char* kCalendarFactoryBusName = "org.gnome.evolution.dataserver.Calendar8";
constexpr int kStartServiceTimeoutMs = 30'000;

// Whether the bus starts the registry and the calendar factory on demand, in one round trip.
void findActivatable(GDBusConnection* bus, bool& registry, bool& factory) {
    g_autoptr(GVariant) names = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE,
        kStartServiceTimeoutMs, nullptr, nullptr);
    if (names == nullptr) return;
    g_autofree const gchar** list = nullptr;
    g_variant_get(names, "(^a&s)", &list);
    for (const gchar** entry = list; entry != nullptr && *entry != nullptr; ++entry) {
        registry = registry || std::strcmp(*entry, kRegistryBusName) == 0;
        factory = factory || std::strcmp(*entry, kCalendarFactoryBusName) == 0;
    }
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

Connection::Probe Connection::probe() {
    Probe found;
    g_autoptr(GError) error = nullptr;
    found.bus =
        GObjectPtr<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    if (!found.bus) return found;
    // The shared connection ends the process when the bus goes away unless told otherwise.
    g_dbus_connection_set_exit_on_close(found.bus.get(), FALSE);

    // Without EDS on this bus the registry would wait for its service until a long timeout.
    findActivatable(found.bus.get(), found.registryActivatable, found.factoryActivatable);
    const bool registryPresent =
        found.registryActivatable || owned(found.bus.get(), kRegistryBusName);
    found.factoryRuns =
        (found.factoryActivatable || owned(found.bus.get(), kCalendarFactoryBusName)) &&
        startService(found.bus.get(), kCalendarFactoryBusName);
    // Made on a thread without a main context of its own, the registry signals on the global
    // default one, where the calendar monitor follows it.
    if (registryPresent)
        found.registry =
            GObjectPtr<ESourceRegistry>::adopt(e_source_registry_new_sync(nullptr, nullptr));
    return found;
}

Connection::Connection(std::function<void()> factoryReturned)
    : factoryReturned(std::move(factoryReturned)) {}

Connection::~Connection() {
    close();
}

void Connection::install(Probe probe) {
    if (!probe.bus) return;
    auto newBus = std::move(probe.bus);
    registryActivatable = probe.registryActivatable;
    factoryActivatable = probe.factoryActivatable;
    registryOwned = static_cast<bool>(probe.registry);
    factoryOwned = probe.factoryRuns;
    busOpen = !g_dbus_connection_is_closed(newBus.get());

    busClosedHandler = g_signal_connect(newBus.get(), "closed", G_CALLBACK(onBusClosed), this);
    registryNameWatch = g_bus_watch_name_on_connection(
        newBus.get(), kRegistryBusName, G_BUS_NAME_WATCHER_FLAGS_NONE, onNameAppeared,
        onNameVanished, this, nullptr);
    factoryNameWatch = g_bus_watch_name_on_connection(newBus.get(), kCalendarFactoryBusName,
                                                      G_BUS_NAME_WATCHER_FLAGS_NONE, onNameAppeared,
                                                      onNameVanished, this, nullptr);

    std::lock_guard guard(lock);
    bus = std::move(newBus);
    sources = std::move(probe.registry);
}

void Connection::close() {
    if (registryNameWatch != 0) g_bus_unwatch_name(registryNameWatch);
    if (factoryNameWatch != 0) g_bus_unwatch_name(factoryNameWatch);
    registryNameWatch = factoryNameWatch = 0;

    GObjectPtr<GDBusConnection> oldBus;
    GObjectPtr<ESourceRegistry> oldRegistry;
    {
        std::lock_guard guard(lock);
        oldBus = std::move(bus);
        oldRegistry = std::move(sources);
    }
    if (oldBus && busClosedHandler != 0)
        g_signal_handler_disconnect(oldBus.get(), busClosedHandler);
    busClosedHandler = 0;
    busOpen = registryOwned = factoryOwned = false;
}

bool Connection::reachable() const {
    std::lock_guard guard(lock);
    return busOpen && sources && (registryOwned || registryActivatable) &&
           (factoryOwned || factoryActivatable);
}

GObjectPtr<ESourceRegistry> Connection::registry() const {
    std::lock_guard guard(lock);
    return sources;
}

void Connection::onNameAppeared(GDBusConnection*, const char* name, const char*, gpointer self) {
    auto* connection = static_cast<Connection*>(self);
    if (std::strcmp(name, kRegistryBusName) == 0) {
        connection->registryOwned = true;
    } else if (!connection->factoryOwned.exchange(true)) {
        connection->factoryReturned();
    }
}

void Connection::onNameVanished(GDBusConnection*, const char* name, gpointer self) {
    auto* connection = static_cast<Connection*>(self);
    (std::strcmp(name, kRegistryBusName) == 0 ? connection->registryOwned
                                              : connection->factoryOwned) = false;
}

void Connection::onBusClosed(GDBusConnection*, gboolean, GError*, gpointer self) {
    static_cast<Connection*>(self)->busOpen = false;
}

}  // namespace lumory::cal::eds
