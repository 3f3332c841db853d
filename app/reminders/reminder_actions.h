#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/http_client.h"
#include "platform/main_queue.h"
#include "service/service_supervisor.h"
#include "weak_handle.h"

namespace lumory {

// What the user pressed on a reminder's notification (Snooze, Done), handed to the service with
// one POST; kept until the service has taken it.
class ReminderActions {
public:
    ReminderActions(HttpClient& http, MainQueue& mainQueue, const ServiceSupervisor& service);

    void queueReminderAction(const nlohmann::json& reminder, const std::string& action,
                             std::optional<int> snoozeMinutes);
    // Sends the waiting action, if any, once the service has announced where it serves.
    void postPendingReminderAction();

    const std::optional<nlohmann::json>& pendingReminderAction() const {
        return pendingReminderAction_;
    }

private:
    HttpClient& http_;
    MainQueue& mainQueue_;
    const ServiceSupervisor& service_;
    std::optional<nlohmann::json> pendingReminderAction_;

    Lifetime<ReminderActions> lifetime_{this};
};

}  // namespace lumory
