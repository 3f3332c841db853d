#include "reminders/reminder_scheduler.h"

#include <charconv>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <unordered_set>

#include "json_fields.h"
#include "reminders/reminder_content.h"

namespace lumory {

namespace {

constexpr std::string_view kTestPrefix = "lumory.test.";
constexpr std::string_view kTestTitle = "Test reminder";
constexpr std::string_view kTestBody = "Lumory notifications are ready";
constexpr double kTestDelaySeconds = 1.0;
// Reminders due this soon (or already past) are not shown at all.
constexpr double kMinimumDelaySeconds = 1.0;

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

ReminderScheduler::ReminderScheduler(NotificationCenter& notificationCenter, const Clock& clock)
    : notificationCenter_(notificationCenter), clock_(clock) {}

void ReminderScheduler::registerReminderCategories(NotificationCenterDelegate& delegate) {
    notificationCenter_.setDelegate(&delegate);
    notificationCenter_.setCategories(
        {{std::string(kReminderCategory),
          {{std::string(kSnoozeAction), std::string(kSnoozeTitle)},
           {std::string(kDoneAction), std::string(kDoneTitle)}}}});
}

void ReminderScheduler::scheduleReminders(nlohmann::json notifications) {
    // Cannot be reached by counting messages; stopping beats comparing wrapped values.
    if (reminderGeneration == std::numeric_limits<std::int64_t>::max()) std::abort();
    std::int64_t generation = ++reminderGeneration;
    notificationCenter_.pendingIdentifiers(
        [weak = lifetime_.weak(), generation, notifications = std::move(notifications)](
            const std::vector<std::string>& pending) mutable {
            auto* self = weak.get();
            if (!self) return;
            // A newer list arrived meanwhile; its own answer does the work.
            if (generation != self->reminderGeneration) return;
            self->reconcile(notifications, pending);
        });
}

void ReminderScheduler::reconcile(nlohmann::json& notifications,
                                  const std::vector<std::string>& pending) {
    std::unordered_set<std::string_view> wanted;
    wanted.reserve(notifications.size());
    for (const nlohmann::json& entry : notifications) {
        const nlohmann::json* id = jsonField(entry, "deliveryId");
        if (id != nullptr && id->is_string()) wanted.insert(id->get_ref<const std::string&>());
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
    notificationCenter_.removePending(stale);

    // Each entry is moved into its request: the list is not needed afterwards.
    for (nlohmann::json& entry : notifications) {
        const nlohmann::json* id = jsonField(entry, "deliveryId");
        if (id == nullptr || !id->is_string()) continue;
        std::string identifier = id->get_ref<const std::string&>();
        if (!identifier.starts_with(kReminderPrefix)) continue;
        auto at = numberField(entry, "at");
        if (!at) continue;
        // Already pending: left as it is, even when its time or texts changed.
        if (pendingIds.contains(identifier)) continue;
        auto now = clock_.now();
        double delay = *at / 1000.0 - unixSeconds(now);
        if (!(delay > kMinimumDelaySeconds)) continue;
        notificationCenter_.add(
            {std::move(identifier), reminderContent(std::move(entry)), dueAfter(now, delay)});
    }
}

void ReminderScheduler::scheduleTestReminder(bool sound) {
    auto now = clock_.now();
    NotificationContent content;
    content.title = kTestTitle;
    content.body = kTestBody;
    content.sound = sound;
    std::string identifier = std::string(kTestPrefix) + decimalSeconds(unixSeconds(now));
    notificationCenter_.add({identifier, content, dueAfter(now, kTestDelaySeconds)});
}

}  // namespace lumory
