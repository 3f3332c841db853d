#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/http_client.h"
#include "platform/main_queue.h"
#include "service/service_supervisor.h"
#include "weak_handle.h"

namespace lumory {

// What the user pressed on reminders' notifications (Snooze, Done), handed to the service one
// POST at a time, in the order pressed. An action stays until the service has answered 200 for
// it: a failed POST is tried again after a growing pause, and at once when the service
// announces itself again.
class ReminderActions {
public:
    static constexpr std::chrono::seconds kFirstRetry{1};
    static constexpr std::chrono::seconds kLongestRetry{60};

    ReminderActions(HttpClient& http, MainQueue& mainQueue, const ServiceSupervisor& service);

    void queueReminderAction(const nlohmann::json& reminder, const std::string& action,
                             std::optional<int> snoozeMinutes);
    // Sends the oldest waiting action, if any and none is on its way, once the service has
    // announced where it serves.
    void postPendingReminderAction();

    size_t waitingCount() const { return pendingReminderActions.size(); }

private:
    void answered(bool delivered);

    HttpClient& http_;
    MainQueue& mainQueue_;
    const ServiceSupervisor& service_;
    std::deque<nlohmann::json> pendingReminderActions;
    bool posting_ = false;
    int failuresInARow_ = 0;
    std::unique_ptr<WorkItem> retry_;

    Lifetime<ReminderActions> lifetime_{this};
};

}  // namespace lumory
