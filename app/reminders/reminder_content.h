#pragma once

#include <chrono>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/notification_center.h"

namespace lumory {

// Every reminder request the page's list adds or withdraws starts with this.
inline constexpr std::string_view kReminderPrefix = "lumory.reminder.";
inline constexpr std::string_view kReminderThread = "lumory-tasks";
inline constexpr std::string_view kReminderCategory = "lumory.task-reminder";
inline constexpr std::string_view kSnoozeAction = "lumory.reminder.snooze";
inline constexpr std::string_view kSnoozeTitle = "Snooze 10m";
inline constexpr std::string_view kDoneAction = "lumory.reminder.done";
inline constexpr std::string_view kDoneTitle = "Done";

// The notification a reminder of the page's list becomes; it carries the reminder along.
NotificationContent reminderContent(nlohmann::json reminder);

// `now` plus `seconds`, kept within what the wall clock's type can hold.
std::chrono::system_clock::time_point dueAfter(std::chrono::system_clock::time_point now,
                                               double seconds);

}  // namespace lumory
