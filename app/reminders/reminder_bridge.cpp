#include "app_delegate.h"

namespace lumory {

namespace {

constexpr std::string_view kUnknownAction = "Unknown reminder action";

}  // namespace

void AppDelegate::handleReminderMessage(const nlohmann::json& body) {
    // Reminder actions arrive with the notification code; until then every action is unknown.
    std::optional<std::string> requestId;
    auto id = body.find("requestId");
    if (id != body.end() && id->is_string()) requestId = id->get<std::string>();
    sendReminderResult(requestId, {{"error", kUnknownAction}});
}

void AppDelegate::sendReminderResult(const std::optional<std::string>& requestId,
                                     const nlohmann::json& payload) {
    if (!requestId) return;
    nlohmann::json detail = payload;
    detail["requestId"] = *requestId;
    sendReminderEvent("lumory-reminder-native-result", detail);
}

void AppDelegate::sendReminderEvent(std::string_view name, const nlohmann::json& detail) {
    std::string json;
    try {
        json = detail.dump();
    } catch (const nlohmann::json::exception&) {
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
