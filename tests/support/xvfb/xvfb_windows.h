#pragma once

#include <optional>
#include <string>
#include <vector>

#include "xvfb/xvfb_input.h"

namespace lumory::testing {

struct WindowGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The viewable top-level window titled `title` on a test display, if there is one.
std::optional<WindowGeometry> findWindow(const std::string& displayName, const std::string& title);

// Every viewable window titled `title` (a dialog may share its main window's title).
std::vector<WindowGeometry> findWindows(const std::string& displayName, const std::string& title);
// The _NET_WM_STATE atoms ("_NET_WM_STATE_ABOVE", ...) of the viewable window titled `title`.
std::vector<std::string> windowStates(const std::string& displayName, const std::string& title);

// True when the viewable window titled `upper` is stacked above the one titled `lower`.
bool stackedAbove(const std::string& displayName, const std::string& upper,
                  const std::string& lower);

struct WindowOffset {
    int x = 0;
    int y = 0;
};

// Drags with the primary button from (x, y) by (dx, dy) and tells how far the window titled
// `title` moved; nothing when no such window shows before or after.
std::optional<WindowOffset> windowMovedByDrag(XvfbInput& input, const std::string& displayName,
                                              const std::string& title, int x, int y, int dx,
                                              int dy);

}  // namespace lumory::testing
