#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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
    };

    NotificationTestServer(std::string busAddress,
                           std::vector<std::string> capabilities = {"actions", "body", "sound"});
    ~NotificationTestServer();
    NotificationTestServer(const NotificationTestServer&) = delete;
    NotificationTestServer& operator=(const NotificationTestServer&) = delete;

    // True once the server owns its name.
    bool started() const { return started_; }

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

    // Answers one method call (a GVariant and a GDBusMethodInvocation), on the server's thread.
    void methodCalled(const char* method, void* parameters, void* invocation);

private:
    void run();
    void emit(const char* signal, void* parameters);

    std::string address_;
    std::vector<std::string> capabilities_;
    std::thread thread_;
    void* context_ = nullptr;
    void* loop_ = nullptr;
    void* connection_ = nullptr;
    bool started_ = false;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool ready_ = false;
    std::vector<Notification> notifications_;
    std::vector<std::uint32_t> closed_;
    std::uint32_t nextId_ = 1;
};

}  // namespace lumory::testing
