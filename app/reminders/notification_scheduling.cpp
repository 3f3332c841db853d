#include "app_delegate.h"

namespace lumory {

void AppDelegate::registerReminderCategories() {
    platform_.notificationCenter.setDelegate(this);
}

void AppDelegate::scheduleReminders(const nlohmann::json&) {}

void AppDelegate::scheduleTestReminder(bool) {}

}  // namespace lumory
