#pragma once

// A D-Bus service of a test on a private bus, served from a thread of its own with its own main
// context, so that it answers while the test's thread blocks or runs its own loop.

#include <gio/gio.h>

#include <mutex>
#include <string>

#include "main_loop_thread.h"

namespace lumory::testing {

// A connection of its own to the bus at `address`, as another program would have; null when the
// bus cannot be reached. The caller owns it.
GDBusConnection* connectToBus(const std::string& address);

// Asks the bus for `name` without queueing; true when `connection` became its primary owner.
bool requestName(GDBusConnection* connection, const std::string& name);

class BusServiceThread {
public:
    // Exports the first interface of `introspectionXml` at `path` with `vtable` (called on the
    // service's thread with `userData`), then owns `name`: a client that sees the name can call
    // at once. Returns once the name is owned or could not be.
    BusServiceThread(const std::string& busAddress, const std::string& name,
                     const std::string& path, const char* introspectionXml,
                     const GDBusInterfaceVTable& vtable, gpointer userData);
    BusServiceThread(const BusServiceThread&) = delete;
    BusServiceThread& operator=(const BusServiceThread&) = delete;

    // True once the service owns its name.
    bool started() const;
    // The service's connection, safe to use from any thread (for signals); null when the bus
    // could not be reached.
    GDBusConnection* connection() const;

private:
    // Both on the service's thread.
    bool exportAndOwn(const std::string& busAddress, const std::string& name,
                      const std::string& path, const char* introspectionXml,
                      const GDBusInterfaceVTable& vtable, gpointer userData);
    void leave();

    mutable std::mutex mutex_;
    GDBusConnection* connection_ = nullptr;
    guint registration_ = 0;
    bool owned_ = false;
    // Last: the service stops answering before the rest goes.
    MainLoopThread thread_;
};

}  // namespace lumory::testing
