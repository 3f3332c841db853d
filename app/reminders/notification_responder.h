#pragma once

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "page/page_host.h"
#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/main_queue.h"
#include "platform/notification_center.h"
#include "reminders/reminder_actions.h"
#include "reminders/reminder_bridge.h"
#include "service/service_supervisor.h"
#include "window/main_window_controller.h"
#include "weak_handle.h"

namespace lumory {

// What happens when a reminder comes due while the shell is in front, and when the user answers
// a reminder's notification: Snooze and Done go to the service, a click opens the reminder's
// note once the page can take it.
class NotificationResponder : public NotificationCenterDelegate {
public:
    struct Features {
        Desktop& desktop;
        MainWindowController& window;
        PageHost& page;
        const ServiceSupervisor& service;
        ReminderBridge& bridge;
        ReminderActions& actions;
    };
    NotificationResponder(NotificationCenter& notificationCenter, const Clock& clock,
                          MainQueue& mainQueue, Features features);

    bool notificationDueWhileActive(const NotificationRequest& notification) override;
    void notificationActivated(const NotificationResponse& response,
                               std::function<void()> completion) override;
    void snoozeNativeNotification(const NotificationRequest& notification,
                                  const nlohmann::json& reminder, int minutes);
    // Hands the page the note or reminder a click asked for, once the service's page shows.
    void deliverPendingReminder();

private:
    NotificationCenter& notificationCenter_;
    const Clock& clock_;
    MainQueue& mainQueue_;
    Features features_;
    std::optional<std::string> pendingReminderPath;
    std::optional<nlohmann::json> pendingReminderEvent;

    Lifetime<NotificationResponder> lifetime_{this};
};

}  // namespace lumory
