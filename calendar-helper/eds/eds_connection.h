#pragma once

// The link to Evolution Data Server: the session bus, the source registry, and whether the
// registry and the calendar factory answer there. Linux asks no permission, so the store reports
// full access exactly while both services answer.

#include <libecal/libecal.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "gobject_ptr.h"

namespace lumory::cal::eds {

class Connection {
public:
    // What connecting found: made by blocking calls on any thread, installed on the main context.
    struct Probe {
        GObjectPtr<GDBusConnection> bus;
        GObjectPtr<ESourceRegistry> registry;
        bool registryActivatable = false;
        bool factoryActivatable = false;
        bool factoryRuns = false;
    };
    // Blocking D-Bus calls only (any thread but the main context's, once it runs).
    static Probe probe();

    // `factoryReturned` runs on the main context when the calendar factory owns its bus name
    // again after it was gone: clients opened before hear nothing more.
    explicit Connection(std::function<void()> factoryReturned);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Main context only.
    void install(Probe probe);
    void close();

    // Any thread.
    bool reachable() const;
    // The source registry, or null while not connected.
    GObjectPtr<ESourceRegistry> registry() const;

private:
    static void onNameAppeared(GDBusConnection*, const char* name, const char*, gpointer self);
    static void onNameVanished(GDBusConnection*, const char* name, gpointer self);
    static void onBusClosed(GDBusConnection*, gboolean, GError*, gpointer self);

    std::function<void()> factoryReturned;

    // Guards bus and registry for readers on other threads; the main context replaces them.
    mutable std::mutex lock;
    GObjectPtr<GDBusConnection> bus;
    GObjectPtr<ESourceRegistry> sources;

    std::atomic<bool> busOpen{false};
    std::atomic<bool> registryOwned{false};
    std::atomic<bool> factoryOwned{false};
    std::atomic<bool> registryActivatable{false};
    std::atomic<bool> factoryActivatable{false};

    guint registryNameWatch = 0;
    guint factoryNameWatch = 0;
    gulong busClosedHandler = 0;
};

}  // namespace lumory::cal::eds
