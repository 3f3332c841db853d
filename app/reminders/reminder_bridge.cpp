#include <cstdlib>
#include <limits>

#include "app_delegate.h"

namespace lumory {

namespace {

constexpr std::string_view kUnknownAction = "Unknown reminder action";
constexpr std::string_view kResultEvent = "lumory-reminder-native-result";

std::string_view statusName(AuthorizationStatus status) {
    switch (status) {
        case AuthorizationStatus::NotDetermined:
            return "notDetermined";
        case AuthorizationStatus::Denied:
            return "denied";
        case AuthorizationStatus::Authorized:
        case AuthorizationStatus::Provisional:
        case AuthorizationStatus::Ephemeral:
            return "granted";
    }
    return "unsupported";
}

const nlohmann::json* member(const nlohmann::json& body, std::string_view key) {
    auto found = body.find(key);
    return found == body.end() ? nullptr : &*found;
}

}  // namespace

void AppDelegate::handleReminderMessage(const nlohmann::json& body) {
    std::optional<std::string> requestId;
    const nlohmann::json* action = nullptr;
    if (body.is_object()) {
        if (auto* id = member(body, "requestId"); id && id->is_string()) {
            requestId = id->get<std::string>();
        }
        action = member(body, "action");
    }
    if (action == nullptr || !action->is_string()) {
        sendReminderResult(requestId, {{"error", kUnknownAction}});
        return;
    }
    const std::string& name = action->get_ref<const std::string&>();

    auto answerStatus = [weak = weakSelf(), requestId](AuthorizationStatus status) {
        auto self = weak.lock();
        if (!self) return;
        (*self)->sendReminderResult(requestId, {{"status", statusName(status)}});
    };

    if (name == "permission") {
        platform_.notificationCenter.getAuthorizationStatus(answerStatus);
    } else if (name == "requestPermission") {
        platform_.notificationCenter.requestAuthorization(
            [weak = weakSelf(), requestId, answerStatus](std::optional<std::string> error) {
                auto self = weak.lock();
                if (!self) return;
                if (error) {
                    (*self)->sendReminderResult(requestId, {{"error", *error}});
                    return;
                }
                (*self)->platform_.notificationCenter.getAuthorizationStatus(answerStatus);
            });
    } else if (name == "schedule") {
        nlohmann::json notifications = nlohmann::json::array();
        if (auto* list = member(body, "notifications"); list && list->is_array()) {
            bool allObjects =
                std::all_of(list->begin(), list->end(),
                            [](const nlohmann::json& entry) { return entry.is_object(); });
            if (allObjects) notifications = *list;
        }
        // Cannot be reached by counting messages; stopping beats comparing wrapped values.
        if (reminderGeneration == std::numeric_limits<std::int64_t>::max()) std::abort();
        ++reminderGeneration;
        scheduleReminders(std::move(notifications));
    } else if (name == "test") {
        bool sound = true;
        if (auto* value = member(body, "sound"); value && value->is_boolean()) {
            sound = value->get<bool>();
        }
        scheduleTestReminder(sound);
        sendReminderResult(requestId, {{"ok", true}});
    } else if (name == "openSettings") {
        platform_.notificationCenter.openSettings();
        sendReminderResult(requestId, {{"ok", true}});
    } else {
        sendReminderResult(requestId, {{"error", kUnknownAction}});
    }
}

void AppDelegate::sendReminderResult(const std::optional<std::string>& requestId,
                                     const nlohmann::json& payload) {
    if (!requestId) return;
    nlohmann::json detail = payload;
    detail["requestId"] = *requestId;
    sendReminderEvent(kResultEvent, detail);
}

void AppDelegate::sendReminderEvent(std::string_view name, const nlohmann::json& detail) {
    if (!detail.is_object()) return;
    std::string json;
    try {
        json = detail.dump();
    } catch (const nlohmann::json::exception&) {
        // Text that is not UTF-8 cannot travel as JSON.
        return;
    }
    std::string script = "window.dispatchEvent(new CustomEvent('";
    script += name;
    script += "',{detail:" + json + "}))";
    platform_.mainQueue.post([weak = weakSelf(), script = std::move(script)] {
        auto self = weak.lock();
        if (!self) return;
        (*self)->webView->evaluateScript(script, nullptr);
    });
}

}  // namespace lumory
