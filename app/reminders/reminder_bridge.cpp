#include "reminders/reminder_bridge.h"

#include "page/page_scripts.h"

namespace lumory {

namespace {

constexpr std::string_view kUnknownAction = "Unknown reminder action";
constexpr std::string_view kResultEvent = "lumory-reminder-native-result";

std::string_view statusName(PermissionStatus status) {
    switch (status) {
        case PermissionStatus::NotDetermined:
            return "notDetermined";
        case PermissionStatus::Denied:
            return "denied";
        case PermissionStatus::Authorized:
        case PermissionStatus::Provisional:
        case PermissionStatus::Ephemeral:
            return "granted";
    }
    return "unsupported";
}

}  // namespace

ReminderBridge::ReminderBridge(NotificationCenter& notificationCenter,
                               ReminderScheduler& scheduler, MainQueue& mainQueue, PageHost& page)
    : notificationCenter_(notificationCenter),
      scheduler_(scheduler),
      mainQueue_(mainQueue),
      page_(page) {}

void ReminderBridge::handleReminderMessage(ReminderRequest request) {
    const auto& requestId = request.requestId;
    if (!request.action) {
        sendReminderResult(requestId, {{"error", kUnknownAction}});
        return;
    }
    const std::string& name = *request.action;
    if (name == "permission") {
        answerPermission(requestId);
    } else if (name == "requestPermission") {
        notificationCenter_.requestPermission(
            [weak = lifetime_.weak(), requestId](std::optional<std::string> error) {
                auto* self = weak.get();
                if (!self) return;
                if (error) {
                    self->sendReminderResult(requestId, {{"error", *error}});
                    return;
                }
                self->answerPermission(requestId);
            });
    } else if (name == "schedule") {
        scheduler_.scheduleReminders(std::move(request.notifications));
    } else if (name == "test") {
        scheduler_.scheduleTestReminder(request.sound);
        sendReminderResult(requestId, {{"ok", true}});
    } else if (name == "openSettings") {
        notificationCenter_.openSettings();
        sendReminderResult(requestId, {{"ok", true}});
    } else {
        sendReminderResult(requestId, {{"error", kUnknownAction}});
    }
}

void ReminderBridge::answerPermission(const std::optional<std::string>& requestId) {
    notificationCenter_.permission([weak = lifetime_.weak(), requestId](PermissionStatus status) {
        if (auto* self = weak.get()) {
            self->sendReminderResult(requestId, {{"status", statusName(status)}});
        }
    });
}

void ReminderBridge::sendReminderResult(const std::optional<std::string>& requestId,
                                        const nlohmann::json& payload) {
    if (!requestId) return;
    nlohmann::json detail = payload;
    detail["requestId"] = *requestId;
    sendReminderEvent(kResultEvent, detail);
}

void ReminderBridge::sendReminderEvent(std::string_view name, const nlohmann::json& detail) {
    if (!detail.is_object()) return;
    // Text that is not UTF-8 cannot travel as JSON.
    auto script = pageEventScript(name, detail);
    if (!script) return;
    mainQueue_.post([weak = lifetime_.weak(), script = std::move(*script)] {
        if (auto* self = weak.get()) self->page_.mainView().evaluateJavascript(script, nullptr);
    });
}

}  // namespace lumory
