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

enum class PermissionStatus { NotDetermined, Denied, Authorized, Provisional, Ephemeral };

// Receives what happens to shown notifications; called on the main thread.
class NotificationCenterDelegate {
public:
    virtual ~NotificationCenterDelegate() = default;
    // A notification is due while the shell is the active application. Answers whether its
    // sound should play; no banner is shown.
    virtual bool notificationDueWhileActive(const NotificationRequest& notification) = 0;
    // `completion` must be called exactly once.
    virtual void notificationActivated(const NotificationResponse& response,
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
    virtual void pendingIdentifiers(std::function<void(std::vector<std::string>)> done) = 0;
    virtual void removePending(const std::vector<std::string>& identifiers) = 0;
    // Replaces a pending request with the same identifier.
    virtual void add(NotificationRequest request) = 0;
    virtual void permission(std::function<void(PermissionStatus)> done) = 0;
    // `done` gets an error description, or nothing when the question was answered.
    virtual void requestPermission(std::function<void(std::optional<std::string>)> done) = 0;
    // Opens the desktop's notification settings where it offers a way; false otherwise.
    virtual bool openSettings() = 0;
};

}  // namespace lumory
