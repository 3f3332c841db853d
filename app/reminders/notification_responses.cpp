#include "app_delegate.h"

namespace lumory {

bool AppDelegate::willPresent(const NotificationRequest&) {
    return false;
}

void AppDelegate::didReceive(const NotificationResponse&, std::function<void()> completion) {
    completion();
}

void AppDelegate::snoozeNativeNotification(const NotificationRequest&, const nlohmann::json&, int) {
}

void AppDelegate::queueReminderAction(const nlohmann::json&, const std::string&,
                                      std::optional<int>) {}

void AppDelegate::postPendingReminderAction() {
    if (!pendingReminderAction) return;
}

void AppDelegate::deliverPendingReminder() {
    if (!connected) return;
}

}  // namespace lumory
