// The real shell on GNOME Shell 43 (Wayland, the shell itself through Xwayland), started once for
// all cases: the window and its buttons, reminders as GNOME's own banners, the live overlay, and
// logging out. Input goes through mutter's remote desktop interface, as the user's own would.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "dbus/fake_session_manager.h"
#include "desktops/desktop_test.h"
#include "desktops/gnome_shell_desktop.h"
#include "desktops/x11_test_window.h"
#include "process/child_process.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_windows.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
const std::string kIcon = LUMORY_APP_ICON;
// Large enough that GNOME does not maximise the 1440 x 900 window when it opens (it does so to
// windows that take most of the screen).
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kTopBarHeight = 32;  // GNOME Shell's panel at 100 %
constexpr char kOverlayTitle[] = "Lumory live overlay";
// GNOME Shell's banner: 500 px wide, centred below the panel; its icon 16 px in from the left.
constexpr int kBannerTop = 36;
constexpr int kBannerIconX = kWidth / 2 - 250 + 16;
constexpr int kBannerIconY = 53;
constexpr int kBannerIconSize = 34;

// The red, green and blue of a pixel of a PNG.
std::array<int, 3> rgb(const std::string& path, int x, int y) {
    std::array<int, 3> colour{-1, -1, -1};
    std::string text = pixelColour(path, x, y);
    // "srgb(r,g,b)", or "srgba(r,g,b,a)" for GNOME's screenshots, which have an alpha channel.
    std::sscanf(text.c_str(), "%*[^(](%d,%d,%d", &colour[0], &colour[1], &colour[2]);
    return colour;
}

// The share of strongly coloured pixels in a rectangle of a PNG: GNOME's grey placeholder for an
// icon it cannot load has none, Lumory's blue and orange icon plenty.
double colouredShare(const std::string& path, int x, int y, int width, int height) {
    std::string command = "timeout 20 convert '" + path + "' -crop " + std::to_string(width) + "x" +
                          std::to_string(height) + "+" + std::to_string(x) + "+" +
                          std::to_string(y) +
                          " +repage -colorspace HSL -channel G -separate +channel -threshold 40% "
                          "-format '%[fx:mean]' info: 2>/dev/null";
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr) return -1;
    double share = -1;
    if (std::fscanf(output, "%lf", &share) != 1) share = -1;
    pclose(output);
    return share;
}

