// The live overlay of the real shell on a private display with a window manager (jwm) and a
// private session bus carrying a test status area (a StatusNotifierWatcher). The stand-in
// service's main page opens the overlay from a button and reports in its title every click it
// gets; the overlay page does the same, so the probe tells which window a click reached.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "dbus/status_notifier_watcher.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_input.h"
#include "xvfb/xvfb_session_bus.h"
#include "xvfb/xvfb_shell.h"
#include "xvfb/xvfb_window_manager.h"
#include "xvfb/xvfb_windows.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kOverlayService = std::string(LUMORY_TEST_SERVICES) + "/overlay_service.js";
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
constexpr int kScreenWidth = 1600;
constexpr int kScreenHeight = 1000;
constexpr char kMainTitle[] = "Lumory";
constexpr char kOverlayTitle[] = "Lumory live overlay";
const std::string kFisheye = "\u25C9";
const std::string kBullseye = "\u25CE";

// Polls `condition` every 50 ms for at most `timeout`.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
}

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

class OverlayOnDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        ASSERT_TRUE(windowManager.started()) << "jwm did not start";
        ASSERT_TRUE(bus.started()) << "no session bus";
        ASSERT_TRUE(watcher.started()) << "the test status area did not start";
        std::filesystem::create_directories(kArtifacts);
        ASSERT_TRUE(shell.start(display, {"DBUS_SESSION_BUS_ADDRESS=" + bus.address()}));
        ASSERT_TRUE(shell.waitForProbe(
            [](const json& report) {
                return report.value("event", "") == "load-finished" &&
                       report.value("title", "") == "main ready";
            },
            30s))
            << "the stand-in page never loaded\n"
            << shell.standardError();
        ASSERT_TRUE(input.connected());
    }

    void TearDown() override {
        if (HasFailure()) std::cerr << shell.standardError();
    }

    // Clicks at (x, y) and tells which page got it, "main" or "overlay", from the click counter
    // in its title. On a heavily loaded machine a click right after a window drag is sometimes
    // lost altogether; it is then repeated, as a user would: where it lands is what counts.
    std::optional<std::string> clickReached(int x, int y) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            input.click(1, x, y);
            auto report = shell.waitForProbe(
                [](const json& report) {
                    return report.value("event", "") == "title" &&
                           report.value("title", "").find(" clicked ") != std::string::npos;
                },
                5s);
            if (!report) continue;
            std::string title = report->value("title", "");
            return title.substr(0, title.find(' '));
        }
        return std::nullopt;
    }

    // Clicks the main page's "Open overlay" button and waits for the overlay page.
    void openFromThePage() {
        auto main = findWindow(display.name(), kMainTitle);
        ASSERT_TRUE(main);
        // The button sits at (40, 40) to (240, 100) in the page; the client-side frame adds a
        // border of its own around the page.
        int border = (main->width - 1440) / 2;
        // A second press, should the first be lost, only brings the overlay forward.
        std::optional<json> loaded;
        for (int attempt = 0; attempt < 2 && !loaded; ++attempt) {
            input.click(1, main->x + border + 140, main->y + border + 70);
            loaded = shell.waitForProbe(
                [](const json& report) {
                    return report.value("event", "") == "load-finished" &&
                           report.value("title", "") == "overlay ready";
                },
                15s);
        }
        ASSERT_TRUE(loaded) << "the overlay page never loaded";
        overlayAddress = loaded->value("url", "");
        ASSERT_TRUE(eventually([&] { return findWindow(display.name(), kOverlayTitle); }, 10s));
        // Input before the page has painted can arrive before it can be hit.
        auto overlay = findWindow(display.name(), kOverlayTitle);
        ASSERT_TRUE(overlay);
        ASSERT_TRUE(display.screenshotOnceDrawn(kArtifacts + "/overlay-opening.png", 20000,
                                                overlay->x, overlay->y, overlay->width,
                                                overlay->height))
            << "the overlay never showed its page";
    }

    std::optional<int> menuEntry(const StatusNotifierItemAddress& item, const std::string& label) {
        for (const StatusMenuEntry& entry : watcher.menu(item)) {
            if (entry.label == label) return entry.id;
        }
        return std::nullopt;
    }

    int clickThroughState(const StatusNotifierItemAddress& item) {
        for (const StatusMenuEntry& entry : watcher.menu(item)) {
            if (entry.label == "Click through the overlay") return entry.toggleState;
        }
        return -1;
    }

    // Waits until the overlay itself shows its page, not only the main window around it.
    void screenshot(const std::string& name) {
        std::this_thread::sleep_for(300ms);
        auto overlay = findWindow(display.name(), kOverlayTitle);
        ASSERT_TRUE(overlay);
        EXPECT_TRUE(display.screenshotOnceDrawn(kArtifacts + "/" + name, 15000, overlay->x,
                                                overlay->y, overlay->width, overlay->height))
            << name << ": the overlay stayed blank";
    }

    XvfbDisplay display{kScreenWidth, kScreenHeight};
    XvfbWindowManager windowManager{display};
    XvfbSessionBus bus;
    StatusNotifierWatcher watcher{bus.address()};
    ShellUnderTest shell{kShell, kOverlayService};
    XvfbInput input{display.name()};
    std::string overlayAddress;
};

