// The real shell on a private display at GDK_SCALE=2 and at a text scale (GDK_DPI_SCALE=1.25):
// the page draws at device resolution, while the window buttons' place, the page's minimum,
// the saved frames and the overlay's size stay in logical pixels, as at scale 1. The X server
// sees device pixels, the shell's probe and the page logical ones.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "process/child_process.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_input.h"
#include "xvfb/xvfb_shell.h"
#include "xvfb/xvfb_windows.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kNotesService = std::string(LUMORY_TEST_SERVICES) + "/notes_page_service.js";
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
// Device pixels: at scale 2 the desktop is 1600 x 1000 logical pixels, as in the other tests.
constexpr int kScreenWidth = 3200;
constexpr int kScreenHeight = 2000;
constexpr char kMainTitle[] = "Lumory";
constexpr char kOverlayTitle[] = "Lumory live overlay";
// Where the stand-in page draws its sixteen half-pixel stripes and its overlay button (CSS px).
constexpr int kStripesX = 300;
constexpr int kStripesY = 120;
constexpr int kOpenX = 550;
constexpr int kOpenY = 420;

struct Button {
    int x = 0;
    int y = 0;
    int screenX = 0;
    int screenY = 0;
    int width = 0;
    int height = 0;
};
using Buttons = std::map<std::string, Button>;

Buttons buttonsOf(const json& report) {
    Buttons buttons;
    for (const json& button : report["buttons"]) {
        buttons[button["name"]] = Button{button["x"],       button["y"],     button["screenX"],
                                         button["screenY"], button["width"], button["height"]};
    }
    return buttons;
}

bool titleStartsWith(const json& report, const std::string& prefix) {
    return report.value("event", "") == "title" && report.value("title", "").rfind(prefix, 0) == 0;
}

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A number saved under `key` in the [section] of window-frames.ini, or -1.
int savedValue(const std::string& text, const std::string& section, const std::string& key) {
    auto start = text.find("[" + section + "]");
    if (start == std::string::npos) return -1;
    auto end = text.find("\n[", start + 1);
    std::string body = text.substr(start, end == std::string::npos ? end : end - start);
    std::smatch match;
    if (!std::regex_search(body, match, std::regex("\n" + key + "=(-?[0-9]+)"))) return -1;
    return std::stoi(match[1]);
}

class ScaleOnDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        fs::create_directories(kArtifacts);
    }

    // Starts `shell` with `environment`, waits for the main page's report that starts with
    // `expected` and for the buttons the page placed; fills `page` and `placed`.
    void start(ShellUnderTest& shell, const std::vector<std::string>& environment,
               const std::string& expected) {
        std::vector<std::string> all = environment;
        all.push_back("LUMORY_DESKTOP_PORT=0");
        ASSERT_TRUE(shell.start(display, all));
        std::optional<json> title;
        bool buttons = false;
        shell.waitForProbe(
            [&](const json& report) {
                if (titleStartsWith(report, "main ")) title = report;
                if (report.value("event", "") == "window-buttons" &&
                    report.value("placedByPage", false)) {
                    placed = buttonsOf(report);
                    buttons = true;
                }
                return title && title->value("title", "").rfind(expected, 0) == 0 && buttons;
            },
            30s);
        ASSERT_TRUE(title) << "the page never reported itself\n" << shell.standardError();
        page = title->value("title", "");
        ASSERT_EQ(page.rfind(expected, 0), 0u) << page;
        ASSERT_TRUE(buttons) << "the page never placed the window buttons";
    }

    // The main window's page corner on the X screen, in device pixels: the probe's screen
    // positions are logical pixels.
    std::pair<int, int> pageOrigin(int scale) {
        const Button& close = placed.at("close");
        return {scale * (close.screenX - close.x), scale * (close.screenY - close.y)};
    }

    // The X window's size less GTK's client-side frame (a border without a compositor, a
    // shadow with one), taken as the distance from the window's corner to the page's corner.
    std::optional<std::pair<int, int>> contentSize(const std::string& title, int scale) {
        auto main = findWindow(display.name(), kMainTitle);
        auto window = findWindow(display.name(), title);
        if (!main || !window) return std::nullopt;
        auto [pageX, pageY] = pageOrigin(scale);
        return std::pair{window->width - 2 * (pageX - main->x),
                         window->height - 2 * (pageY - main->y)};
    }

    std::string screenshot(const std::string& name) {
        std::string path = kArtifacts + "/" + name;
        EXPECT_TRUE(display.screenshotOnceDrawn(path, 15000)) << name << " stayed blank";
        return path;
    }

    XvfbDisplay display{kScreenWidth, kScreenHeight};
    std::string page;
    Buttons placed;
};

