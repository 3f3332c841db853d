#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace lumory {

struct NotificationAction {
    std::string identifier;
    std::string title;
};

struct NotificationCategory {
    std::string identifier;
    std::vector<NotificationAction> actions;
};

struct NotificationContent {
    std::string title;
    std::string body;
    std::string subtitle;
    bool sound = true;  // the desktop's default sound, or none
    std::string threadIdentifier;
    std::string categoryIdentifier;
    nlohmann::json userInfo = nlohmann::json::object();
};

// A notification to show at a wall-clock instant.
struct NotificationRequest {
    std::string identifier;
    NotificationContent content;
    std::chrono::system_clock::time_point due;
};

inline constexpr std::string_view kDefaultActionIdentifier = "default";

struct NotificationResponse {
    NotificationRequest notification;
    std::string actionIdentifier;  // kDefaultActionIdentifier for a click on the notification
    // What the notification server handed over so the window may take focus; may be empty.
    std::string activationToken;
};

enum class AuthorizationStatus { NotDetermined, Denied, Authorized, Provisional, Ephemeral };

// Receives what happens to shown notifications; called on the main thread.
class NotificationCenterDelegate {
public:
    virtual ~NotificationCenterDelegate() = default;
    // A notification is due while the shell is the active application. Answers whether its
    // sound should play; no banner is shown.
    virtual bool willPresent(const NotificationRequest& notification) = 0;
    // `completion` must be called exactly once.
    virtual void didReceive(const NotificationResponse& response,
                            std::function<void()> completion) = 0;
};

// The shell's pending notifications and the desktop's notification server. Completions run on
// the main thread.
class NotificationCenter {
public:
    virtual ~NotificationCenter() = default;
    virtual void setDelegate(NotificationCenterDelegate* delegate) = 0;
    virtual void setCategories(const std::vector<NotificationCategory>& categories) = 0;
    // The identifiers of the pending requests, in the order they were added.
    virtual void getPendingRequests(std::function<void(std::vector<std::string>)> done) = 0;
    virtual void removePendingRequests(const std::vector<std::string>& identifiers) = 0;
    // Replaces a pending request with the same identifier.
    virtual void add(NotificationRequest request) = 0;
    virtual void getAuthorizationStatus(std::function<void(AuthorizationStatus)> done) = 0;
    // `done` gets an error description, or nothing when the question was answered.
    virtual void requestAuthorization(std::function<void(std::optional<std::string>)> done) = 0;
    // Opens the desktop's notification settings where it offers a way; false otherwise.
    virtual bool openSettings() = 0;
};

// What a desktop notification server is asked to show.
struct DesktopNotification {
    std::string appName;
    std::uint32_t replacesId = 0;  // 0: a new notification
    std::string appIcon;
    std::string summary;
    std::string body;
    std::vector<NotificationAction> actions;  // key and label, in order
    std::string desktopEntry;
    std::string soundName;  // empty: the server's choice
    bool suppressSound = false;
};

// Receives what a notification server reports; called on the main thread.
class NotificationServerListener {
public:
    virtual ~NotificationServerListener() = default;
    virtual void actionInvoked(std::uint32_t id, const std::string& actionKey) = 0;
    // Arrives just before actionInvoked when the server hands over an activation token.
    virtual void activationToken(std::uint32_t id, const std::string& token) = 0;
    virtual void notificationClosed(std::uint32_t id) = 0;
    // The server name gained a new owner (`present`) or lost its owner; ids of the old owner
    // mean nothing any more.
    virtual void serverChanged(bool present) = 0;
};

// The desktop's notification server (org.freedesktop.Notifications). Completions run on the
// main thread, possibly before the call returns.
class NotificationServer {
public:
    virtual ~NotificationServer() = default;
    virtual void setListener(NotificationServerListener* listener) = 0;
    // What the current server can do ("actions", "body-markup", "sound", ...); empty when
    // there is no server.
    virtual void capabilities(std::function<void(std::vector<std::string>)> done) = 0;
    // The server's id for the notification, or nothing when no server took it.
    virtual void notify(const DesktopNotification& notification,
                        std::function<void(std::optional<std::uint32_t>)> done) = 0;
    virtual void close(std::uint32_t id) = 0;
    // True when a server owns the name or the bus can start one.
    virtual void isAvailable(std::function<void(bool)> done) = 0;
};

// A one-shot alarm at a wall-clock instant. Unlike a monotonic timer it is not late by the
// time the machine slept, and follows changes of the system clock.
class WallClockAlarm {
public:
    virtual ~WallClockAlarm() = default;
    // `wake` runs on the main thread when the armed instant has come, and also after a resume
    // from suspend or a change of the system clock, so the owner can look at the clock again.
    virtual void setWakeHandler(std::function<void()> wake) = 0;
    // Replaces any earlier instant.
    virtual void arm(std::chrono::system_clock::time_point at) = 0;
    virtual void disarm() = 0;
};

}  // namespace lumory
