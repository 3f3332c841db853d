#pragma once

#include <functional>
#include <string>

#include "main_window.h"

namespace lumory {

struct OverlayWindowSpec {
    int width = 0;
    int height = 0;
};

// The borderless floating window of the live overlay.
class OverlayWindow {
public:
    virtual ~OverlayWindow() = default;
    // Restores the frame saved under `name` and keeps saving it there from now on; false when
    // no saved frame was applied.
    virtual bool setFrameAutosaveName(const std::string& name) = 0;
    virtual void center() = 0;
    virtual void makeKeyAndOrderFront() = 0;
    virtual void orderOut() = 0;
    // While true, clicks pass through to the windows below.
    virtual void setIgnoresMouseEvents(bool ignores) = 0;
    // Moves the window with the primary button held down; nothing otherwise.
    virtual void performDrag() = 0;
};

struct StatusMenuItem {
    std::string title;  // empty for a separator
    bool checked = false;
    std::function<void()> action;
};

// An item in the desktop's status area (or the app's own fallback) with a small menu.
class StatusItem {
public:
    virtual ~StatusItem() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setToolTip(const std::string& toolTip) = 0;
    virtual void setMenu(const std::vector<StatusMenuItem>& items) = 0;
    virtual void setItemChecked(size_t index, bool checked) = 0;
};

}  // namespace lumory