struct Button {
    int screenX = 0;
    int screenY = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class GnomeShellTest : public DesktopTest<GnomeShellDesktop> {
protected:
    static void SetUpTestSuite() { startDesktop(kWidth, kHeight); }

    // The window buttons by name and their order, from the last report once reports have
    // stopped coming for `settle` (the buttons are reported again at every step of a change).
    using Buttons = std::map<std::string, Button>;
    std::optional<Buttons> settledButtons(std::vector<std::string>* order = nullptr) {
        auto report = shell->settledButtons(1500ms);
        if (!report) return std::nullopt;
        Buttons buttons;
        if (order) order->clear();
        for (const json& button : (*report)["buttons"]) {
            if (order) order->push_back(button["name"]);
            buttons[button["name"]] =
                Button{button["screenX"], button["screenY"], button["x"],
                       button["y"],       button["width"],   button["height"]};
        }
        return buttons;
    }

    // Waits until the settled buttons are in `wanted` order.
    std::optional<Buttons> buttonsInOrder(const std::vector<std::string>& wanted) {
        std::optional<Buttons> buttons;
        std::vector<std::string> order;
        eventually([&] { return (buttons = settledButtons(&order)) && order == wanted; }, 15s);
        return order == wanted ? buttons : std::nullopt;
    }

    void pagePosts(const json& message) { shell->append("page-commands.jsonl", message); }

    std::optional<json> waitForPageEvent(const std::string& name,
                                         const std::function<bool(const json&)>& wanted,
                                         std::chrono::milliseconds timeout = 10s) {
        std::optional<json> found;
        eventually(
            [&] {
                for (const json& event : shell->linesOf("page-events.jsonl")) {
                    if (event.value("name", "") == name && wanted(event["detail"])) {
                        found = event["detail"];
                        return true;
                    }
                }
                return false;
            },
            timeout);
        return found;
    }

    bool waitForTitle(const std::string& title, std::chrono::milliseconds timeout = 10s) {
        return (*shell)
            ->waitForProbe(
                [&](const json& report) {
                    return report.value("event", "") == "title" &&
                           report.value("title", "") == title;
                },
                timeout)
            .has_value();
    }

    bool focused(const std::string& title) {
        auto window = desktop->window(title);
        return window && window->focused && !window->hidden;
    }

    // Takes screenshots until GNOME Shell shows a banner (dark grey below the panel) and keeps
    // the one that shows it at `name`.
    bool waitForBanner(const std::string& name, std::chrono::milliseconds timeout = 20s) {
        std::string path = kArtifacts + "/" + name;
        return eventually(
            [&] {
                if (!desktop->screenshot(path)) return false;
                auto colour = rgb(path, kWidth / 2, kBannerTop + 8);
                return colour[0] >= 0 && colour[0] < 90 && colour[1] < 90 && colour[2] < 90;
            },
            timeout);
    }

    // Schedules one reminder, due in 2 s, and waits until GNOME Shell shows its banner.
    void remindWhileAnotherWindowIsActive(const json& reminder, const std::string& screenshot) {
        {
            GnomeShellDesktop::Input input(*desktop);
            auto other = findWindow(desktop->x11Display(), kOtherTitle);
            ASSERT_TRUE(other);
            input.click(other->x + other->width / 2, other->y + other->height / 2);
            // The pointer rests away from where the banner opens: GNOME Shell keeps a banner
            // that opened under the pointer from expanding.
            input.moveTo(other->x + other->width / 2, kHeight - 40);
        }
        ASSERT_TRUE(eventually([&] { return focused(kOtherTitle); }, 5s));
        json entry = reminder;
        entry["inMs"] = 2000;
        size_t before = desktop->notifications().size();
        pagePosts({{"action", "schedule"}, {"notifications", json::array({entry})}});
        ASSERT_TRUE((*shell)->waitForProbe(
            [&](const json& report) {
                return report.value("event", "") == "notification-added" &&
                       report.value("identifier", "") == entry.value("deliveryId", "");
            },
            10s))
            << "the page's reminder never reached the shell";
        ASSERT_TRUE(eventually([&] { return desktop->notifications().size() > before; }, 15s))
            << "the shell never asked GNOME Shell for a banner; the page got:\n"
            << ::testing::PrintToString(shell->linesOf("page-events.jsonl"))
            << (*shell)->standardError();
        ASSERT_TRUE(waitForBanner(screenshot)) << "GNOME Shell showed no banner";
    }

    std::optional<json> waitForAction(size_t count, std::chrono::milliseconds timeout = 10s) {
        std::optional<json> found;
        eventually(
            [&] {
                auto actions = shell->linesOf("actions.jsonl");
                if (actions.size() >= count)
                    found = json::parse(actions[count - 1].value("body", "{}"));
                return found.has_value();
            },
            timeout);
        return found;
    }
};

// The bridge page's top bar (CSS px from the page's top left corner) and an empty place in it.
constexpr int kTopBarEmptyX = 900;
constexpr int kTopBarY = 24;

// The install tree's icon, as `cmake --install` puts it beside the shell.
void withInstalledIcon(const std::string& root) {
    std::string apps = root + "/share/icons/hicolor/scalable/apps";
    fs::create_directories(apps);
    fs::copy_file(kIcon, apps + "/org.lumory.Lumory.svg");
}

TEST_F(GnomeShellTest, TheWindowOpensWithThePageAndItsButtonsFollowGnomesLayout) {
    launch("bridge_page_service.js");
    EXPECT_TRUE(eventually([&] { return focused(kMainTitle); }, 5s)) << "not the active window";

    // GNOME's layout has close alone on the right; over the page's sidebar on the left the
    // group is mirrored, close outermost.
    const std::vector<std::string> gnomeOrder{"close", "maximize", "minimize"};
    auto placed = buttonsInOrder(gnomeOrder);
    ASSERT_TRUE(placed) << "the page never placed the buttons in GNOME's order";
    EXPECT_EQ(placed->at("close").x, 16);
    EXPECT_EQ(placed->at("close").y, 14);
    // GNOME's setting for the title-bar buttons reaches the shell through gsd-xsettings.
    ASSERT_TRUE(desktop->setting("org.gnome.desktop.wm.preferences", "button-layout",
                                 "close,minimize,maximize:appmenu"));
    EXPECT_TRUE(buttonsInOrder({"close", "minimize", "maximize"}))
        << "the buttons did not follow GNOME's layout";
    ASSERT_TRUE(
        desktop->setting("org.gnome.desktop.wm.preferences", "button-layout", "appmenu:close"));
    placed = buttonsInOrder(gnomeOrder);
    ASSERT_TRUE(placed);
    EXPECT_TRUE(desktop->screenshot(kArtifacts + "/gnome-shell-window.png"));

    auto normal = desktop->window(kMainTitle);
    ASSERT_TRUE(normal);
    auto centre = [](const Button& button) {
        return std::pair{button.screenX + button.width / 2, button.screenY + button.height / 2};
    };
    std::string lastSize;
    auto sizeBecomes = [&](int width, int height) {
        return eventually(
            [&] {
                auto window = desktop->window(kMainTitle);
                lastSize =
                    window ? std::to_string(window->width) + "x" + std::to_string(window->height)
                           : "no window";
                return window && window->width == width && window->height == height;
            },
            10s);
    };
    {
        GnomeShellDesktop::Input input(*desktop);
        auto [x, y] = centre(placed->at("maximize"));
        input.click(x, y);
    }
    EXPECT_TRUE(sizeBecomes(kWidth, kHeight - kTopBarHeight))
        << "maximise did not fill the screen: " << lastSize;
    auto maximized = settledButtons();
    ASSERT_TRUE(maximized);
    {
        GnomeShellDesktop::Input input(*desktop);
        auto [x, y] = centre(maximized->at("maximize"));
        input.click(x, y);
    }
    EXPECT_TRUE(sizeBecomes(normal->width, normal->height))
        << "restore did not restore: " << lastSize;

    // A double click on empty top-bar space maximises and restores, as GNOME's title bars do.
    auto restored = settledButtons();
    ASSERT_TRUE(restored);
    int viewX = restored->at("close").screenX - restored->at("close").x;
    int viewY = restored->at("close").screenY - restored->at("close").y;
    {
        GnomeShellDesktop::Input input(*desktop);
        input.doubleClick(viewX + kTopBarEmptyX, viewY + kTopBarY);
    }
    EXPECT_TRUE(sizeBecomes(kWidth, kHeight - kTopBarHeight))
        << "the double click did not maximise: " << lastSize;
    {
        GnomeShellDesktop::Input input(*desktop);
        input.doubleClick(kTopBarEmptyX, kTopBarHeight + kTopBarY);
    }
    EXPECT_TRUE(sizeBecomes(normal->width, normal->height))
        << "the double click did not restore: " << lastSize;

    // Dragging empty top-bar space moves the window with the pointer. Where mutter takes over
    // the pointer late (a loaded machine), the window ends up to 30 px from the exact place.
    std::this_thread::sleep_for(500ms);
    auto before = findWindow(desktop->x11Display(), kMainTitle);
    ASSERT_TRUE(before);
    {
        GnomeShellDesktop::Input input(*desktop);
        input.drag(viewX + kTopBarEmptyX, viewY + kTopBarY, viewX + kTopBarEmptyX - 120,
                   viewY + kTopBarY + 70);
    }
    std::optional<WindowGeometry> moved;
    EXPECT_TRUE(eventually(
        [&] {
            moved = findWindow(desktop->x11Display(), kMainTitle);
            return moved && std::abs(moved->x - (before->x - 120)) <= 30 &&
                   std::abs(moved->y - (before->y + 70)) <= 30;
        },
        10s))
        << "from " << before->x << "," << before->y << " to "
        << (moved ? std::to_string(moved->x) + "," + std::to_string(moved->y) : "nowhere");
}

TEST_F(GnomeShellTest, MinimisedComesBackOnASecondLaunchAndCloseQuits) {
    launch("bridge_page_service.js");
    auto placed = settledButtons();
    ASSERT_TRUE(placed);
    {
        GnomeShellDesktop::Input input(*desktop);
        const Button& minimize = placed->at("minimize");
        input.click(minimize.screenX + minimize.width / 2, minimize.screenY + minimize.height / 2);
    }
    ASSERT_TRUE(eventually(
        [&] {
            auto window = desktop->window(kMainTitle);
            return window && window->hidden;
        },
        10s))
        << "the minimise button did not minimise";

    // GNOME's launcher starts the program again; it hands over to the running shell.
    DesktopShell second(kShell, "", desktop->session().user());
    ASSERT_TRUE(second.start(desktop->x11Display(), desktop->clientEnvironment()));
    int status = waitForExit(second->pid(), 30s);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(eventually([&] { return focused(kMainTitle); }, 10s))
        << "the second launch did not bring the window back to the front";

    placed = settledButtons();
    ASSERT_TRUE(placed);
    {
        GnomeShellDesktop::Input input(*desktop);
        const Button& close = placed->at("close");
        input.click(close.screenX + close.width / 2, close.screenY + close.height / 2);
    }
    status = (*shell)->waitUntilEnded(15s);
    ASSERT_NE(status, -1) << "the close button did not quit";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(GnomeShellTest, RemindersShowAsGnomeBannersWhoseButtonsReachTheService) {
    launch("reminder_service.js", {}, withInstalledIcon);
    auto other = openOtherWindow(1000, 560, 560, 380);
    ASSERT_TRUE(other);

    ASSERT_NO_FATAL_FAILURE(
        remindWhileAnotherWindowIsActive({{"deliveryId", "lumory.reminder.gnome.1"},
                                          {"id", "gnome1"},
                                          {"title", "Water plants"},
                                          {"detail", "Balcony"}},
                                         "gnome-shell-banner.png"));
    auto shown = desktop->notifications().back();
    EXPECT_EQ(shown.summary, "Water plants");
    EXPECT_EQ(shown.body, "Balcony\nTimed task");
    EXPECT_EQ(shown.actions,
              (std::vector<std::string>{"default", "Open", "lumory.reminder.snooze", "Snooze 10m",
                                        "lumory.reminder.done", "Done"}));
    // Super+N opens the banner's buttons with the first one focused; Return presses it.
    {
        GnomeShellDesktop::Input input(*desktop);
        ASSERT_TRUE(input.chord({"Super_L", "n"}));
        std::this_thread::sleep_for(1s);
        EXPECT_TRUE(desktop->screenshot(kArtifacts + "/gnome-shell-banner-buttons.png"));
        ASSERT_TRUE(input.chord({"Return"}));
    }
    auto snooze = waitForAction(1);
    ASSERT_TRUE(snooze) << "Snooze 10m on GNOME's banner did not reach the service";
    EXPECT_EQ(*snooze, json({{"id", "gnome1"},
                             {"action", "snooze"},
                             {"deliveryId", "lumory.reminder.gnome.1"},
                             {"snoozeMinutes", 10}}));

    ASSERT_NO_FATAL_FAILURE(remindWhileAnotherWindowIsActive(
        {{"deliveryId", "lumory.reminder.gnome.2"}, {"id", "gnome2"}, {"title", "Pay rent"}},
        "gnome-shell-banner-2.png"));
    EXPECT_EQ(desktop->notifications().back().summary, "Pay rent");
    {
        GnomeShellDesktop::Input input(*desktop);
        ASSERT_TRUE(input.chord({"Super_L", "n"}));
        std::this_thread::sleep_for(1s);
        ASSERT_TRUE(input.chord({"Right"}));
        ASSERT_TRUE(input.chord({"Return"}));
    }
    auto done = waitForAction(2);
    ASSERT_TRUE(done) << "Done on GNOME's banner did not reach the service";
    EXPECT_EQ(*done, json({{"id", "gnome2"},
                           {"action", "complete"},
                           {"deliveryId", "lumory.reminder.gnome.2"}}));

    // A click on the banner brings the window forward and opens the reminder.
    ASSERT_NO_FATAL_FAILURE(
        remindWhileAnotherWindowIsActive({{"deliveryId", "lumory.reminder.gnome.3"},
                                          {"id", "gnome3"},
                                          {"title", "Call Ada"},
                                          {"path", "notes/ada.md"}},
                                         "gnome-shell-banner-3.png"));
    {
        GnomeShellDesktop::Input input(*desktop);
        input.click(kWidth / 2, kBannerTop + 30);
    }
    EXPECT_TRUE(eventually([&] { return focused(kMainTitle); }, 10s))
        << "the window did not come forward";
    auto opened = waitForPageEvent("lumory-reminder-action", [](const json& detail) {
        return detail.value("action", "") == "open";
    });
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->at("reminder").value("id", ""), "gnome3");
}

// GNOME Shell finds an icon named by the notification only in the icon themes of its own data
// folders; the shell run from its build or install tree must name one it can load.
TEST_F(GnomeShellTest, TheBannerShowsLumorysIconWhereverTheShellIsInstalled) {
    launch("reminder_service.js", {}, withInstalledIcon);
    auto other = openOtherWindow(1000, 560, 560, 380);
    ASSERT_TRUE(other);
    ASSERT_NO_FATAL_FAILURE(remindWhileAnotherWindowIsActive(
        {{"deliveryId", "lumory.reminder.icon.1"}, {"id", "icon1"}, {"title", "Stretch"}},
        "gnome-shell-banner-icon.png"));
    auto shown = desktop->notifications().back();
    double share = colouredShare(kArtifacts + "/gnome-shell-banner-icon.png", kBannerIconX,
                                 kBannerIconY, kBannerIconSize, kBannerIconSize);
    EXPECT_GT(share, 0.2) << "GNOME Shell shows its missing-image placeholder for app icon \""
                          << shown.appIcon << "\" and image-path "
                          << (shown.hints.count("image-path") ? shown.hints["image-path"] : "none");
}

TEST_F(GnomeShellTest, TheOverlayStaysAboveOnEveryWorkspaceAndTheWindowMenuControlsIt) {
    launch("overlay_service.js");
    auto mainFrame = findWindow(desktop->x11Display(), kMainTitle);
    auto mainExtents = frameExtents(desktop->x11Display(), kMainTitle);
    ASSERT_TRUE(mainFrame && mainExtents);
    int viewX = mainFrame->x + mainExtents->left;
    int viewY = mainFrame->y + mainExtents->top;
    // On a loaded machine a click is now and then lost on its way; it is repeated, as a user
    // would: where it lands is what counts.
    auto clickReached = [&](int x, int y) {
        std::optional<std::string> page;
        for (int attempt = 0; attempt < 3 && !page; ++attempt) {
            {
                GnomeShellDesktop::Input input(*desktop);
                input.click(x, y);
            }
            page = clickedPage();
        }
        return page;
    };
    {
        GnomeShellDesktop::Input input(*desktop);
        input.click(viewX + 140, viewY + 70);  // the page's "Open overlay" button
    }
    ASSERT_TRUE((*shell)->waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "load-finished" &&
                   report.value("title", "") == "overlay ready";
        },
        20s))
        << "the overlay never opened";
    ASSERT_TRUE(eventually([&] { return desktop->window(kOverlayTitle).has_value(); }, 10s));
    auto overlay = findWindow(desktop->x11Display(), kOverlayTitle);
    auto extents = frameExtents(desktop->x11Display(), kOverlayTitle);
    ASSERT_TRUE(overlay && extents);
    int pageX = overlay->x + extents->left;
    int pageY = overlay->y + extents->top;
    // The overlay's orange head bar, left of its buttons, shows wherever the overlay is seen.
    auto overlaySeen = [&](const std::string& name) {
        std::string path = kArtifacts + "/" + name;
        return eventually(
            [&] {
                if (!desktop->screenshot(path)) return false;
                auto colour = rgb(path, pageX + 60, pageY + 24);
                return colour[0] > 200 && colour[1] < 140 && colour[2] < 80;
            },
            15s);
    };

    auto states = windowStates(desktop->x11Display(), kOverlayTitle);
    for (const char* state : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY"}) {
        EXPECT_NE(std::find(states.begin(), states.end(), state), states.end()) << state;
    }
    // The main window, clicked and so raised and active, stays below the overlay.
    EXPECT_EQ(clickReached(viewX + 1300, viewY + 800), "main");
    EXPECT_TRUE(eventually([&] { return focused(kMainTitle); }, 5s));
    EXPECT_TRUE(stackedAbove(desktop->x11Display(), kOverlayTitle, kMainTitle));
    // The card is translucent, rgba(8, 27, 66, 0.78): its body shows a blend with whatever lies
    // beside the overlay (the main window here, the desktop's background on the next workspace).
    auto expectCardBlended = [&](const std::string& name) {
        const std::string path = kArtifacts + "/" + name;
        const auto below = rgb(path, pageX - 40, pageY + 200);
        const auto body = rgb(path, pageX + 200, pageY + 200);
        const std::array<int, 3> card{8, 27, 66};
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(body[channel], 0.78 * card[channel] + 0.22 * below[channel], 8)
                << name << ": the overlay's card is not blended with what lies below it";
    };
    EXPECT_TRUE(overlaySeen("gnome-shell-overlay.png")) << "the main window covers the overlay";
    expectCardBlended("gnome-shell-overlay.png");

    // On the next workspace the main window is gone and the overlay is still there.
    {
        GnomeShellDesktop::Input input(*desktop);
        ASSERT_TRUE(input.chord({"Super_L", "Page_Down"}));
    }
    EXPECT_TRUE(eventually(
        [&] {
            auto window = desktop->window(kMainTitle);
            return window && window->hidden;
        },
        10s))
        << "the workspace did not change";
    // The X window stays; GNOME's own window list sometimes leaves the overlay out after the
    // switch (about one run in five, while the window was above, sticky and even focused), so
    // the list is read when it has the overlay and the screen settles that it is still seen.
    ASSERT_TRUE(findWindow(desktop->x11Display(), kOverlayTitle))
        << "the overlay closed when the workspace changed\n" << (*shell)->standardError();
    if (auto onOther = desktop->window(kOverlayTitle)) {
        EXPECT_FALSE(onOther->hidden) << "the overlay stayed behind on the first workspace";
    }
    EXPECT_TRUE(overlaySeen("gnome-shell-overlay-workspace-2.png"));
    expectCardBlended("gnome-shell-overlay-workspace-2.png");
    {
        GnomeShellDesktop::Input input(*desktop);
        ASSERT_TRUE(input.chord({"Super_L", "Page_Up"}));
    }
    ASSERT_TRUE(eventually(
        [&] {
            auto window = desktop->window(kMainTitle);
            return window && !window->hidden;
        },
        10s));

    // GNOME has no status area: the Window menu (F10, the sixth menu) switches click-through,
    // its fourth item, and closes the overlay, its fifth.
    int bodyX = pageX + 260;
    int bodyY = pageY + 300;
    EXPECT_EQ(clickReached(bodyX, bodyY), "overlay");
    auto windowMenuItem = [&](int item) {
        EXPECT_EQ(clickReached(viewX + 300, viewY + 800), "main");
        GnomeShellDesktop::Input input(*desktop);
        input.chord({"F10"});
        std::this_thread::sleep_for(500ms);
        for (int step = 0; step < 5; ++step) input.chord({"Right"});
        std::this_thread::sleep_for(300ms);
        for (int step = 0; step < item; ++step) input.chord({"Down"});
        input.chord({"Return"});
    };
    windowMenuItem(4);
    EXPECT_TRUE(eventually([&] { return clickReached(bodyX, bodyY) == "main"; }, 10s))
        << "click-through from the Window menu did not let the click through";
    windowMenuItem(5);
    // Read from X, not from GNOME's list, which can leave the overlay out while it is open.
    EXPECT_TRUE(eventually(
        [&] { return !findWindow(desktop->x11Display(), kOverlayTitle).has_value(); }, 10s))
        << "Close overlay in the Window menu did not close it";
}

