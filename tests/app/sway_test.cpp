// The real shell on sway 1.7 (the shell through Xwayland), started once for all cases: how the
// main window tiles, its buttons and drag, where the live overlay goes, a second launch, and
// reminders through a notification server on the bus. sway's own tree tells geometry, focus and
// floating; XTest on the display sway draws into is the user's pointer and keyboard.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "dbus/notification_test_server.h"
#include "desktops/desktop_test.h"
#include "desktops/sway_desktop.h"
#include "desktops/x11_test_window.h"
#include "process/child_process.h"
#include "xvfb/xvfb_input.h"
#include "xvfb/xvfb_windows.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kServices = LUMORY_TEST_SERVICES;
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
constexpr int kWidth = 1600;
constexpr int kHeight = 1000;
constexpr char kOverlayTitle[] = "Lumory live overlay";
// The page may not become narrower than this (CSS px at 100 %).
constexpr int kMinimumWidth = 900;

class SwayTest : public DesktopTest<SwayDesktop> {
protected:
    static void SetUpTestSuite() { startDesktop(kWidth, kHeight); }

    void SetUp() override {
        DesktopTest::SetUp();
        if (!IsSkipped()) ASSERT_TRUE(input.connected());
    }

    bool focused(const std::string& title) {
        auto window = desktop->window(title);
        return window && window->focused;
    }

    // Where the page's top left corner is on the screen: inside sway's container, past the
    // invisible shadow border of GTK's client-side frame.
    std::pair<int, int> pageOrigin(const std::string& title) {
        auto window = desktop->window(title);
        auto extents = frameExtents(desktop->x11Display(), title);
        if (!window || !extents) return {-1, -1};
        return {window->contentX + extents->left, window->contentY + extents->top};
    }

    // On a loaded machine a click is now and then lost on its way; it is repeated, as a user
    // would: where it lands is what counts.
    std::optional<std::string> clickReached(int x, int y) {
        std::optional<std::string> page;
        for (int attempt = 0; attempt < 3 && !page; ++attempt) {
            input.click(1, x, y);
            page = clickedPage();
        }
        return page;
    }

    XvfbInput input{desktop ? desktop->screen().name() : std::string()};
};

// The bridge page's top bar (CSS px from the page's top left corner) and an empty place in it.
constexpr int kTopBarEmptyX = 900;
constexpr int kTopBarY = 24;

