#include "page/page_messages.h"

#include <algorithm>

#include "json_fields.h"

namespace lumory {

std::optional<FlushAnswer> FlushAnswer::decode(const nlohmann::json& body) {
    if (boolField(body, "ok") == true) return FlushAnswer{true, {}};
    return FlushAnswer{false, stringField(body, "error").value_or(std::string(kDefaultSaveError))};
}

std::optional<WindowDragRequest> WindowDragRequest::decode(const nlohmann::json&) {
    return WindowDragRequest{};
}

// Both members must be numbers; anything else leaves the buttons where they are.
std::optional<WindowControlsPosition> WindowControlsPosition::decode(const nlohmann::json& body) {
    auto left = numberField(body, "left");
    auto top = numberField(body, "top");
    if (!left || !top) return std::nullopt;
    return WindowControlsPosition{*left, *top};
}

std::optional<OverlayRequest> OverlayRequest::decode(const nlohmann::json& body) {
    auto action = stringField(body, "action");
    if (action == "open") return OverlayRequest{Action::Open};
    if (action == "close") return OverlayRequest{Action::Close};
    if (action == "clickThrough") {
        return OverlayRequest{Action::ClickThrough, boolField(body, "value").value_or(false)};
    }
    return std::nullopt;
}

std::optional<ReminderRequest> ReminderRequest::decode(const nlohmann::json& body) {
    ReminderRequest request;
    request.requestId = stringField(body, "requestId");
    request.action = stringField(body, "action");
    if (const nlohmann::json* list = arrayField(body, "notifications")) {
        bool allObjects = std::all_of(list->begin(), list->end(),
                                      [](const nlohmann::json& entry) { return entry.is_object(); });
        if (allObjects) request.notifications = *list;
    }
    request.sound = boolField(body, "sound").value_or(true);
    return request;
}

}  // namespace lumory
