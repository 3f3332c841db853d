// The real shell on a private display with the reference service and with small services that
// fail in known ways. What the window shows is read back through the shell's test probe.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "process/child_process.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_input.h"
#include "xvfb/xvfb_session_bus.h"
#include "xvfb/xvfb_shell.h"
#include "xvfb/xvfb_weston.h"
#include "xvfb/xvfb_window_manager.h"
#include "xvfb/xvfb_windows.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kReferenceService = LUMORY_REFERENCE_SERVICE;
const std::string kTestServices = LUMORY_TEST_SERVICES;
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
constexpr int kScreenWidth = 1600;
constexpr int kScreenHeight = 1000;

std::string failureText(const std::string& message) {
    return "Lumory could not open\n" + message;
}

class ShellOnDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        std::filesystem::create_directories(kArtifacts);
    }

    // `settle`: time for the page or the menus to repaint after the last input.
    void screenshot(const std::string& name, std::chrono::milliseconds settle = 0ms) {
        std::this_thread::sleep_for(settle);
        EXPECT_TRUE(display.screenshotOnceDrawn(kArtifacts + "/" + name, 15000))
            << name << " stayed blank";
    }

    // The text of the failure page the shell ends on with `service` (empty: none), saved as the
    // screenshot `shot` when one is named.
    std::string failurePageWith(const std::string& service, const std::string& shot = "") {
        ShellUnderTest shell(kShell, service);
        if (!shell.start(display)) return "(the shell did not start)";
        auto page = shell.waitForProbe(isFailurePage, 30s);
        if (!page) return "(no failure page) " + shell.standardError();
        if (!shot.empty()) screenshot(shot);
        return page->value("text", "");
    }

    // The X window adds the client-side frame's few pixels of border around the content.
    void expectCentredWithContent(int width, int height) {
        auto window = findWindow(display.name(), "Lumory");
        ASSERT_TRUE(window) << "no window titled Lumory";
        EXPECT_GE(window->width - width, 0);
        EXPECT_LE(window->width - width, 20);
        EXPECT_GE(window->height - height, 0);
        EXPECT_LE(window->height - height, 20);
        EXPECT_NEAR(window->x + window->width / 2, kScreenWidth / 2, 2);
        EXPECT_NEAR(window->y + window->height / 2, kScreenHeight / 2, 2);
    }

    // Ctrl+M minimises the shell showing the orange page; launching again must bring it back.
    // `shown` tells whether the window can be seen; `again` is the second launch's environment.
    void minimiseThenLaunchAgain(const std::vector<std::string>& environment,
                                 const std::vector<std::string>& again,
                                 const std::function<bool()>& shown) {
        ShellUnderTest first(kShell, kTestServices + "/shows_orange_page.sh");
        ASSERT_TRUE(first.start(display, environment));
        ASSERT_TRUE(first.waitForProbe(
            [](const json& report) {
                return report.value("event", "") == "load-finished" &&
                       report.value("text", "") == "Orange";
            },
            30s))
            << first.standardError();
        auto becomes = [&](bool wanted) {
            auto deadline = std::chrono::steady_clock::now() + 10s;
            while (shown() != wanted) {
                if (std::chrono::steady_clock::now() > deadline) return false;
                std::this_thread::sleep_for(100ms);
            }
            return true;
        };
        ASSERT_TRUE(becomes(true)) << "the window never showed";
        XvfbInput input(display.name());
        ASSERT_TRUE(input.connected());
        input.click(1, kScreenWidth / 2 - 100, kScreenHeight / 2 + 100);
        ASSERT_TRUE(input.chord({"Control_L", "m"}));
        ASSERT_TRUE(becomes(false)) << "Ctrl+M did not minimise the window";

        ShellUnderTest second(kShell, "");
        std::vector<std::string> secondEnvironment = environment;
        secondEnvironment.insert(secondEnvironment.end(), again.begin(), again.end());
        ASSERT_TRUE(second.start(display, secondEnvironment));
        int status = waitForExit(second.pid(), 15s);
        EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_TRUE(becomes(true)) << "the second launch left the window minimised\n"
                                   << first.standardError();
        EXPECT_EQ(first.standardError().find("WARNING"), std::string::npos)
            << first.standardError();
    }

    // Whether the page's orange shows in the middle of the screen, away from the pointer.
    bool orangeShows() {
        std::string shot = kArtifacts + "/shell-orange-probe.png";
        return display.screenshot(shot) && pixelColour(shot, kScreenWidth / 2 + 200,
                                                       kScreenHeight / 2 - 150) == "srgb(254,91,2)";
    }

    XvfbDisplay display{kScreenWidth, kScreenHeight};
};

