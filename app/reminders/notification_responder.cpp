#include "reminders/notification_responder.h"

#include <cmath>

#include "json_fields.h"
#include "page/page_scripts.h"
#include "reminders/reminder_content.h"

namespace lumory {

namespace {

constexpr int kSnoozeMinutes = 10;

// The user info's `reminder` when it is an object.
const nlohmann::json* reminderOf(const NotificationRequest& notification) {
    return objectField(notification.content.userInfo, "reminder");
}

}  // namespace

NotificationResponder::NotificationResponder(NotificationCenter& notificationCenter,
                                             const Clock& clock, MainQueue& mainQueue,
                                             Features features)
    : notificationCenter_(notificationCenter),
      clock_(clock),
      mainQueue_(mainQueue),
      features_(features) {}

bool NotificationResponder::notificationDueWhileActive(const NotificationRequest& notification) {
    if (const nlohmann::json* reminder = reminderOf(notification)) {
        features_.bridge.sendReminderEvent("lumory-reminder-delivered", *reminder);
    }
    return notification.content.sound;
}

void NotificationResponder::notificationActivated(const NotificationResponse& response,
                                                  std::function<void()> completion) {
    const nlohmann::json* reminder = reminderOf(response.notification);
    if (response.actionIdentifier == kSnoozeAction && reminder != nullptr) {
        snoozeNativeNotification(response.notification, *reminder, kSnoozeMinutes);
        features_.actions.queueReminderAction(*reminder, "snooze", kSnoozeMinutes);
        completion();
        return;
    }
    if (response.actionIdentifier == kDoneAction && reminder != nullptr) {
        features_.actions.queueReminderAction(*reminder, "complete", std::nullopt);
        completion();
        return;
    }
    // A click on the notification itself, or a button without a reminder behind it.
    pendingReminderPath = stringField(response.notification.content.userInfo, "path");
    if (reminder != nullptr) {
        pendingReminderEvent = nlohmann::json{{"reminder", *reminder}, {"action", "open"}};
    }
    mainQueue_.post([weak = lifetime_.weak(), token = response.activationToken,
                     completion = std::move(completion)] {
        if (auto* self = weak.get()) {
            // The token lets the window come forward past focus-stealing prevention.
            self->features_.desktop.activateWithToken(token);
            self->features_.window.present();
            self->deliverPendingReminder();
        }
        completion();
    });
}

void NotificationResponder::snoozeNativeNotification(const NotificationRequest& notification,
                                                     const nlohmann::json& reminder,
                                                     int minutes) {
    auto id = stringField(reminder, "id");
    if (!id) return;
    auto now = clock_.now();
    auto delay = std::chrono::minutes(minutes);
    double at = unixSeconds(now + delay) * 1000.0;
    nlohmann::json copy = reminder;
    copy["at"] = at;
    copy["deliveryId"] = *id + ".native." + std::to_string(static_cast<long long>(std::trunc(at)));
    copy["detail"] = "Snoozed for " + std::to_string(minutes) + " minutes";
    NotificationContent content = notification.content;
    if (!content.userInfo.is_object()) content.userInfo = nlohmann::json::object();
    content.userInfo["reminder"] = copy;
    notificationCenter_.add(
        {copy["deliveryId"].get<std::string>(), std::move(content), now + delay});
}

void NotificationResponder::deliverPendingReminder() {
    if (!features_.service.isConnected()) return;
    std::string url = features_.page.mainView().currentUri();
    if (url.empty() || !features_.page.isInternal(url)) return;
    if (pendingReminderEvent) {
        nlohmann::json event = std::move(*pendingReminderEvent);
        pendingReminderEvent.reset();
        pendingReminderPath.reset();
        features_.bridge.sendReminderEvent("lumory-reminder-action", event);
        return;
    }
    if (pendingReminderPath) {
        std::string path = std::move(*pendingReminderPath);
        pendingReminderPath.reset();
        if (auto script = pageEventScript("lumory-open-note", nlohmann::json{{"path", path}})) {
            features_.page.mainView().evaluateJavascript(*script, nullptr);
        }
    }
}

}  // namespace lumory