TEST_F(SwayTest, TheMainWindowFillsItsTileAndFloatsAtItsOwnSize) {
    launch("bridge_page_service.js");
    auto tiled = desktop->window(kMainTitle);
    ASSERT_TRUE(tiled);
    EXPECT_FALSE(tiled->floating);
    EXPECT_TRUE(tiled->focused);
    EXPECT_EQ(tiled->width, kWidth) << "alone on its workspace the window fills it";
    // The picture waits for the page's links and buttons, right of its sidebar, to be drawn.
    auto [drawnX, drawnY] = pageOrigin(kMainTitle);
    EXPECT_TRUE(desktop->screen().screenshotOnceDrawn(kArtifacts + "/sway-tiled.png", 15000,
                                                      drawnX + 260, drawnY + 100, 300, 380));

    // sway has neither minimised nor maximised windows and ignores both requests: the window
    // must stay where it is, not vanish with no taskbar to bring it back.
    auto buttons = shell->settledButtons(1500ms);
    ASSERT_TRUE(buttons);
    // The buttons sit where the page put them; the window around them may have moved since.
    auto press = [&](const std::string& name) {
        auto [pageX, pageY] = pageOrigin(kMainTitle);
        for (const json& button : (*buttons)["buttons"]) {
            if (button["name"] != name) continue;
            input.click(1, pageX + button.value("x", 0) + button.value("width", 0) / 2,
                        pageY + button.value("y", 0) + button.value("height", 0) / 2);
        }
    };
    press("minimize");
    press("maximize");
    std::this_thread::sleep_for(1s);
    auto unchanged = desktop->window(kMainTitle);
    ASSERT_TRUE(unchanged) << "the window went away";
    EXPECT_TRUE(unchanged->visible);
    EXPECT_EQ(unchanged->width, tiled->width);
    EXPECT_EQ(unchanged->height, tiled->height);

    // Floating (the user's Mod+Shift+Space), it takes its own size, never below its minimum,
    // in the middle of the screen.
    ASSERT_TRUE(desktop->command("[title=\"^Lumory$\"] floating enable"));
    std::optional<SwayWindow> floating;
    // sway reports the window floating before its own size has come back (seen: 883 px high).
    EXPECT_TRUE(eventually(
        [&] {
            return (floating = desktop->window(kMainTitle)) && floating->floating &&
                   floating->width >= 1440 && floating->height >= 900 &&
                   std::abs(floating->x + floating->width / 2 - kWidth / 2) <= 2;
        },
        5s));
    ASSERT_TRUE(floating && floating->floating);
    EXPECT_GE(floating->width, 1440);
    EXPECT_GE(floating->height, 900);
    EXPECT_NEAR(floating->x + floating->width / 2, kWidth / 2, 2);

    // Dragging empty top-bar space moves a floating window; sway starts the move where the
    // pointer is once GTK's drag threshold is passed, so the window lags by that much.
    auto [pageX, pageY] = pageOrigin(kMainTitle);
    input.drag(pageX + kTopBarEmptyX, pageY + kTopBarY, pageX + kTopBarEmptyX - 100,
               pageY + kTopBarY + 60);
    std::optional<SwayWindow> moved;
    EXPECT_TRUE(eventually(
        [&] {
            moved = desktop->window(kMainTitle);
            return moved && std::abs(moved->x - (floating->x - 100)) <= 15 &&
                   std::abs(moved->y - (floating->y + 60)) <= 15;
        },
        5s))
        << "from " << floating->x << "," << floating->y << " to "
        << (moved ? std::to_string(moved->x) + "," + std::to_string(moved->y) : "nowhere");

    press("close");
    int status = (*shell)->waitUntilEnded(15s);
    ASSERT_NE(status, -1) << "the close button did not quit";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// sway sizes tiles without regard to a window's minimum, and the page follows the tile.
TEST_F(SwayTest, BesideAnotherWindowThePageFollowsItsTileBelowItsMinimum) {
    shell = std::make_unique<DesktopShell>(kShell, kServices + "/reports_page_size.sh",
                                           desktop->session().user());
    ASSERT_TRUE(shell->start(desktop->x11Display(), desktop->clientEnvironment()));
    auto pageWidth = [&](const std::function<bool(int)>& wanted) {
        std::optional<int> width;
        (*shell)->waitForProbe(
            [&](const json& report) {
                if (report.value("event", "") != "title") return false;
                int reported = std::atoi(report.value("title", "").c_str());
                if (!wanted(reported)) return false;
                width = reported;
                return true;
            },
            15s);
        return width;
    };
    ASSERT_TRUE(pageWidth([](int width) { return width > 1500; })) << (*shell)->standardError();
    auto other = openOtherWindow(100, 100, 400, 300);
    ASSERT_TRUE(other);
    std::optional<SwayWindow> tile;
    ASSERT_TRUE(eventually(
        [&] { return (tile = desktop->window(kMainTitle)) && tile->width <= kWidth / 2; }, 10s));
    EXPECT_LT(tile->width, kMinimumWidth);
    auto narrowed = pageWidth([](int width) { return width < 1500; });
    ASSERT_TRUE(narrowed) << "the page never followed the tile";
    EXPECT_NEAR(*narrowed, tile->width, 8);
    // Floating again, it is back at its own size.
    ASSERT_TRUE(desktop->command("[title=\"^Lumory$\"] floating enable"));
    EXPECT_TRUE(pageWidth([](int width) { return width >= kMinimumWidth; }));
    EXPECT_EQ((*shell)->standardError(), "");
}

TEST_F(SwayTest, TheOverlayFloatsAboveTheTiledMainWindow) {
    launch("overlay_service.js");
    auto [pageX, pageY] = pageOrigin(kMainTitle);
    input.click(1, pageX + 140, pageY + 70);  // the page's "Open overlay" button
    ASSERT_TRUE((*shell)->waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "load-finished" &&
                   report.value("title", "") == "overlay ready";
        },
        20s))
        << "the overlay never opened";
    std::optional<SwayWindow> overlay;
    ASSERT_TRUE(
        eventually([&] { return (overlay = desktop->window(kOverlayTitle)).has_value(); }, 10s));
    EXPECT_TRUE(overlay->floating) << "sway tiled the overlay beside the main window";
    auto main = desktop->window(kMainTitle);
    ASSERT_TRUE(main);
    EXPECT_FALSE(main->floating);
    EXPECT_EQ(main->width, kWidth) << "the overlay took a tile of the main window's";

    // A click on the main window focuses it; the floating overlay stays in front.
    EXPECT_EQ(clickReached(pageX + 100, pageY + 900), "main");
    EXPECT_TRUE(eventually([&] { return focused(kMainTitle); }, 5s));
    // The overlay page paints a while after it reports itself loaded.
    auto [overlayX, overlayY] = pageOrigin(kOverlayTitle);
    std::string shot = kArtifacts + "/sway-overlay.png";
    std::string head;
    EXPECT_TRUE(eventually(
        [&] {
            if (!desktop->screen().screenshot(shot)) return false;
            head = pixelColour(shot, overlayX + 60, overlayY + 24);
            int red = 0, green = 0, blue = 0;
            std::sscanf(head.c_str(), "%*[^(](%d,%d,%d", &red, &green, &blue);
            return red > 200 && green < 140 && blue < 80;
        },
        15s))
        << "the overlay is hidden: " << head;

    // sway keeps a client's wish to be on every workspace to itself: the overlay stays on the
    // workspace it opened on.
    ASSERT_TRUE(desktop->command("workspace 2"));
    EXPECT_TRUE(eventually(
        [&] {
            auto window = desktop->window(kOverlayTitle);
            return window && !window->visible;
        },
        5s));
    ASSERT_TRUE(desktop->command("workspace 1"));
}