TEST_F(ShellOnDisplayTest, ShowsTheReferenceServicePageAndStopsTheServiceOnQuit) {
    ShellUnderTest shell(kShell, kReferenceService);
    ASSERT_TRUE(shell.start(display, {"LUMORY_DESKTOP_PORT=0"}));
    auto loaded = shell.waitForProbe(isServicePage, 30s);
    ASSERT_TRUE(loaded) << "the service's page never finished loading";
    EXPECT_NE(loaded->value("text", "").find("Lumory workspace"), std::string::npos);
    screenshot("shell-loaded.png");
    expectCentredWithContent(1440, 900);
    ASSERT_FALSE(processesMentioning(shell.root() + "/lib/lumory/lumory-server").empty());

    int status = shell.stop(10s);
    ASSERT_NE(status, -1) << "the shell did not quit";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(processesMentioning(shell.root() + "/lib/lumory/lumory-server").empty());

    std::ifstream frames(shell.root() + "/home/.config/lumory/window-frames.ini");
    std::string text((std::istreambuf_iterator<char>(frames)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("[LumoryMainWindow]"), std::string::npos);
    EXPECT_NE(text.find("width=1440"), std::string::npos);
}

TEST_F(ShellOnDisplayTest, ShortcutsMenuBarAndContextMenuReachThePage) {
    ShellUnderTest shell(kShell, kReferenceService);
    ASSERT_TRUE(shell.start(display, {"LUMORY_DESKTOP_PORT=0"}));
    ASSERT_TRUE(shell.waitForProbe(isServicePage, 30s));
    screenshot("shell-before-keys.png");

    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());
    input.movePointer(800, 500);
    auto commandShown = [&](const std::string& word) {
        return shell.waitForProbe(
            [&](const json& report) {
                return report.value("event", "") == "title" &&
                       report.value("title", "") == "Lumory (" + word + ")";
            },
            10s);
    };
    ASSERT_TRUE(input.chord({"Control_L", "t"}));
    EXPECT_TRUE(commandShown("today"));
    ASSERT_TRUE(input.chord({"Control_L", "Shift_L", "t"}));
    EXPECT_TRUE(commandShown("tomorrow"));

    // Alt alone opens the hidden menu bar on its first menu; Format > Bullet is then three
    // menus to the right, the only item there.
    ASSERT_TRUE(input.chord({"Alt_L"}));
    screenshot("shell-menu-open.png", 1s);
    for (int step = 0; step < 3; ++step) ASSERT_TRUE(input.chord({"Right"}));
    ASSERT_TRUE(input.chord({"Down"}));
    ASSERT_TRUE(input.chord({"Return"}));
    EXPECT_TRUE(commandShown("bullet"));

    // The page's context menu repeats the menus (for the mouse; walked here with keys):
    // Navigate is fourth from the end, Filters its third item.
    input.click(3, 700, 400);
    screenshot("shell-context-menu.png", 1s);
    for (int step = 0; step < 4; ++step) ASSERT_TRUE(input.chord({"Up"}));
    ASSERT_TRUE(input.chord({"Right"}));
    ASSERT_TRUE(input.chord({"Down"}));
    ASSERT_TRUE(input.chord({"Down"}));
    ASSERT_TRUE(input.chord({"Return"}));
    EXPECT_TRUE(commandShown("filters"));

    // The menus have closed again and shortcuts still reach the page.
    ASSERT_TRUE(input.chord({"Control_L", "t"}));
    EXPECT_TRUE(commandShown("today"));
    screenshot("shell-after-keys.png", 1s);

    // F10 opens the menu bar as well: Navigate > Tomorrow is two menus on, the second item.
    ASSERT_TRUE(input.chord({"F10"}));
    screenshot("shell-menu-f10.png", 1s);
    for (int step = 0; step < 2; ++step) ASSERT_TRUE(input.chord({"Right"}));
    ASSERT_TRUE(input.chord({"Down"}));
    ASSERT_TRUE(input.chord({"Down"}));
    ASSERT_TRUE(input.chord({"Return"}));
    EXPECT_TRUE(commandShown("tomorrow"));
    // Opening menus from the keyboard prints nothing on the terminal.
    std::string printed = shell.standardError();
    EXPECT_EQ(printed.find("WARNING"), std::string::npos) << printed;
}

