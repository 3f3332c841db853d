#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "dbus/bus_service_thread.h"

namespace lumory::testing {

// A stand-in for GNOME's session manager (org.gnome.SessionManager) on a private bus, served
// from a thread of its own: applications register with it, it keeps their logout inhibitions,
// and the test makes it ask them whether the session may end, and then end it.
class FakeSessionManager {
public:
    struct Inhibition {
        std::string appId;
        std::string reason;
        std::uint32_t flags = 0;
        std::uint32_t cookie = 0;
        bool released = false;
    };

    explicit FakeSessionManager(const std::string& busAddress);
    FakeSessionManager(const FakeSessionManager&) = delete;
    FakeSessionManager& operator=(const FakeSessionManager&) = delete;

    // True once it owns its name on the bus.
    bool started() const { return service_.started(); }

    // What happened, in order: "register:APP", "inhibit:COOKIE:FLAGS:REASON",
    // "uninhibit:COOKIE", "response:APP:true|false".
    std::vector<std::string> log() const;
    std::vector<Inhibition> inhibitions() const;
    // Waits until `done` holds for the log.
    bool waitFor(const std::function<bool(const std::vector<std::string>&)>& done,
                 std::chrono::milliseconds timeout) const;

    // The session is about to end: every registered client is asked (QueryEndSession).
    void queryEndSession();
    // The session ends now, as after "Log Out Anyway" (EndSession).
    void endSession();

    // GDBus's entry point for the manager's and the clients' methods.
    static void methodCalled(GDBusConnection*, const gchar* sender, const gchar* path,
                             const gchar* interface, const gchar* method, GVariant* parameters,
                             GDBusMethodInvocation* invocation, gpointer self);

private:
    void emitToClients(const char* signal, GVariant* parameters);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> log_;
    std::vector<Inhibition> inhibitions_;
    std::vector<std::string> clientPaths_;
    std::map<std::string, std::string> clientApps_;  // by client path
    std::uint32_t nextCookie_ = 1;
    // Last: it stops answering before the state its calls use goes.
    BusServiceThread service_;
};

}  // namespace lumory::testing
