#include "reminders/reminder_content.h"

#include <algorithm>

#include "json_fields.h"

namespace lumory {

namespace {

constexpr std::string_view kDefaultTitle = "Task reminder";
constexpr std::string_view kDefaultBody = "Timed task";
// Beyond this the wall clock's type overflows; such a reminder stays pending for ever.
constexpr double kLongestDelaySeconds = 100.0 * 365 * 24 * 60 * 60;

}  // namespace

NotificationContent reminderContent(nlohmann::json reminder) {
    NotificationContent content;
    content.title = stringField(reminder, "title").value_or(std::string(kDefaultTitle));
    content.body = stringField(reminder, "body").value_or(std::string(kDefaultBody));
    content.subtitle = stringField(reminder, "detail").value_or("");
    content.sound = boolField(reminder, "sound") != false;
    content.threadIdentifier = kReminderThread;
    content.categoryIdentifier = kReminderCategory;
    content.userInfo = nlohmann::json::object();
    if (auto path = stringField(reminder, "path")) content.userInfo["path"] = *path;
    content.userInfo["reminder"] = std::move(reminder);
    return content;
}

std::chrono::system_clock::time_point dueAfter(std::chrono::system_clock::time_point now,
                                               double seconds) {
    seconds = std::clamp(seconds, 0.0, kLongestDelaySeconds);
    return now + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                     std::chrono::duration<double>(seconds));
}

}  // namespace lumory