// Full screen needs a window manager. While full screen, the View menu's item says it leaves
// full screen, and choosing it does.
TEST_F(ShellOnDisplayTest, TheFullScreenItemSaysExitWhileFullScreen) {
    XvfbWindowManager manager(display);
    ASSERT_TRUE(manager.started()) << "jwm did not start";
    ShellUnderTest shell(kShell, kReferenceService);
    ASSERT_TRUE(shell.start(display, {"LUMORY_DESKTOP_PORT=0"}));
    ASSERT_TRUE(shell.waitForProbe(isServicePage, 30s));
    auto itemTitled = [&](const std::string& title) {
        return shell.waitForProbe(
            [&](const json& report) {
                return report.value("event", "") == "menu-item" &&
                       report.value("title", "") == title;
            },
            10s);
    };
    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());
    auto window = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(window);
    input.click(1, window->x + window->width / 2, window->y + window->height / 2);

    ASSERT_TRUE(input.chord({"F11"}));
    ASSERT_TRUE(itemTitled("Exit Full Screen"));
    auto full = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->width, kScreenWidth);
    EXPECT_EQ(full->height, kScreenHeight);
    screenshot("shell-full-screen.png", 2s);

    // View is the fifth menu; the full-screen item follows Reload. The first menu opens once
    // the bar has its place, after the full-screen page has been laid out again.
    ASSERT_TRUE(input.chord({"F10"}));
    std::this_thread::sleep_for(1s);
    for (int step = 0; step < 4; ++step) ASSERT_TRUE(input.chord({"Right"}));
    ASSERT_TRUE(input.chord({"Down"}));
    ASSERT_TRUE(input.chord({"Down"}));
    screenshot("shell-full-screen-menu.png", 1s);
    ASSERT_TRUE(input.chord({"Return"}));
    EXPECT_TRUE(itemTitled("Enter Full Screen"));
    std::this_thread::sleep_for(300ms);
    auto restored = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(restored);
    EXPECT_LT(restored->width, kScreenWidth);
}

TEST_F(ShellOnDisplayTest, ThePageTitleAreaMovesTheWindow) {
    ShellUnderTest shell(kShell, kReferenceService);
    ASSERT_TRUE(shell.start(display, {"LUMORY_DESKTOP_PORT=0"}));
    ASSERT_TRUE(shell.waitForProbe(isServicePage, 30s));
    screenshot("shell-before-drag.png");
    auto before = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(before);
    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());

    // The page's text is no drag area: the window stays.
    auto stays = windowMovedByDrag(input, display.name(), "Lumory", before->x + 700,
                                   before->y + 400, 100, 60);
    ASSERT_TRUE(stays);
    EXPECT_EQ(stays->x, 0);
    EXPECT_EQ(stays->y, 0);

    // Empty space in the top bar is.
    auto moves = windowMovedByDrag(input, display.name(), "Lumory", before->x + 900, before->y + 25,
                                   -100, 60);
    ASSERT_TRUE(moves);
    EXPECT_NEAR(moves->x, -100, 3);
    EXPECT_NEAR(moves->y, 60, 3);
}

TEST_F(ShellOnDisplayTest, AKilledShellTakesItsServiceWithIt) {
    ShellUnderTest shell(kShell, kReferenceService);
    ASSERT_TRUE(shell.start(display, {"LUMORY_DESKTOP_PORT=0"}));
    ASSERT_TRUE(shell.waitForProbe(
        [](const json& report) { return report.value("event", "") == "load-request"; }, 30s));
    std::string service = shell.root() + "/lib/lumory/lumory-server";
    ASSERT_FALSE(processesMentioning(service).empty());

    shell.killShellOnly();
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!processesMentioning(service).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(processesMentioning(service).empty());
}

