// The window buttons' order from the desktop's decoration layout, their group's placement, and
// the zoom steps.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "window/window_controls.h"

namespace lumory {
namespace {

using B = WindowButton;

TEST(WindowButtonsArrangementTest, FollowsTheDecorationLayoutAndAlwaysHasAllThree) {
    struct Case {
        const char* layout;
        WindowSide side;
        std::vector<B> buttons;
    };
    const Case cases[] = {
        // GTK's default and GNOME's: close at the right; the others join it on its inside.
        {"menu:minimize,maximize,close", WindowSide::Right, {B::Minimize, B::Maximize, B::Close}},
        {"appmenu:close", WindowSide::Right, {B::Minimize, B::Maximize, B::Close}},
        {"close,minimize,maximize:", WindowSide::Left, {B::Close, B::Minimize, B::Maximize}},
        {"close:", WindowSide::Left, {B::Close, B::Minimize, B::Maximize}},
        {"maximize,close:menu", WindowSide::Left, {B::Maximize, B::Close, B::Minimize}},
        {"close:minimize,maximize", WindowSide::Left, {B::Close, B::Minimize, B::Maximize}},
        {"minimize:close", WindowSide::Right, {B::Minimize, B::Maximize, B::Close}},
        {" icon , close , close :", WindowSide::Left, {B::Close, B::Minimize, B::Maximize}},
        {"minimize", WindowSide::Left, {B::Close, B::Maximize, B::Minimize}},
        {"", WindowSide::Right, {B::Minimize, B::Maximize, B::Close}},
        {"menu:", WindowSide::Right, {B::Minimize, B::Maximize, B::Close}},
        {"spacer:bogus,,,", WindowSide::Right, {B::Minimize, B::Maximize, B::Close}},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.layout);
        WindowButtonsArrangement arrangement = arrangeWindowButtons(entry.layout);
        EXPECT_EQ(arrangement.side, entry.side);
        EXPECT_EQ(arrangement.buttons, entry.buttons);
        // Moved to the other side of the window the group is mirrored: close stays outermost.
        std::vector<B> mirrored(entry.buttons.rbegin(), entry.buttons.rend());
        WindowSide other = entry.side == WindowSide::Left ? WindowSide::Right : WindowSide::Left;
        EXPECT_EQ(windowButtonsOnSide(arrangement, entry.side), entry.buttons);
        EXPECT_EQ(windowButtonsOnSide(arrangement, other), mirrored);
    }
}

TEST(WindowButtonsPlacementTest, TheGroupPutsCloseOnTheCornerAndStaysInsideTheView) {
    Size group{102, 30};
    Size view{1440, 900};
    Point closeOffset{2, 0};
    auto origin = windowButtonsGroupOrigin({16, 14}, closeOffset, group, view);
    EXPECT_DOUBLE_EQ(origin.x, 14);
    EXPECT_DOUBLE_EQ(origin.y, 14);
    // Close at the far end of the group: the rest would leave the view, so the group moves.
    origin = windowButtonsGroupOrigin({16, 14}, {70, 0}, group, view);
    EXPECT_DOUBLE_EQ(origin.x, 0);
    // A sidebar scrolled away or far out still leaves every button on screen.
    origin = windowButtonsGroupOrigin({-500, -40}, closeOffset, group, view);
    EXPECT_DOUBLE_EQ(origin.x, 0);
    EXPECT_DOUBLE_EQ(origin.y, 0);
    origin = windowButtonsGroupOrigin({1e308 * 10, 5000}, closeOffset, group, view);
    EXPECT_DOUBLE_EQ(origin.x, 1440 - 102);
    EXPECT_DOUBLE_EQ(origin.y, 900 - 30);
    // A view smaller than the group keeps the group at its corner.
    origin = windowButtonsGroupOrigin({50, 50}, closeOffset, group, {60, 20});
    EXPECT_DOUBLE_EQ(origin.x, 0);
    EXPECT_DOUBLE_EQ(origin.y, 0);
}

TEST(WindowButtonsPlacementTest, BeforeThePageSaysTheGroupSitsWhereATitleBarHasIt) {
    Size group{102, 30};
    Point right = titleBarButtonsOrigin(group, {1440, 900}, WindowSide::Right);
    EXPECT_DOUBLE_EQ(right.x, 1440 - 102 - 6);
    EXPECT_DOUBLE_EQ(right.y, 6);
    Point left = titleBarButtonsOrigin(group, {1440, 900}, WindowSide::Left);
    EXPECT_DOUBLE_EQ(left.x, 6);
    Point cramped = titleBarButtonsOrigin(group, {100, 20}, WindowSide::Right);
    EXPECT_DOUBLE_EQ(cramped.x, 0);
    EXPECT_DOUBLE_EQ(cramped.y, 0);
}

TEST(PageZoomTest, StepsPinchesAndTheirLimits) {
    double level = 1.0;
    std::vector<double> up;
    for (int step = 0; step < 7; ++step) up.push_back(level = steppedZoom(level, 1));
    EXPECT_EQ(up, (std::vector<double>{1.1, 1.2, 1.33, 1.5, 1.7, 2.0, 2.4}));
    EXPECT_DOUBLE_EQ(steppedZoom(3.0, 1), 3.0);
    EXPECT_DOUBLE_EQ(steppedZoom(0.3, -1), 0.3);
    EXPECT_DOUBLE_EQ(steppedZoom(1.0, -1), 0.9);
    // Off-step levels (from a pinch) go to the next step in the asked direction.
    EXPECT_DOUBLE_EQ(steppedZoom(1.25, 1), 1.33);
    EXPECT_DOUBLE_EQ(steppedZoom(1.25, -1), 1.2);
    EXPECT_DOUBLE_EQ(steppedZoom(1.3333333, 1), 1.5);
    EXPECT_DOUBLE_EQ(steppedZoom(12, -1), 3.0);
    EXPECT_DOUBLE_EQ(steppedZoom(std::numeric_limits<double>::quiet_NaN(), 1), 1.0);

    EXPECT_DOUBLE_EQ(pinchedZoom(1.0, 1.5), 1.5);
    EXPECT_DOUBLE_EQ(pinchedZoom(2.0, 0.5), 1.0);
    EXPECT_DOUBLE_EQ(pinchedZoom(2.0, 10), 3.0);
    EXPECT_DOUBLE_EQ(pinchedZoom(1.0, 0.01), 0.3);
    EXPECT_DOUBLE_EQ(pinchedZoom(1.2, 0), 1.2);
    EXPECT_DOUBLE_EQ(pinchedZoom(1.2, std::numeric_limits<double>::infinity()), 1.2);
}

}  // namespace
}  // namespace lumory
