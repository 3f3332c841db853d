#pragma once

#include <array>
#include <string>
#include <string_view>

namespace lumory {

inline constexpr std::string_view kFlushHandler = "lumoryDesktopFlush";
inline constexpr std::string_view kRemindersHandler = "lumoryDesktopReminders";
inline constexpr std::string_view kWindowDragHandler = "lumoryDesktopWindowDrag";
inline constexpr std::string_view kWindowControlsHandler = "lumoryDesktopWindowControls";
inline constexpr std::string_view kOverlayHandler = "lumoryDesktopOverlay";

// In registration order.
inline constexpr std::array<std::string_view, 5> kMainMessageHandlers = {
    kFlushHandler, kRemindersHandler, kWindowDragHandler, kWindowControlsHandler, kOverlayHandler};

inline constexpr std::string_view kDefaultSaveError = "The current note could not be saved.";

// Injected into every page of the main web view: reports where the sidebar sits and asks for a
// window drag on a press in the page's own title areas.
extern const std::string_view kMainPageScript;

// The script that hands a menu command to the page; `word` is one of the fixed command words.
std::string pageCommandScript(std::string_view word);

}  // namespace lumory