TEST_F(ShellOnDisplayTest, AServiceThatExitsShowsItsStatus) {
    EXPECT_EQ(failurePageWith(kTestServices + "/exits_with_status_3.sh"),
              failureText("The local Lumory service stopped unexpectedly (status 3)."));
}

TEST_F(ShellOnDisplayTest, MarkupOnStandardErrorIsShownAsText) {
    EXPECT_EQ(failurePageWith(kTestServices + "/writes_markup.sh", "shell-failure.png"),
              failureText("The local Lumory service stopped unexpectedly.\n\n"
                          "<b>bold</b> & <i>slanted</i> &amp;"));
}

// Without draining, the service blocks on its full standard-error pipe and the watchdog's
// "could not finish starting" shows instead.
TEST_F(ShellOnDisplayTest, AServiceWritingBytesThatAreNotTextNeverBlocks) {
    EXPECT_EQ(failurePageWith(kTestServices + "/not_text_then_floods.sh"),
              failureText("The local Lumory service stopped unexpectedly.\n\nstarting up\ncaf"));
}

TEST_F(ShellOnDisplayTest, AnEndlessOutputLineKeepsTheShellsMemoryBounded) {
    ShellUnderTest shell(kShell, kTestServices + "/floods_one_line.sh");
    ASSERT_TRUE(shell.start(display));
    ASSERT_TRUE(shell.waitForProbe(
        [](const json& report) { return report.value("event", "") == "load-finished"; }, 30s))
        << shell.standardError();
    long before = peakResidentKiB(shell.pid());
    ASSERT_GT(before, 0);
    std::ofstream(shell.root() + "/home/flood") << "go\n";

    auto page = shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "load-finished" &&
                   report.value("text", "") == "Still here";
        },
        60s);
    ASSERT_TRUE(page) << "the ready line after 128 MB without a line feed was missed";
    long after = peakResidentKiB(shell.pid());
    // The long line alone is 128 MB; what the page load itself costs stays far below this.
    EXPECT_LT(after - before, 48 * 1024) << before << " KiB before, " << after << " KiB after";
}

TEST_F(ShellOnDisplayTest, AMissingServiceIsReported) {
    EXPECT_EQ(failurePageWith(""),
              failureText("The Lumory service is missing from the application bundle."));
}

TEST_F(ShellOnDisplayTest, LaunchingAgainHandsOverToTheRunningShell) {
    XvfbSessionBus bus;
    ASSERT_TRUE(bus.started());
    std::string busAddress = "DBUS_SESSION_BUS_ADDRESS=" + bus.address();
    ShellUnderTest first(kShell, kReferenceService);
    ASSERT_TRUE(first.start(display, {busAddress, "LUMORY_DESKTOP_PORT=0"}));
    ASSERT_TRUE(first.waitForProbe(
        [](const json& report) { return report.value("event", "") == "load-request"; }, 30s))
        << first.standardError();

    // The second copy has no service of its own: had it not handed over, it would show the
    // missing-service page instead of exiting.
    ShellUnderTest second(kShell, "");
    ASSERT_TRUE(second.start(display, {busAddress}));
    EXPECT_FALSE(second.waitForProbe([](const json&) { return true; }, 10s));
    int status = waitForExit(second.pid(), 5s);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(processesMentioning(first.root() + "/lib/lumory/lumory-server").size(), 1u);
    EXPECT_EQ(waitForExit(first.pid(), 0ms), -1) << "the first shell must keep running";
}

TEST_F(ShellOnDisplayTest, LaunchingAgainBringsBackAMinimisedWindowOnX11) {
    XvfbWindowManager manager(display);
    ASSERT_TRUE(manager.started()) << "jwm did not start";
    XvfbSessionBus bus;
    ASSERT_TRUE(bus.started());
    minimiseThenLaunchAgain({"DBUS_SESSION_BUS_ADDRESS=" + bus.address()},
                            {"DESKTOP_STARTUP_ID=lumory-test_TIME0"},
                            [&] { return findWindow(display.name(), "Lumory").has_value(); });
}

