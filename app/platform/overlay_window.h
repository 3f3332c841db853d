#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/main_window.h"

namespace lumory {

struct OverlayWindowSpec {
    std::string title;
    int width = 0;
    int height = 0;
};

// The borderless floating window of the live overlay: kept above other windows, on every
// workspace, out of the taskbar and the window switcher, with nothing drawn behind its page.
class OverlayWindow {
public:
    virtual ~OverlayWindow() = default;
    // Restores the frame saved under `name` and keeps saving it there from now on; false when
    // no saved frame was applied.
    virtual bool restoreFrame(const std::string& name) = 0;
    virtual void center() = 0;
    virtual void present() = 0;
    virtual void hide() = 0;
    // While true, clicks pass through to the windows below.
    virtual void setClickThrough(bool ignores) = 0;
    // Moves the window with the primary button held down; nothing otherwise.
    virtual void beginMoveDrag() = 0;
};

struct StatusMenuItem {
    std::string title;  // empty for a separator
    bool checkable = false;
    bool checked = false;
    std::function<void()> action;

    bool isSeparator() const { return title.empty(); }
};

// A few items the shell puts into one of its own menus for a while; they go when this goes.
class MenuSection {
public:
    virtual ~MenuSection() = default;
    virtual void setItems(const std::vector<StatusMenuItem>& items) = 0;
    virtual void setItemChecked(size_t index, bool checked) = 0;
};

// An item in the desktop's status area with a small menu; it leaves the area when this goes.
class StatusItem {
public:
    virtual ~StatusItem() = default;
    // The short text shown in the status area.
    virtual void setTitle(const std::string& title) = 0;
    virtual void setToolTip(const std::string& toolTip) = 0;
    // A themed icon name, for status areas that show icons only.
    virtual void setIconName(const std::string& iconName) = 0;
    virtual void setMenu(const std::vector<StatusMenuItem>& items) = 0;
    virtual void setItemChecked(size_t index, bool checked) = 0;
};

}  // namespace lumory
