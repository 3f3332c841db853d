#pragma once

#include <string>
#include <variant>
#include <vector>

namespace lumory {

// Actions the desktop itself knows how to carry out for the focused window.
enum class StandardAction {
    About,
    Hide,
    Quit,
    Undo,
    Redo,
    Cut,
    Copy,
    Paste,
    SelectAll,
    ToggleFullScreen,
    Minimize,
    Zoom,
    BringAllToFront,
};

struct PageCommand {
    std::string word;
};
struct ReloadPage {};

using MenuAction = std::variant<StandardAction, PageCommand, ReloadPage>;

enum Modifier : unsigned { kNoModifier = 0, kControl = 1, kShift = 2, kAlt = 4 };

struct MenuItem {
    std::string title;  // empty for a separator
    std::string key;    // a lower-case letter or a key name such as "F11"; empty for none
    unsigned modifiers = kNoModifier;
    MenuAction action = StandardAction::About;

    bool isSeparator() const { return title.empty(); }
};

struct Menu {
    std::string title;
    std::vector<MenuItem> items;
};

using MenuBar = std::vector<Menu>;

}  // namespace lumory