TEST_F(GnomeShellTest, LoggingOutWaitsForTheNoteToBeSaved) {
    FakeSessionManager session(desktop->session().sessionBus());
    ASSERT_TRUE(session.started());
    launch("saves_on_flush.js", {"LUMORY_CONFIG=save"});
    ASSERT_TRUE(session.waitFor(
        [](const auto& log) {
            return std::find(log.begin(), log.end(), "register:org.lumory.Lumory") != log.end();
        },
        10s));
    {
        GnomeShellDesktop::Input input(*desktop);
        auto main = findWindow(desktop->x11Display(), kMainTitle);
        ASSERT_TRUE(main);
        input.click(main->x + main->width / 2, main->y + main->height / 2);
    }
    // Keys sent before the focus has moved would go to the window that had it.
    ASSERT_TRUE(eventually([&] { return focused(kMainTitle); }, 5s));
    std::this_thread::sleep_for(500ms);
    {
        GnomeShellDesktop::Input input(*desktop);
        for (char c : std::string("logout")) input.chord({std::string(1, c)});
    }
    ASSERT_TRUE(waitForTitle("typed:logout")) << "the page did not get the text";

    session.queryEndSession();
    ASSERT_TRUE(session.waitFor(
        [](const auto& log) {
            return std::find(log.begin(), log.end(), "response:org.lumory.Lumory:true") !=
                   log.end();
        },
        15s))
        << ::testing::PrintToString(session.log());
    auto log = session.log();
    auto inhibited = std::find(log.begin(), log.end(), "inhibit:1:1:Saving your note");
    ASSERT_NE(inhibited, log.end()) << ::testing::PrintToString(log);
    EXPECT_LT(inhibited - log.begin(),
              std::find(log.begin(), log.end(), "response:org.lumory.Lumory:true") - log.begin());
    int status = (*shell)->waitUntilEnded(15s);
    ASSERT_NE(status, -1) << "the shell did not quit";
    std::ifstream note(shell->home() + "/note.txt");
    std::string saved((std::istreambuf_iterator<char>(note)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, "logout");
}

// GNOME 43 with no portal running: its own color-scheme setting, changed as its Settings app
// changes it, turns GTK and the page dark and back without a restart. The shell shares the
// session's settings folders, as every application of a real session does.
TEST_F(GnomeShellTest, GnomesDarkStyleSettingIsFollowedLive) {
    std::string config = desktop->session().runtime() + "/home/.config";
    struct Restore {
        ~Restore() {
            desktop->setting("org.gnome.desktop.interface", "color-scheme", "default");
            std::error_code ignored;
            fs::remove_all(config + "/lumory", ignored);
        }
        std::string config;
    } restore{config};
    launch("color_scheme_page.js",
           {"XDG_CONFIG_HOME=" + config, "XDG_RUNTIME_DIR=" + desktop->session().runtime()});
    auto darkStyle = [&](bool dark) {
        return (*shell)
            ->waitForProbe(
                [&](const json& report) {
                    return report.value("event", "") == "dark-style" &&
                           report.value("preferDark", !dark) == dark;
                },
                10s)
            .has_value();
    };

    auto changed = std::chrono::steady_clock::now();
    ASSERT_TRUE(desktop->setting("org.gnome.desktop.interface", "color-scheme", "'prefer-dark'"));
    EXPECT_TRUE(darkStyle(true)) << "GTK did not turn dark";
    EXPECT_TRUE(waitForTitle("Lumory dark")) << "the page did not turn dark";
    std::cout << "dark after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - changed)
                     .count()
              << " ms (gsettings included)\n";
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(desktop->screenshot(kArtifacts + "/gnome-shell-dark.png"));

    changed = std::chrono::steady_clock::now();
    ASSERT_TRUE(desktop->setting("org.gnome.desktop.interface", "color-scheme", "'default'"));
    EXPECT_TRUE(darkStyle(false)) << "GTK stayed dark";
    EXPECT_TRUE(waitForTitle("Lumory light")) << "the page stayed dark";
    std::cout << "light after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - changed)
                     .count()
              << " ms (gsettings included)\n";
}

}  // namespace
}  // namespace lumory::testing
