#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/notification_center.h"

namespace lumory {

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
