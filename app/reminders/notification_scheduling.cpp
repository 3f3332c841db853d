#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>
#include <unordered_set>

#include "app_delegate.h"
#include "reminders/reminder_identifiers.h"

namespace lumory {

namespace {

constexpr std::string_view kDefaultTitle = "Task reminder";
constexpr std::string_view kDefaultBody = "Timed task";
constexpr std::string_view kTestPrefix = "lumory.test.";
constexpr std::string_view kTestTitle = "Test reminder";
constexpr std::string_view kTestBody = "Lumory notifications are ready";
constexpr double kTestDelaySeconds = 1.0;
// Reminders due this soon (or already past) are not shown at all.
constexpr double kMinimumDelaySeconds = 1.0;
// Beyond this the wall clock's type overflows; such a reminder stays pending for ever.
constexpr double kLongestDelaySeconds = 100.0 * 365 * 24 * 60 * 60;

std::string stringOr(const nlohmann::json& entry, std::string_view key, std::string_view fallback) {
    auto found = entry.find(key);
    if (found != entry.end() && found->is_string()) return found->get<std::string>();
    return std::string(fallback);
}

// Shortest decimal text that reads back as the same number, always with a fractional part.
std::string decimalSeconds(double seconds) {
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed);
    if (error != std::errc()) return std::to_string(seconds);
    std::string result(text, end);
    if (result.find('.') == std::string::npos) result += ".0";
    return result;
}

}  // namespace

NotificationContent reminderContent(nlohmann::json reminder) {
    NotificationContent content;
    content.title = stringOr(reminder, "title", kDefaultTitle);
    content.body = stringOr(reminder, "body", kDefaultBody);
    content.subtitle = stringOr(reminder, "detail", "");
    auto sound = reminder.find("sound");
    content.sound = !(sound != reminder.end() && sound->is_boolean() && !sound->get<bool>());
    content.threadIdentifier = kReminderThread;
    content.categoryIdentifier = kReminderCategory;
    content.userInfo = nlohmann::json::object();
    auto path = reminder.find("path");
    if (path != reminder.end() && path->is_string()) content.userInfo["path"] = *path;
    content.userInfo["reminder"] = std::move(reminder);
    return content;
}

double unixSeconds(std::chrono::system_clock::time_point t) {
    auto whole = std::chrono::floor<std::chrono::seconds>(t);
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(t - whole);
    return static_cast<double>(whole.time_since_epoch().count()) +
           static_cast<double>(micros.count()) / 1e6;
}

std::chrono::system_clock::time_point dueAfter(std::chrono::system_clock::time_point now,
                                               double seconds) {
    seconds = std::clamp(seconds, 0.0, kLongestDelaySeconds);
    return now + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                     std::chrono::duration<double>(seconds));
}

void AppDelegate::registerReminderCategories() {
    platform_.notificationCenter.setDelegate(this);
    platform_.notificationCenter.setCategories(
        {{std::string(kReminderCategory),
          {{std::string(kSnoozeAction), std::string(kSnoozeTitle)},
           {std::string(kDoneAction), std::string(kDoneTitle)}}}});
}

void AppDelegate::scheduleReminders(nlohmann::json notifications) {
    std::int64_t generation = reminderGeneration;
    platform_.notificationCenter.getPendingRequests(
        [weak = weakSelf(), generation, notifications = std::move(notifications)](
            const std::vector<std::string>& pending) mutable {
            auto self = weak.lock();
            if (!self) return;
            AppDelegate& delegate = **self;
            // A newer list arrived meanwhile; its own answer does the work.
            if (generation != delegate.reminderGeneration) return;

            std::unordered_set<std::string_view> wanted;
            wanted.reserve(notifications.size());
            for (const nlohmann::json& entry : notifications) {
                auto id = entry.find("deliveryId");
                if (id != entry.end() && id->is_string()) {
                    wanted.insert(id->get_ref<const std::string&>());
                }
            }
            std::unordered_set<std::string_view> pendingIds;
            pendingIds.reserve(pending.size());
            std::vector<std::string> stale;
            for (const std::string& identifier : pending) {
                pendingIds.insert(identifier);
                if (identifier.starts_with(kReminderPrefix) && !wanted.contains(identifier)) {
                    stale.push_back(identifier);
                }
            }
            NotificationCenter& center = delegate.platform_.notificationCenter;
            center.removePendingRequests(stale);

            // Each entry is moved into its request: the list is not needed afterwards.
            for (nlohmann::json& entry : notifications) {
                auto id = entry.find("deliveryId");
                if (id == entry.end() || !id->is_string()) continue;
                std::string identifier = id->get_ref<const std::string&>();
                if (!identifier.starts_with(kReminderPrefix)) continue;
                auto at = entry.find("at");
                if (at == entry.end() || !at->is_number()) continue;
                // Already pending: left as it is, even when its time or texts changed.
                if (pendingIds.contains(identifier)) continue;
                auto now = delegate.platform_.clock.now();
                double delay = at->get<double>() / 1000.0 - unixSeconds(now);
                if (!(delay > kMinimumDelaySeconds)) continue;
                center.add({std::move(identifier), reminderContent(std::move(entry)),
                            dueAfter(now, delay)});
            }
        });
}

void AppDelegate::scheduleTestReminder(bool sound) {
    auto now = platform_.clock.now();
    NotificationContent content;
    content.title = kTestTitle;
    content.body = kTestBody;
    content.sound = sound;
    std::string identifier = std::string(kTestPrefix) + decimalSeconds(unixSeconds(now));
    platform_.notificationCenter.add({identifier, content, dueAfter(now, kTestDelaySeconds)});
}

}  // namespace lumory
