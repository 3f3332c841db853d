#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "page/page_host.h"
#include "page/page_messages.h"
#include "platform/main_queue.h"
#include "platform/notification_center.h"
#include "reminders/reminder_scheduler.h"
#include "weak_handle.h"

namespace lumory {

// The page's reminder requests (permission, schedule, test, settings) and the events that
// answer them.
class ReminderBridge {
public:
    ReminderBridge(NotificationCenter& notificationCenter, ReminderScheduler& scheduler,
                   MainQueue& mainQueue, PageHost& page);

    void handleReminderMessage(ReminderRequest request);
    void sendReminderResult(const std::optional<std::string>& requestId,
                            const nlohmann::json& payload);
    // Dispatches the page event `name` in the main view from the main queue.
    void sendReminderEvent(std::string_view name, const nlohmann::json& detail);

private:
    void answerPermission(const std::optional<std::string>& requestId);

    NotificationCenter& notificationCenter_;
    ReminderScheduler& scheduler_;
    MainQueue& mainQueue_;
    PageHost& page_;

    Lifetime<ReminderBridge> lifetime_{this};
};

}  // namespace lumory
