#pragma once

#include <string_view>
#include <vector>

#include "platform/geometry.h"

namespace lumory {

// The arithmetic behind the window buttons the shell draws over its page and behind the page's
// zoom; the widgets themselves live with the platform.

inline constexpr double kWindowControlsLeftInset = 16;
inline constexpr double kWindowControlsTopInset = 14;
inline constexpr double kMinimumControlsScale = 0.1;

// Where the close button's top-left corner goes, in the web view's pixels: 16 CSS px right of
// and 14 CSS px below the sidebar's corner, at the page's zoom.
Point closeButtonOrigin(double sidebarLeft, double sidebarTop, double zoom);

// The group's origin that puts the close button (at `closeOffset` inside the group) on
// `closeOrigin`, moved just enough to keep the whole group inside the view so that no button is
// ever out of reach.
Point windowButtonsGroupOrigin(Point closeOrigin, Point closeOffset, Size group, Size view);

enum class WindowButton { Close, Minimize, Maximize };
enum class WindowSide { Left, Right };

struct WindowButtonsArrangement {
    WindowSide side = WindowSide::Right;
    std::vector<WindowButton> buttons;  // left to right
};

// The desktop's decoration layout ("menu:minimize,maximize,close"; names left of the colon sit
// at the window's left). All three buttons are always drawn: those the layout leaves out join
// the others next to close, on the inner side.
WindowButtonsArrangement arrangeWindowButtons(std::string_view decorationLayout);

// The same buttons as they would sit on `side` of a title bar: mirrored, so close stays at the
// outer edge, when the layout puts them on the other side.
std::vector<WindowButton> windowButtonsOnSide(const WindowButtonsArrangement& arrangement,
                                              WindowSide side);

inline constexpr double kTitleBarButtonsMargin = 6;

// Where a title bar would show the group, before the page says where its sidebar is.
Point titleBarButtonsOrigin(Size group, Size view, WindowSide side);

// Page zoom: the steps Ctrl+plus and Ctrl+minus walk through, and the range a pinch may reach.
inline constexpr double kMinimumZoom = 0.3;
inline constexpr double kMaximumZoom = 3.0;
inline constexpr double kDefaultZoom = 1.0;

// The next step up (`direction` > 0) or down from `current`; stays at the end of the range.
double steppedZoom(double current, int direction);
// A pinch that started at `startZoom` and has spread the fingers by `scale`.
double pinchedZoom(double startZoom, double scale);

}  // namespace lumory