TEST_F(SwayTest, ASecondLaunchActivatesTheWindow) {
    launch("plain_page.js");
    auto other = openOtherWindow(100, 100, 400, 300);
    ASSERT_TRUE(other);
    ASSERT_TRUE(eventually([&] { return focused(kOtherTitle); }, 10s));
    auto launchAgain = [&] {
        DesktopShell second(kShell, "", desktop->session().user());
        ASSERT_TRUE(second.start(desktop->x11Display(), desktop->clientEnvironment()));
        int status = waitForExit(second->pid(), 30s);
        EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    };
    // sway's default answer to an application asking to be activated is to mark it urgent.
    ASSERT_NO_FATAL_FAILURE(launchAgain());
    EXPECT_TRUE(eventually(
        [&] {
            auto window = desktop->window(kMainTitle);
            return window && window->urgent;
        },
        10s))
        << "the running shell did not ask sway for the window";
    // Set to focus such windows, sway brings it forward.
    ASSERT_TRUE(desktop->command("focus_on_window_activation focus"));
    ASSERT_TRUE(desktop->command("[title=\"^Other window$\"] focus"));
    ASSERT_NO_FATAL_FAILURE(launchAgain());
    EXPECT_TRUE(eventually([&] { return focused(kMainTitle); }, 10s));
    ASSERT_TRUE(desktop->command("focus_on_window_activation urgent"));
}

TEST_F(SwayTest, RemindersGoToTheNotificationServerOnTheBus) {
    NotificationTestServer server(desktop->session().sessionBus());
    ASSERT_TRUE(server.started());
    launch("reminder_service.js");
    auto other = openOtherWindow(100, 100, 400, 300);
    ASSERT_TRUE(other);
    ASSERT_TRUE(eventually([&] { return focused(kOtherTitle); }, 10s));
    shell->append("page-commands.jsonl",
                  {{"action", "schedule"},
                   {"notifications", json::array({{{"deliveryId", "lumory.reminder.sway.1"},
                                                   {"id", "sway1"},
                                                   {"inMs", 1500},
                                                   {"title", "Water plants"},
                                                   {"detail", "Balcony"}}})}});
    auto shown = server.waitForNotify(
        [](const auto& notification) { return notification.summary == "Water plants"; }, 15s);
    ASSERT_TRUE(shown) << (*shell)->standardError();
    EXPECT_EQ(shown->body, "Balcony\nTimed task");
    server.invokeAction(shown->id, "lumory.reminder.snooze", "");
    ASSERT_TRUE(eventually([&] { return !shell->linesOf("actions.jsonl").empty(); }, 10s));
    EXPECT_EQ(
        json::parse(shell->linesOf("actions.jsonl")[0].value("body", "{}")).value("action", ""),
        "snooze");
}

}  // namespace
}  // namespace lumory::testing