// The same page at scale 1 and 2: the same logical sizes and button places, twice the pixels.
TEST_F(ScaleOnDisplayTest, AtScaleTwoThePageIsSharpAndTheButtonsKeepTheirPlace) {
    Buttons atOne;
    {
        ShellUnderTest shell(kShell, kNotesService);
        ASSERT_NO_FATAL_FAILURE(start(shell, {}, "main dpr=1 1440x900"));
        atOne = placed;
        ASSERT_NE(shell.stop(10s), -1);
    }
    ShellUnderTest shell(kShell, kNotesService);
    ASSERT_NO_FATAL_FAILURE(start(shell, {"GDK_SCALE=2"}, "main dpr=2 1440x900"));
    EXPECT_EQ(page, "main dpr=2 1440x900 font=16px");

    // The page's corner, in logical pixels, stays where the rule puts it at scale 1.
    ASSERT_EQ(placed.size(), 3u);
    for (const auto& [name, button] : atOne) {
        SCOPED_TRACE(name);
        EXPECT_EQ(placed[name].x, button.x);
        EXPECT_EQ(placed[name].y, button.y);
        EXPECT_EQ(placed[name].width, button.width);
        EXPECT_EQ(placed[name].height, button.height);
    }
    EXPECT_EQ(placed["close"].x, 16);
    EXPECT_EQ(placed["close"].y, 14);

    // The X window holds twice the logical size around the page, centred.
    auto window = findWindow(display.name(), kMainTitle);
    ASSERT_TRUE(window);
    EXPECT_EQ(contentSize(kMainTitle, 2), std::pair(2 * 1440, 2 * 900));
    EXPECT_NEAR(window->x + window->width / 2, kScreenWidth / 2, 4);
    EXPECT_NEAR(window->y + window->height / 2, kScreenHeight / 2, 4);
    auto [pageX, pageY] = pageOrigin(2);

    // Half-pixel stripes land on single device pixels, black and white in turn; a page drawn
    // at scale 1 and stretched would show them in pairs (or grey).
    std::string shot = screenshot("scale-2-main.png");
    for (int stripe = 0; stripe < 16; ++stripe) {
        EXPECT_EQ(pixelColour(shot, pageX + 2 * kStripesX + stripe, pageY + 2 * kStripesY),
                  stripe % 2 ? "srgb(255,255,255)" : "srgb(0,0,0)")
            << "stripe " << stripe;
    }
    // The device pixel at twice the logical middle of the close button is the close button.
    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());
    const Button& close = placed["close"];
    input.click(1, 2 * close.screenX + close.width, 2 * close.screenY + close.height);
    int status = waitForExit(shell.pid(), 10s);
    ASSERT_NE(status, -1) << "the close button at scale 2 did not quit";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The page's minimum and the saved frame are logical pixels at scale 2, and a saved frame comes