// Weston runs nested in the test display. The shell prefers X11 where both exist, so the
// native Wayland path is asked for, as users of GDK_BACKEND=wayland do.
TEST_F(ShellOnDisplayTest, LaunchingAgainBringsBackAMinimisedWindowOnWayland) {
    XvfbWeston weston(display, kScreenWidth, kScreenHeight);
    ASSERT_TRUE(weston.started()) << "weston did not start";
    XvfbSessionBus bus;
    ASSERT_TRUE(bus.started());
    std::vector<std::string> environment = weston.clientEnvironment();
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus.address());
    environment.push_back("GDK_BACKEND=wayland");
    minimiseThenLaunchAgain(environment, {"XDG_ACTIVATION_TOKEN=lumory-test-token"},
                            [&] { return orangeShows(); });
    screenshot("shell-wayland-back.png");
}

// The saved size comes back, never below the minimum; the position is centred either way.
TEST_F(ShellOnDisplayTest, ASavedFrameSizeComesBackCentred) {
    struct Case {
        const char* saved;
        int width;
        int height;
    };
    for (Case frame :
         {Case{"width=1000\nheight=700", 1000, 700}, Case{"width=600\nheight=400", 900, 620}}) {
        SCOPED_TRACE(frame.saved);
        ShellUnderTest shell(kShell, "");
        std::filesystem::create_directories(shell.root() + "/home/.config/lumory");
        std::ofstream(shell.root() + "/home/.config/lumory/window-frames.ini")
            << "[LumoryMainWindow]\nx=10\ny=20\n"
            << frame.saved << "\n";
        ASSERT_TRUE(shell.start(display));
        ASSERT_TRUE(shell.waitForProbe(isFailurePage, 30s)) << shell.standardError();
        expectCentredWithContent(frame.width, frame.height);
    }
}

// The page, not the window with its client-side frame, is what may not become smaller than
// 900 x 620; the saved size follows.
TEST_F(ShellOnDisplayTest, ThePageNeverGetsSmallerThanTheMinimumSize) {
    ShellUnderTest shell(kShell, kTestServices + "/reports_page_size.sh");
    ASSERT_TRUE(shell.start(display));
    auto pageSize = [&](const std::string& size) {
        return shell.waitForProbe(
            [&](const json& report) {
                return report.value("event", "") == "title" && report.value("title", "") == size;
            },
            10s);
    };
    ASSERT_TRUE(pageSize("1440x900")) << shell.standardError();
    auto window = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(window);
    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());
    // The bottom right corner of the frame, dragged far past the minimum.
    int cornerX = window->x + window->width - 1;
    int cornerY = window->y + window->height - 1;
    input.drag(cornerX, cornerY, cornerX - 900, cornerY - 600);
    EXPECT_TRUE(pageSize("900x620")) << "the page did not stop at 900 x 620";
    screenshot("shell-smallest.png", 500ms);

    ASSERT_NE(shell.stop(10s), -1);
    std::ifstream frames(shell.root() + "/home/.config/lumory/window-frames.ini");
    std::string text((std::istreambuf_iterator<char>(frames)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("width=900\n"), std::string::npos) << text;
    EXPECT_NE(text.find("height=620\n"), std::string::npos) << text;
}

// Takes the full twenty seconds of the start-up watchdog.
TEST_F(ShellOnDisplayTest, AServiceThatNeverAnnouncesTimesOut) {
    ShellUnderTest shell(kShell, kTestServices + "/never_ready.sh");
    ASSERT_TRUE(shell.start(display, {"LUMORY_DESKTOP_PORT=43999"}));
    auto started = std::chrono::steady_clock::now();
    auto loading = shell.waitForProbe(
        [](const json& report) { return report.value("event", "") == "load-finished"; }, 15s);
    ASSERT_TRUE(loading) << shell.standardError();
    EXPECT_EQ(loading->value("text", ""), "Opening Lumory...");
    screenshot("shell-loading.png");
    auto page = shell.waitForProbe(isFailurePage, 40s);
    ASSERT_TRUE(page) << shell.standardError();
    EXPECT_GE(std::chrono::steady_clock::now() - started, 19s);
    EXPECT_EQ(page->value("text", ""),
              failureText("Lumory took too long to start. Port 43999 may already be in use."));
    ASSERT_NE(shell.stop(10s), -1);
    EXPECT_TRUE(processesMentioning(shell.root() + "/lib/lumory/lumory-server").empty());
}

}  // namespace
}  // namespace lumory::testing
