#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

#include "platform/clock.h"
#include "platform/notification_center.h"
#include "weak_handle.h"

namespace lumory {

// Keeps the notification centre's pending reminders equal to the page's latest list.
class ReminderScheduler {
public:
    ReminderScheduler(NotificationCenter& notificationCenter, const Clock& clock);

    // Makes `delegate` hear about shown reminders and gives reminders their two buttons.
    void registerReminderCategories(NotificationCenterDelegate& delegate);
    // The page's whole list: reminders no longer in it are withdrawn, new ones added. A newer
    // list that arrives before the pending query is answered replaces this one.
    void scheduleReminders(nlohmann::json notifications);
    void scheduleTestReminder(bool sound);

private:
    void reconcile(nlohmann::json& notifications, const std::vector<std::string>& pending);

    NotificationCenter& notificationCenter_;
    const Clock& clock_;
    std::int64_t reminderGeneration = 0;

    Lifetime<ReminderScheduler> lifetime_{this};
};

}  // namespace lumory
