#include "window/window_controls.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace lumory {

namespace {

constexpr std::array<double, 14> kZoomSteps = {0.3, 0.5,  0.67, 0.8, 0.9, 1.0, 1.1,
                                               1.2, 1.33, 1.5,  1.7, 2.0, 2.4, 3.0};
// Levels within this of a step count as that step, so rounding never skips one.
constexpr double kZoomStepTolerance = 0.005;

double clampedToView(double position, double extent, double viewExtent) {
    if (!std::isfinite(position)) position = position > 0 ? viewExtent : 0;
    double farthest = std::max(0.0, viewExtent - extent);
    return std::clamp(position, 0.0, farthest);
}

std::vector<std::string_view> splitNames(std::string_view list) {
    std::vector<std::string_view> names;
    while (!list.empty()) {
        auto comma = list.find(',');
        std::string_view name = list.substr(0, comma);
        while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
        names.push_back(name);
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return names;
}

std::vector<WindowButton> buttonsNamed(std::string_view list) {
    std::vector<WindowButton> buttons;
    for (std::string_view name : splitNames(list)) {
        WindowButton button;
        if (name == "close") {
            button = WindowButton::Close;
        } else if (name == "minimize") {
            button = WindowButton::Minimize;
        } else if (name == "maximize") {
            button = WindowButton::Maximize;
        } else {
            continue;  // menu, appmenu, icon, spacer: nothing the shell draws
        }
        if (std::find(buttons.begin(), buttons.end(), button) == buttons.end()) {
            buttons.push_back(button);
        }
    }
    return buttons;
}

bool holds(const std::vector<WindowButton>& buttons, WindowButton button) {
    return std::find(buttons.begin(), buttons.end(), button) != buttons.end();
}

}  // namespace

Point closeButtonOrigin(double sidebarLeft, double sidebarTop, double zoom) {
    double scale = zoom > kMinimumControlsScale ? zoom : kMinimumControlsScale;
    return {(sidebarLeft + kWindowControlsLeftInset) * scale,
            (sidebarTop + kWindowControlsTopInset) * scale};
}

Point windowButtonsGroupOrigin(Point closeOrigin, Point closeOffset, Size group, Size view) {
    return {clampedToView(closeOrigin.x - closeOffset.x, group.width, view.width),
            clampedToView(closeOrigin.y - closeOffset.y, group.height, view.height)};
}

WindowButtonsArrangement arrangeWindowButtons(std::string_view decorationLayout) {
    auto colon = decorationLayout.find(':');
    std::string_view leftNames = decorationLayout.substr(0, colon);
    std::string_view rightNames =
        colon == std::string_view::npos ? std::string_view() : decorationLayout.substr(colon + 1);
    std::vector<WindowButton> left = buttonsNamed(leftNames);
    std::vector<WindowButton> right = buttonsNamed(rightNames);

    WindowButtonsArrangement arrangement;
    if (holds(left, WindowButton::Close) ||
        (!holds(right, WindowButton::Close) && !left.empty() && right.empty())) {
        arrangement.side = WindowSide::Left;
    }
    // One group: the buttons of both halves in the layout's order.
    std::vector<WindowButton> named = left;
    for (WindowButton button : right) {
        if (!holds(named, button)) named.push_back(button);
    }
    if (!holds(named, WindowButton::Close)) {
        if (arrangement.side == WindowSide::Right) {
            named.push_back(WindowButton::Close);
        } else {
            named.insert(named.begin(), WindowButton::Close);
        }
    }
    // The missing ones go next to close on its inner side, in the usual order.
    auto close = std::find(named.begin(), named.end(), WindowButton::Close);
    std::vector<WindowButton> missing;
    for (WindowButton button : {WindowButton::Minimize, WindowButton::Maximize}) {
        if (!holds(named, button)) missing.push_back(button);
    }
    if (arrangement.side == WindowSide::Right) {
        named.insert(close, missing.begin(), missing.end());
    } else {
        named.insert(close + 1, missing.begin(), missing.end());
    }
    arrangement.buttons = std::move(named);
    return arrangement;
}

std::vector<WindowButton> windowButtonsOnSide(const WindowButtonsArrangement& arrangement,
                                              WindowSide side) {
    std::vector<WindowButton> buttons = arrangement.buttons;
    if (side != arrangement.side) std::reverse(buttons.begin(), buttons.end());
    return buttons;
}

Point titleBarButtonsOrigin(Size group, Size view, WindowSide side) {
    double x = side == WindowSide::Left ? kTitleBarButtonsMargin
                                        : view.width - group.width - kTitleBarButtonsMargin;
    return {clampedToView(x, group.width, view.width),
            clampedToView(kTitleBarButtonsMargin, group.height, view.height)};
}

double steppedZoom(double current, int direction) {
    if (!std::isfinite(current)) return kDefaultZoom;
    if (direction > 0) {
        for (double step : kZoomSteps) {
            if (step > current + kZoomStepTolerance) return step;
        }
        return kZoomSteps.back();
    }
    if (direction < 0) {
        for (auto it = kZoomSteps.rbegin(); it != kZoomSteps.rend(); ++it) {
            if (*it < current - kZoomStepTolerance) return *it;
        }
        return kZoomSteps.front();
    }
    return std::clamp(current, kMinimumZoom, kMaximumZoom);
}

double pinchedZoom(double startZoom, double scale) {
    if (!std::isfinite(startZoom) || !std::isfinite(scale) || scale <= 0) {
        return std::clamp(std::isfinite(startZoom) ? startZoom : kDefaultZoom, kMinimumZoom,
                          kMaximumZoom);
    }
    return std::clamp(startZoom * scale, kMinimumZoom, kMaximumZoom);
}

}  // namespace lumory