TEST_F(OverlayOnDisplayTest, OpensFloatsDragsClicksThroughAndClosesFromTheStatusMenu) {
    ASSERT_NO_FATAL_FAILURE(openFromThePage());
    // The announced address carries ?session=abc; the overlay gets only live=overlay.
    EXPECT_NE(overlayAddress.find("/?live=overlay"), std::string::npos) << overlayAddress;
    EXPECT_EQ(overlayAddress.find("session"), std::string::npos) << overlayAddress;

    // 520 x 460 of page inside the client-side frame, in the middle of the screen.
    auto overlay = findWindow(display.name(), kOverlayTitle);
    ASSERT_TRUE(overlay);
    int border = (overlay->width - 520) / 2;
    EXPECT_GE(border, 0);
    EXPECT_LE(border, 10);
    EXPECT_EQ(overlay->height - 460, 2 * border);
    EXPECT_NEAR(overlay->x + overlay->width / 2, kScreenWidth / 2, 2);
    EXPECT_NEAR(overlay->y + overlay->height / 2, kScreenHeight / 2, 2);
    auto states = windowStates(display.name(), kOverlayTitle);
    for (const char* state : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY",
                              "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
        EXPECT_TRUE(contains(states, state)) << state;
    }

    // Clicking the main window raises and focuses it, and the overlay stays above it.
    EXPECT_EQ(clickReached(300, 800), "main");
    EXPECT_TRUE(
        eventually([&] { return stackedAbove(display.name(), kOverlayTitle, kMainTitle); }, 2s));

    auto item = watcher.waitForItem(10s);
    ASSERT_TRUE(item) << "no status item registered";
    EXPECT_EQ(watcher.itemProperty(*item, "XAyatanaLabel"), kFisheye);
    EXPECT_EQ(watcher.itemProperty(*item, "Title"), "Lumory live overlay");
    EXPECT_EQ(watcher.itemProperty(*item, "IconName"), "org.lumory.Lumory-overlay-symbolic");
    EXPECT_EQ(watcher.itemProperty(*item, "Status"), "Active");
    auto menu = watcher.menu(*item);
    ASSERT_EQ(menu.size(), 3u);
    EXPECT_EQ(menu[0].label, "Click through the overlay");
    EXPECT_EQ(menu[0].toggleType, "checkmark");
    EXPECT_EQ(menu[0].toggleState, 0);
    EXPECT_EQ(menu[1].type, "separator");
    EXPECT_EQ(menu[2].label, "Close overlay");
    screenshot("overlay-open.png");

    // A drag on the .live-head bar (left of its button) moves the overlay, not the main window.
    auto mainBefore = findWindow(display.name(), kMainTitle);
    ASSERT_TRUE(mainBefore);
    int headX = overlay->x + border + 120;
    int headY = overlay->y + border + 24;
    input.drag(headX, headY, headX + 150, headY + 110);
    std::optional<WindowGeometry> moved;
    EXPECT_TRUE(eventually(
        [&] {
            moved = findWindow(display.name(), kOverlayTitle);
            return moved && moved->x == overlay->x + 150 && moved->y == overlay->y + 110;
        },
        10s))
        << "overlay at " << (moved ? moved->x : -1) << "," << (moved ? moved->y : -1);
    auto mainAfter = findWindow(display.name(), kMainTitle);
    ASSERT_TRUE(mainAfter);
    EXPECT_EQ(mainAfter->x, mainBefore->x);
    EXPECT_EQ(mainAfter->y, mainBefore->y);
    ASSERT_TRUE(moved);
    int bodyX = moved->x + moved->width / 2;
    int bodyY = moved->y + moved->height / 2;

    // Before click-through the overlay takes the click; after, the main page below gets it.
    EXPECT_EQ(clickReached(bodyX, bodyY), "overlay");
    auto clickThrough = menuEntry(*item, "Click through the overlay");
    ASSERT_TRUE(clickThrough);
    ASSERT_TRUE(watcher.click(*item, *clickThrough));
    EXPECT_TRUE(
        eventually([&] { return watcher.itemProperty(*item, "XAyatanaLabel") == kBullseye; }, 10s));
    EXPECT_EQ(clickThroughState(*item), 1);
    EXPECT_EQ(watcher.itemProperty(*item, "IconName"),
              "org.lumory.Lumory-overlay-click-through-symbolic");
    EXPECT_EQ(clickReached(bodyX, bodyY), "main");
    screenshot("overlay-click-through.png");

    // "Close overlay" removes the window and the status item.
    auto close = menuEntry(*item, "Close overlay");
    ASSERT_TRUE(close);
    ASSERT_TRUE(watcher.click(*item, *close));
    EXPECT_TRUE(eventually([&] { return !findWindow(display.name(), kOverlayTitle); }, 10s));
    EXPECT_TRUE(eventually([&] { return !watcher.itemProperty(*item, "Id"); }, 10s))
        << "the status item is still on the bus";

    // Reopened: at the frame it was left at, taking clicks again, with click-through off.
    ASSERT_NO_FATAL_FAILURE(openFromThePage());
    auto reopened = findWindow(display.name(), kOverlayTitle);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->x, moved->x);
    EXPECT_EQ(reopened->y, moved->y);
    auto again = watcher.waitForItem(10s);
    ASSERT_TRUE(again);
    EXPECT_TRUE(eventually(
        [&] {
            auto all = watcher.items();
            return all.size() == 2 && watcher.itemProperty(all.back(), "XAyatanaLabel") == kFisheye;
        },
        10s));
    EXPECT_EQ(clickThroughState(watcher.items().back()), 0);
    EXPECT_EQ(clickReached(bodyX, bodyY), "overlay");

    std::ifstream frames(shell.root() + "/home/.config/lumory/window-frames.ini");
    std::string text((std::istreambuf_iterator<char>(frames)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("[LumoryLiveOverlay]"), std::string::npos);
    EXPECT_NE(text.find("[LumoryMainWindow]"), std::string::npos);

    int status = shell.stop(10s);
    ASSERT_NE(status, -1) << "the shell did not quit";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(OverlayOnDisplayTest, ThePageAndTheWindowMenuSwitchClickThroughAndClose) {
    ASSERT_NO_FATAL_FAILURE(openFromThePage());
    auto overlay = findWindow(display.name(), kOverlayTitle);
    ASSERT_TRUE(overlay);
    int border = (overlay->width - 520) / 2;
    int bodyX = overlay->x + overlay->width / 2;
    int bodyY = overlay->y + overlay->height / 2;
    auto item = watcher.waitForItem(10s);
    ASSERT_TRUE(item);

    // The overlay page's own button in its .live-head bar asks for click-through; a press on a
    // button in the bar does not start a drag.
    input.click(1, overlay->x + border + 371, overlay->y + border + 24);
    EXPECT_TRUE(
        eventually([&] { return watcher.itemProperty(*item, "XAyatanaLabel") == kBullseye; }, 10s));
    auto still = findWindow(display.name(), kOverlayTitle);
    ASSERT_TRUE(still);
    EXPECT_EQ(still->x, overlay->x);
    EXPECT_EQ(clickReached(bodyX, bodyY), "main");

    // Without a status area the main window's Window menu offers the same switch: F10 opens
    // the menu bar on its first menu; Window is the sixth, the switch its fourth item.
    auto main = findWindow(display.name(), kMainTitle);
    ASSERT_TRUE(main);
    EXPECT_EQ(clickReached(main->x + 300, main->y + main->height - 100), "main");
    ASSERT_TRUE(input.chord({"F10"}));
    std::this_thread::sleep_for(500ms);
    for (int step = 0; step < 5; ++step) ASSERT_TRUE(input.chord({"Right"}));
    std::this_thread::sleep_for(300ms);
    screenshot("overlay-window-menu.png");
    for (int step = 0; step < 4; ++step) ASSERT_TRUE(input.chord({"Down"}));
    ASSERT_TRUE(input.chord({"Return"}));
    EXPECT_TRUE(
        eventually([&] { return watcher.itemProperty(*item, "XAyatanaLabel") == kFisheye; }, 10s));
    EXPECT_EQ(clickThroughState(*item), 0);
    EXPECT_EQ(clickReached(bodyX, bodyY), "overlay");

    // The Window menu's "Close overlay", the item after the switch, closes window and item.
    EXPECT_EQ(clickReached(main->x + 300, main->y + main->height - 100), "main");
    ASSERT_TRUE(input.chord({"F10"}));
    std::this_thread::sleep_for(500ms);
    for (int step = 0; step < 5; ++step) ASSERT_TRUE(input.chord({"Right"}));
    std::this_thread::sleep_for(300ms);
    for (int step = 0; step < 5; ++step) ASSERT_TRUE(input.chord({"Down"}));
    ASSERT_TRUE(input.chord({"Return"}));
    EXPECT_TRUE(eventually([&] { return !findWindow(display.name(), kOverlayTitle); }, 10s));
    EXPECT_TRUE(eventually([&] { return !watcher.itemProperty(*item, "Id"); }, 10s));

    // Opened again, the overlay page closes it from its own view.
    ASSERT_NO_FATAL_FAILURE(openFromThePage());
    auto reopened = findWindow(display.name(), kOverlayTitle);
    ASSERT_TRUE(reopened);
    input.click(1, reopened->x + border + 471, reopened->y + border + 24);
    EXPECT_TRUE(eventually([&] { return !findWindow(display.name(), kOverlayTitle); }, 10s));
    EXPECT_TRUE(eventually(
        [&] { return watcher.items().size() == 2 && !watcher.itemProperty(*item, "Id"); }, 10s));

    // And the shell is still well: it opens once more and quits cleanly.
    ASSERT_NO_FATAL_FAILURE(openFromThePage());
    int status = shell.stop(10s);
    ASSERT_NE(status, -1) << "the shell did not quit";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace lumory::testing
