#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace lumory {

// The script-message handlers the page posts to, and what each message says once decoded. A
// body that does not decode is ignored by its handler; each type's `decode` is the whole rule.

inline constexpr std::string_view kFlushHandler = "lumoryDesktopFlush";
inline constexpr std::string_view kRemindersHandler = "lumoryDesktopReminders";
inline constexpr std::string_view kWindowDragHandler = "lumoryDesktopWindowDrag";
inline constexpr std::string_view kWindowControlsHandler = "lumoryDesktopWindowControls";
inline constexpr std::string_view kOverlayHandler = "lumoryDesktopOverlay";

// In registration order.
inline constexpr std::array<std::string_view, 5> kMainMessageHandlers = {
    kFlushHandler, kRemindersHandler, kWindowDragHandler, kWindowControlsHandler, kOverlayHandler};
inline constexpr std::array<std::string_view, 2> kOverlayMessageHandlers = {kOverlayHandler,
                                                                            kWindowDragHandler};

inline constexpr std::string_view kDefaultSaveError = "The current note could not be saved.";

// The page's answer to a flush: saved, or why not.
struct FlushAnswer {
    bool ok = false;
    std::string error;  // when not ok
    static std::optional<FlushAnswer> decode(const nlohmann::json& body);
};

// A press in one of the page's drag areas; the body says nothing more.
struct WindowDragRequest {
    static std::optional<WindowDragRequest> decode(const nlohmann::json& body);
};

// Where the page's sidebar sits, in CSS pixels.
struct WindowControlsPosition {
    double left = 0;
    double top = 0;
    static std::optional<WindowControlsPosition> decode(const nlohmann::json& body);
};

struct OverlayRequest {
    enum class Action { Open, Close, ClickThrough };
    Action action = Action::Open;
    bool value = false;  // click-through on or off
    static std::optional<OverlayRequest> decode(const nlohmann::json& body);
};

// One of the page's reminder requests; `action` is checked by the reminder bridge, which
// answers an unknown one.
struct ReminderRequest {
    std::optional<std::string> requestId;
    std::optional<std::string> action;
    // "schedule": the list when every entry is an object, else empty.
    nlohmann::json notifications = nlohmann::json::array();
    // "test": whether the test notification plays a sound.
    bool sound = true;
    static std::optional<ReminderRequest> decode(const nlohmann::json& body);
};

}  // namespace lumory
