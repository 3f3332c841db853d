#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dbus/bus_service_thread.h"

namespace lumory::testing {

// An org.freedesktop.Notifications server on a given bus, run on a thread of its own: it
// records every Notify and CloseNotification, and presses buttons when the test asks, as a
// user in front of GNOME Shell or KDE Plasma would.
class NotificationTestServer {
public:
    struct Notification {
        std::uint32_t id = 0;
        std::string appName;
        std::uint32_t replacesId = 0;
        std::string appIcon;
        std::string summary;
        std::string body;
        std::vector<std::string> actions;  // key, label, key, label, ...
        // Each hint printed as GVariant text (strings in quotes, booleans true/false).
        std::map<std::string, std::string> hints;
        std::int32_t expireTimeout = 0;
        // When the server's thread took the call, for measuring delivery delays.
        std::chrono::steady_clock::time_point arrived;
    };

    NotificationTestServer(const std::string& busAddress,
                           std::vector<std::string> capabilities = {"actions", "body", "sound"});
    NotificationTestServer(const NotificationTestServer&) = delete;
    NotificationTestServer& operator=(const NotificationTestServer&) = delete;

    // True once the server owns its name.
    bool started() const { return service_.started(); }

    // The first recorded notification from `from` on (an index into every Notify so far) for
    // which `wanted` holds.
    std::optional<Notification> waitForNotify(
        const std::function<bool(const Notification&)>& wanted, std::chrono::milliseconds timeout,
        size_t from = 0);
    std::vector<Notification> notifications() const;
    std::vector<std::uint32_t> closedByClient() const;

    // A press on a button (or, with "default", on the notification itself): the activation
    // token, the action, and the notification closing, in the order servers send them.
    void invokeAction(std::uint32_t id, const std::string& actionKey, const std::string& token);

    // Answers one method call, on the server's thread.
    void methodCalled(const char* method, GVariant* parameters, GDBusMethodInvocation* invocation);

private:
    void emit(const char* signal, GVariant* parameters);

    std::vector<std::string> capabilities_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notification> notifications_;
    std::vector<std::uint32_t> closed_;
    std::uint32_t nextId_ = 1;
    // Last: it stops answering before the state its calls use goes.
    BusServiceThread service_;
};

}  // namespace lumory::testing
