#include "shell/menu_bar.h"

namespace lumory {

namespace {

MenuItem separator() {
    return MenuItem{};
}

}  // namespace

// Ctrl takes Command's place; full screen is F11 as everywhere on the desktop. Services, Hide
// Others and Show All have no counterpart on a Linux desktop and are left out.
MenuBar buildMenuBar() {
    return {
        {"Lumory",
         {
             {"About Lumory", "", kNoModifier, StandardAction::About},
             separator(),
             {"Hide Lumory", "h", kControl, StandardAction::Hide},
             separator(),
             {"Quit Lumory", "q", kControl, StandardAction::Quit},
         }},
        {"Edit",
         {
             {"Undo", "z", kControl, StandardAction::Undo},
             {"Redo", "z", kControl | kShift, StandardAction::Redo},
             separator(),
             {"Cut", "x", kControl, StandardAction::Cut},
             {"Copy", "c", kControl, StandardAction::Copy},
             {"Paste", "v", kControl, StandardAction::Paste},
             {"Select All", "a", kControl, StandardAction::SelectAll},
         }},
        {"Navigate",
         {
             {"Today", "t", kControl, PageCommand{"today"}},
             {"Tomorrow", "t", kControl | kShift, PageCommand{"tomorrow"}},
             separator(),
             {"Filters", "f", kControl | kShift, PageCommand{"filters"}},
         }},
        {"Format",
         {
             {"Bullet", "l", kControl | kShift, PageCommand{"bullet"}},
         }},
        {"View",
         {
             {"Reload", "r", kControl, ReloadPage{}},
             separator(),
             {fullScreenItemTitle(false), "F11", kNoModifier, StandardAction::ToggleFullScreen},
         }},
        {"Window",
         {
             {"Minimize", "m", kControl, StandardAction::Minimize},
             {"Zoom", "", kNoModifier, StandardAction::Zoom},
             separator(),
             {"Bring All to Front", "", kNoModifier, StandardAction::BringAllToFront},
         }},
    };
}

std::string fullScreenItemTitle(bool fullScreen) {
    return fullScreen ? "Exit Full Screen" : "Enter Full Screen";
}

std::string acceleratorFor(const MenuItem& item) {
    if (item.key.empty()) return {};
    std::string accelerator;
    if (item.modifiers & kControl) accelerator += "<Control>";
    if (item.modifiers & kShift) accelerator += "<Shift>";
    if (item.modifiers & kAlt) accelerator += "<Alt>";
    return accelerator + item.key;
}

}  // namespace lumory
