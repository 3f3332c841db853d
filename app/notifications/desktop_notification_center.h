#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/main_queue.h"
#include "platform/notification_center.h"
#include "platform/notification_server.h"
#include "weak_handle.h"

namespace lumory {

inline constexpr std::string_view kNotificationAppName = "Lumory";
// The desktop file and icon name the notifications point at.
inline constexpr std::string_view kNotificationDesktopEntry = "org.lumory.Lumory";
inline constexpr std::string_view kNotificationOpenLabel = "Open";
// The freedesktop sound naming specification's sound for a message that needs attention.
inline constexpr std::string_view kNotificationSoundName = "message-new-instant";

// What the centre needs from the rest of the desktop besides the server and the alarm.
struct NotificationCenterHooks {
    // True while the shell's main window is the active window.
    std::function<bool()> applicationIsActive;
    // Plays the desktop's event sound for a notification that shows no banner.
    std::function<void()> playEventSound;
    std::function<bool()> openSettings;
    // Told of every request added, for the end-to-end tests' probe; may be empty.
    std::function<void(const NotificationRequest&)> requestAdded;
};

// Keeps the shell's pending notification requests itself (a freedesktop server has no notion of
// a notification that is not shown yet) and hands each to the server when it is due. Pending
// requests live in this process only: a server that restarts or goes away loses none of them.
class DesktopNotificationCenter : public NotificationCenter, public NotificationServerListener {
public:
    DesktopNotificationCenter(NotificationServer& server, WallClockAlarm& alarm, const Clock& clock,
                              MainQueue& mainQueue, NotificationCenterHooks hooks);
    ~DesktopNotificationCenter() override;
    DesktopNotificationCenter(const DesktopNotificationCenter&) = delete;
    DesktopNotificationCenter& operator=(const DesktopNotificationCenter&) = delete;

    // NotificationCenter.
    void setDelegate(NotificationCenterDelegate* delegate) override;
    void setCategories(const std::vector<NotificationCategory>& categories) override;
    void pendingIdentifiers(std::function<void(std::vector<std::string>)> done) override;
    void removePending(const std::vector<std::string>& identifiers) override;
    void add(NotificationRequest request) override;
    void permission(std::function<void(PermissionStatus)> done) override;
    void requestPermission(std::function<void(std::optional<std::string>)> done) override;
    bool openSettings() override;

    // NotificationServerListener.
    void actionInvoked(std::uint32_t id, const std::string& actionKey) override;
    void activationToken(std::uint32_t id, const std::string& token) override;
    void notificationClosed(std::uint32_t id) override;
    void serverChanged(bool present) override;

    // Hands every request whose time has come to the server (or to the delegate while the shell
    // is in front) and arms the alarm for the next one.
    void deliverDue();

    // What the server is asked to show for `content`, given the server's capabilities.
    DesktopNotification notificationFor(const NotificationContent& content,
                                        const std::vector<std::string>& capabilities) const;

    size_t pendingCount() const { return pending_.size(); }
    size_t shownCount() const { return shown_.size(); }
    size_t shownByIdentifierCount() const { return shownByIdentifier_.size(); }

private:
    struct Pending {
        NotificationRequest request;
        std::uint64_t order;
    };
    struct Shown {
        NotificationRequest request;
        std::string activationToken;
    };
    // Signals about an id that no Notify reply has named yet.
    struct Early {
        std::string token;
        std::optional<std::string> action;
        bool closed = false;
    };
    using DueKey = std::pair<std::chrono::system_clock::time_point, std::uint64_t>;

    void erasePending(const std::string& identifier);
    void rearm();
    void present(const NotificationRequest& request);
    void show(const NotificationRequest& request);
    void forgetShown(std::uint32_t id);
    // `identifier` is passed along for callers that already moved the request out.
    void forgetShown(std::uint32_t id, const std::string& identifier);
    // The server's answer to Notify for `request`: its id, or nothing when no server took it.
    void shown(const NotificationRequest& request, std::optional<std::uint32_t> id);

    NotificationServer& server_;
    WallClockAlarm& alarm_;
    const Clock& clock_;
    MainQueue& mainQueue_;
    NotificationCenterHooks hooks_;
    NotificationCenterDelegate* delegate_ = nullptr;
    std::unordered_map<std::string, std::vector<NotificationAction>> categories_;

    std::unordered_map<std::string, Pending> pending_;
    std::map<std::uint64_t, std::string> order_;  // pending identifiers in the order added
    std::map<DueKey, std::string> due_;           // pending identifiers by due time
    std::uint64_t nextOrder_ = 0;
    std::optional<std::chrono::system_clock::time_point> armedAt_;

    std::unordered_map<std::uint32_t, Shown> shown_;
    std::unordered_map<std::string, std::uint32_t> shownByIdentifier_;
    int notifiesInFlight_ = 0;
    std::unordered_map<std::uint32_t, Early> early_;
    // Due requests that no server took; shown when a server appears.
    std::map<std::string, NotificationRequest> waitingForServer_;

    // Server answers that come back later check it first.
    Lifetime<DesktopNotificationCenter> lifetime_{this};
};

}  // namespace lumory