// back at its logical size.
TEST_F(ScaleOnDisplayTest, AtScaleTwoTheMinimumAndTheSavedFrameStayLogical) {
    std::string saved;
    {
        ShellUnderTest shell(kShell, kNotesService);
        ASSERT_NO_FATAL_FAILURE(start(shell, {"GDK_SCALE=2"}, "main dpr=2 1440x900"));
        auto window = findWindow(display.name(), kMainTitle);
        ASSERT_TRUE(window);
        XvfbInput input(display.name());
        ASSERT_TRUE(input.connected());
        // The bottom right corner of the frame, dragged far past the minimum.
        auto [pageX, pageY] = pageOrigin(2);
        int cornerX = window->x + window->width - 1;
        int cornerY = window->y + window->height - 1;
        input.drag(cornerX, cornerY, cornerX - 1800, cornerY - 1200);
        EXPECT_TRUE(shell.waitForProbe(
            [](const json& report) { return titleStartsWith(report, "main dpr=2 900x620"); }, 10s))
            << "the page did not stop at 900 x 620 logical pixels";
        EXPECT_EQ(contentSize(kMainTitle, 2), std::pair(2 * 900, 2 * 620));
        screenshot("scale-2-smallest.png");
        ASSERT_NE(shell.stop(10s), -1);
        saved = fileText(shell.root() + "/home/.config/lumory/window-frames.ini");
        EXPECT_EQ(savedValue(saved, "LumoryMainWindow", "width"), 900) << saved;
        EXPECT_EQ(savedValue(saved, "LumoryMainWindow", "height"), 620) << saved;
        // The position too is logical: the page's corner on the screen, as GTK gives it
        // without the frame.
        EXPECT_EQ(savedValue(saved, "LumoryMainWindow", "x"), pageX / 2) << saved;
        EXPECT_EQ(savedValue(saved, "LumoryMainWindow", "y"), pageY / 2) << saved;
    }
    ShellUnderTest again(kShell, kNotesService);
    fs::create_directories(again.root() + "/home/.config/lumory");
    std::ofstream(again.root() + "/home/.config/lumory/window-frames.ini")
        << "[LumoryMainWindow]\nx=10\ny=20\nwidth=1000\nheight=700\n";
    ASSERT_NO_FATAL_FAILURE(start(again, {"GDK_SCALE=2"}, "main dpr=2 1000x700"));
    auto window = findWindow(display.name(), kMainTitle);
    ASSERT_TRUE(window);
    EXPECT_NEAR(window->x + window->width / 2, kScreenWidth / 2, 4);
    EXPECT_NEAR(window->y + window->height / 2, kScreenHeight / 2, 4);
}

// The overlay keeps its 520 x 460 logical pixels at scale 2, and its page draws at scale 2.
TEST_F(ScaleOnDisplayTest, AtScaleTwoTheOverlayKeepsItsLogicalSize) {
    ShellUnderTest shell(kShell, kNotesService);
    ASSERT_NO_FATAL_FAILURE(start(shell, {"GDK_SCALE=2"}, "main dpr=2 1440x900"));
    auto [pageX, pageY] = pageOrigin(2);
    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());
    input.click(1, pageX + 2 * kOpenX, pageY + 2 * kOpenY);
    auto overlayPage = shell.waitForProbe(
        [](const json& report) { return titleStartsWith(report, "overlay dpr="); }, 20s);
    ASSERT_TRUE(overlayPage) << "the overlay never opened\n" << shell.standardError();
    EXPECT_EQ(overlayPage->value("title", ""), "overlay dpr=2 520x460");
    std::optional<WindowGeometry> overlay;
    for (int attempt = 0; attempt < 100 && !overlay; ++attempt) {
        overlay = findWindow(display.name(), kOverlayTitle);
        if (!overlay) std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(overlay);
    EXPECT_EQ(contentSize(kOverlayTitle, 2), std::pair(2 * 520, 2 * 460));
    EXPECT_NEAR(overlay->x + overlay->width / 2, kScreenWidth / 2, 4);
    EXPECT_NEAR(overlay->y + overlay->height / 2, kScreenHeight / 2, 4);
    EXPECT_TRUE(display.screenshotOnceDrawn(kArtifacts + "/scale-2-overlay.png", 15000, overlay->x,
                                            overlay->y, overlay->width, overlay->height));
    ASSERT_NE(shell.stop(10s), -1);
    std::string saved = fileText(shell.root() + "/home/.config/lumory/window-frames.ini");
    EXPECT_EQ(savedValue(saved, "LumoryLiveOverlay", "width"), 520) << saved;
    EXPECT_EQ(savedValue(saved, "LumoryLiveOverlay", "height"), 460) << saved;
}

// WebKitGTK zooms the whole page by the text scale: the window keeps its logical size, the
// page gets fewer CSS pixels, and the buttons keep their place in CSS pixels.
TEST_F(ScaleOnDisplayTest, ALargerTextScaleZoomsThePageAndTheButtonsFollow) {
    ShellUnderTest shell(kShell, kNotesService);
    ASSERT_NO_FATAL_FAILURE(start(shell, {"GDK_DPI_SCALE=1.25"}, "main dpr=1 1152x720"));
    EXPECT_EQ(page, "main dpr=1 1152x720 font=16px");
    // 16 and 14 CSS px from the sidebar's corner at 1.25 view pixels each.
    EXPECT_EQ(placed["close"].x, 20);
    EXPECT_EQ(placed["close"].y, 18);
    EXPECT_EQ(contentSize(kMainTitle, 1), std::pair(1440, 900));
    screenshot("text-scale-1.25-main.png");
    ASSERT_NE(shell.stop(10s), -1);
}

}  // namespace
}  // namespace lumory::testing
