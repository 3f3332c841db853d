// The real shell under Xvfb with a stand-in service page: links that leave or stay, the
// page's dialogs answered through the real dialogs, the window buttons over the page, window
// dragging from the top bar, and the reload after the web process dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "process/child_process.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_input.h"
#include "xvfb/xvfb_shell.h"
#include "xvfb/xvfb_window_manager.h"
#include "xvfb/xvfb_windows.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// The dialog's buttons as the probe reports them, by label in the page's order.
json buttonLabels(const json& dialog) {
    json labels = json::array();
    for (const json& button : dialog.value("buttons", json::array())) {
        labels.push_back(button.value("label", ""));
    }
    return labels;
}
namespace fs = std::filesystem;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kBridgeService = std::string(LUMORY_TEST_SERVICES) + "/bridge_page_service.js";
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
constexpr int kScreenWidth = 1600;
constexpr int kScreenHeight = 1000;

// Where the stand-in page puts its elements (CSS px; the page is not zoomed).
constexpr int kActionX = 320;
constexpr int kOutsideLinkY = 115;
constexpr int kSecondBlankLinkY = 155;
constexpr int kOutsideBlankLinkY = 195;
constexpr int kMailLinkY = 235;
constexpr int kFileLinkY = 275;
constexpr int kAlertY = 315;
constexpr int kConfirmY = 355;
constexpr int kPromptY = 395;
constexpr int kPromptDefaultY = 435;
constexpr int kBlobWindowY = 475;
constexpr int kTopBarEmptyX = 900;
constexpr int kTopBarY = 24;
constexpr int kTopBarButtonX = 240 + 360;

bool isTitle(const json& report, const std::string& title) {
    return report.value("event", "") == "title" && report.value("title", "") == title;
}

struct Button {
    int x = 0;
    int y = 0;
    int screenX = 0;
    int screenY = 0;
    int width = 0;
    int height = 0;
};

class PageBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        fs::create_directories(kArtifacts);
    }

    // Starts the shell on the stand-in page and waits until the page has placed the buttons.
    void start(std::vector<std::string> environment = {}) {
        environment.push_back("LUMORY_DESKTOP_PORT=0");
        ASSERT_TRUE(shell.start(display, environment));
        // The page may place the buttons before or after it reports itself loaded.
        bool loaded = false;
        shell.waitForProbe(
            [&](const json& report) {
                if (report.value("event", "") == "load-finished" &&
                    report.value("title", "") == "Bridge page") {
                    loaded = true;
                } else if (report.value("event", "") == "window-buttons" &&
                           report.value("placedByPage", false)) {
                    placed = buttonsOf(report);
                }
                return loaded && placed;
            },
            30s);
        ASSERT_TRUE(loaded) << shell.standardError();
        ASSERT_TRUE(placed) << "the page never placed the window buttons";
        viewX = placed->at("close").screenX - placed->at("close").x;
        viewY = placed->at("close").screenY - placed->at("close").y;
    }

    // The next report of the buttons placed by the page for which `wanted` holds.
    std::optional<std::map<std::string, Button>> waitForButtons(
        const std::function<bool(const std::map<std::string, Button>&)>& wanted,
        std::chrono::milliseconds timeout = 15s) {
        std::optional<std::map<std::string, Button>> found;
        shell.waitForProbe(
            [&](const json& report) {
                if (report.value("event", "") != "window-buttons" ||
                    !report.value("placedByPage", false)) {
                    return false;
                }
                auto buttons = buttonsOf(report);
                if (!wanted(buttons)) return false;
                found = buttons;
                return true;
            },
            timeout);
        return found;
    }

    // The buttons of a report by name; their order, left to right, goes to `order`.
    std::map<std::string, Button> buttonsOf(const json& report) {
        std::map<std::string, Button> buttons;
        order.clear();
        for (const json& button : report["buttons"]) {
            order.push_back(button["name"]);
            buttons[button["name"]] = Button{button["x"],       button["y"],     button["screenX"],
                                             button["screenY"], button["width"], button["height"]};
        }
        return buttons;
    }

    bool waitForTitle(const std::string& title, std::chrono::milliseconds timeout = 10s) {
        return shell
            .waitForProbe([&](const json& report) { return isTitle(report, title); }, timeout)
            .has_value();
    }

    void clickPage(int x, int y) { input.click(1, viewX + x, viewY + y); }

    void screenshot(const std::string& name) {
        std::this_thread::sleep_for(500ms);
        EXPECT_TRUE(display.screenshot(kArtifacts + "/" + name)) << name;
    }

    XvfbDisplay display{kScreenWidth, kScreenHeight};
    ShellUnderTest shell{kShell, kBridgeService};
    XvfbInput input{display.name()};
    int viewX = 0;
    int viewY = 0;
    // The buttons as the page first placed them, left to right in `order`.
    std::optional<std::map<std::string, Button>> placed;
    std::vector<std::string> order;
};

// The desktop's handler for https, http and mailto is a script that writes down what it got, and
// which signals it started with blocked or ignored (to handler-signals.txt beside the log).
std::string installUrlRecorder(const std::string& home) {
    std::string log = home + "/opened-urls.txt";
    std::string script = home + "/record-url.sh";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << log << "'\n"
                          // grep's own masks: the script's would show the moment sh blocks
                          // everything around a fork. A child starts with the script's masks.
                          << "grep -E '^Sig(Blk|Ign)' /proc/self/status >> '" << home
                          << "/handler-signals.txt'\n";
    fs::permissions(script, fs::perms::owner_all, fs::perm_options::add);
    fs::create_directories(home + "/.local/share/applications");
    std::ofstream(home + "/.local/share/applications/lumory-test-recorder.desktop")
        << "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" << script << " %u\n"
        << "MimeType=x-scheme-handler/https;x-scheme-handler/http;x-scheme-handler/mailto;\n";
    fs::create_directories(home + "/.config");
    std::ofstream(home + "/.config/mimeapps.list")
        << "[Default Applications]\n"
        << "x-scheme-handler/https=lumory-test-recorder.desktop\n"
        << "x-scheme-handler/http=lumory-test-recorder.desktop\n"
        << "x-scheme-handler/mailto=lumory-test-recorder.desktop\n";
    return log;
}

std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> waitForLines(const std::string& path, size_t count) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (linesOf(path).size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    return linesOf(path);
}

TEST_F(PageBridgeTest, LinksLeaveForTheDesktopHandlerOrStayInTheWindow) {
    std::string opened = installUrlRecorder(shell.root() + "/home");
    start();

    clickPage(kActionX, kOutsideLinkY);
    EXPECT_EQ(waitForLines(opened, 1),
              (std::vector<std::string>{"https://outside.invalid/elsewhere"}));
    clickPage(kActionX, kMailLinkY);
    clickPage(kActionX, kFileLinkY);
    clickPage(kActionX, kOutsideBlankLinkY);
    EXPECT_EQ(waitForLines(opened, 3),
              (std::vector<std::string>{"https://outside.invalid/elsewhere",
                                        "mailto:someone@outside.invalid",
                                        "https://outside.invalid/blank"}));
    // A script's window on a blob address gets none, and nothing leaves.
    clickPage(kActionX, kBlobWindowY);
    EXPECT_TRUE(waitForTitle("blob-window:none"));

    // An internal address asked for in a new window replaces the page in the same view.
    clickPage(kActionX, kSecondBlankLinkY);
    auto second = shell.waitForProbe(
        [](const json& report) { return report.value("event", "") == "load-finished"; }, 10s);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->value("title", ""), "Second page");
    EXPECT_NE(second->value("url", "").find("/second"), std::string::npos);
    EXPECT_EQ(linesOf(opened).size(), 3u) << "the file link or the blob window went outside";
    // The shell keeps SIGINT and SIGHUP blocked for itself; what it opens starts clean.
    auto signals = linesOf(shell.root() + "/home/handler-signals.txt");
    EXPECT_EQ(signals.size(), 6u);
    for (const std::string& line : signals) EXPECT_TRUE(line.ends_with(":\t0000000000000000")) << line;
    EXPECT_EQ(findWindow(display.name(), "Second page"), std::nullopt) << "a new window opened";
}

TEST_F(PageBridgeTest, AlertConfirmAndPromptAnswerThroughTheDialogs) {
    start();
    auto window = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(window);
    // Without a window manager, the keyboard goes where the pointer is: on the dialog,
    // which sits in the middle of the main window.
    auto answer = [&](int y, const std::vector<std::vector<std::string>>& keys) {
        clickPage(kActionX, y);
        auto dialog = shell.waitForProbe(
            [](const json& report) { return report.value("event", "") == "dialog"; }, 10s);
        std::this_thread::sleep_for(500ms);
        input.movePointer(window->x + window->width / 2, window->y + window->height / 2);
        for (const auto& chord : keys) EXPECT_TRUE(input.chord(chord));
        return dialog.value_or(json());
    };

    json alert = answer(kAlertY, {{"Return"}});
    EXPECT_EQ(alert["text"], "Lumory");
    EXPECT_EQ(alert["secondaryText"], "Saved.");
    EXPECT_EQ(buttonLabels(alert), json({"OK"}));
    EXPECT_TRUE(waitForTitle("alert:done"));

    json confirm = answer(kConfirmY, {{"Return"}});
    EXPECT_EQ(confirm["secondaryText"], "Delete it?");
    EXPECT_EQ(buttonLabels(confirm), json({"OK", "Cancel"}));
    EXPECT_TRUE(waitForTitle("confirm:true"));
    answer(kConfirmY, {{"Escape"}});
    EXPECT_TRUE(waitForTitle("confirm:false"));

    json prompt = answer(kPromptY, {{"a"}, {"Shift_L", "b"}, {"Return"}});
    EXPECT_EQ(prompt["text"], "Name?");
    EXPECT_EQ(prompt["secondaryText"], "");
    EXPECT_EQ(prompt["textField"], "");
    EXPECT_TRUE(waitForTitle("prompt:\"aB\""));
    answer(kPromptY, {{"Return"}});
    EXPECT_TRUE(waitForTitle("prompt:\"\""));
    answer(kPromptY, {{"x"}, {"Escape"}});
    EXPECT_TRUE(waitForTitle("prompt:null"));
    json withDefault = answer(kPromptDefaultY, {{"Return"}});
    EXPECT_EQ(withDefault["textField"], "draft");
    EXPECT_TRUE(waitForTitle("prompt:\"draft\""));
    screenshot("bridge-after-dialogs.png");
}

TEST_F(PageBridgeTest, OnlyEmptyTopBarSpaceMovesTheWindow) {
    start();

    // A button inside the top bar is not a drag area.
    auto stays = windowMovedByDrag(input, display.name(), "Lumory", viewX + kTopBarButtonX,
                                   viewY + kTopBarY, 100, 60);
    ASSERT_TRUE(stays);
    EXPECT_EQ(stays->x, 0);
    EXPECT_EQ(stays->y, 0);

    auto moves = windowMovedByDrag(input, display.name(), "Lumory", viewX + kTopBarEmptyX,
                                   viewY + kTopBarY, -100, 60);
    ASSERT_TRUE(moves);
    EXPECT_NEAR(moves->x, -100, 3);
    EXPECT_NEAR(moves->y, 60, 3);
}

TEST_F(PageBridgeTest, WindowButtonsFollowTheSidebarAtThePagesZoom) {
    XvfbWindowManager windowManager(display);
    ASSERT_TRUE(windowManager.started());
    start();
    auto& buttons = placed;
    // GTK's default layout has close at the right; over the sidebar at the window's left the
    // group is mirrored, so close stays at the outer edge.
    EXPECT_EQ(order, (std::vector<std::string>{"close", "maximize", "minimize"}));
    EXPECT_EQ(buttons->at("close").x, 16);
    EXPECT_EQ(buttons->at("close").y, 14);
    screenshot("bridge-window-buttons.png");

    // Ctrl+plus six times walks from 100 % to 200 %: the corner doubles.
    clickPage(900, 700);
    std::this_thread::sleep_for(500ms);  // the window manager gives the click focus
    for (int step = 0; step < 6; ++step) ASSERT_TRUE(input.chord({"Control_L", "plus"}));
    EXPECT_TRUE(shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "zoom" && report.value("level", 0.0) == 2.0;
        },
        10s))
        << "the zoom keys did not reach the page";
    auto zoomed = waitForButtons([](const auto& placed) { return placed.at("close").x == 32; });
    ASSERT_TRUE(zoomed) << shell.standardError();
    EXPECT_EQ(zoomed->at("close").x, 32);
    EXPECT_EQ(zoomed->at("close").y, 28);
    std::this_thread::sleep_for(2s);  // the page repaints at the new zoom a little later
    screenshot("bridge-window-buttons-200.png");
    ASSERT_TRUE(input.chord({"Control_L", "0"}));
    auto reset = waitForButtons([](const auto& placed) { return placed.at("close").x == 16; });
    ASSERT_TRUE(reset);
    EXPECT_EQ(reset->at("close").y, 14);
}

TEST_F(PageBridgeTest, WindowButtonsAndTheTopBarMaximiseMinimiseAndClose) {
    XvfbWindowManager windowManager(display);
    ASSERT_TRUE(windowManager.started());
    start();
    auto& buttons = placed;
    auto normal = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(normal);
    auto centre = [](const Button& button) {
        return std::pair{button.screenX + button.width / 2, button.screenY + button.height / 2};
    };
    // The window's geometry once its width is `width`, or as it is after five seconds.
    auto windowWithWidth = [&](int width) {
        auto deadline = std::chrono::steady_clock::now() + 5s;
        std::optional<WindowGeometry> window;
        while (std::chrono::steady_clock::now() < deadline) {
            window = findWindow(display.name(), "Lumory");
            if (window && window->width == width) break;
            std::this_thread::sleep_for(50ms);
        }
        // The window manager's state change reaches the shell a little after the geometry.
        std::this_thread::sleep_for(1s);
        return findWindow(display.name(), "Lumory");
    };

    auto [maximizeX, maximizeY] = centre(buttons->at("maximize"));
    input.click(1, maximizeX, maximizeY);
    auto maximized = windowWithWidth(kScreenWidth);
    ASSERT_TRUE(maximized);
    EXPECT_EQ(maximized->width, kScreenWidth);
    EXPECT_EQ(maximized->height, kScreenHeight);
    screenshot("bridge-maximized.png");
    // Maximised, the window sits at 0,0, and so do the buttons' screen positions' origin.
    input.click(1, maximizeX - normal->x, maximizeY - normal->y);
    auto restored = windowWithWidth(normal->width);
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->width, normal->width);

    // A double click on empty top-bar space maximises and restores, as a title bar does.
    auto top = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(top);
    input.click(1, top->x + kTopBarEmptyX, top->y + kTopBarY);
    input.click(1, top->x + kTopBarEmptyX, top->y + kTopBarY);
    auto doubled = windowWithWidth(kScreenWidth);
    ASSERT_TRUE(doubled);
    EXPECT_EQ(doubled->width, kScreenWidth);
    input.click(1, kTopBarEmptyX, kTopBarY);
    input.click(1, kTopBarEmptyX, kTopBarY);
    auto back = windowWithWidth(normal->width);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, normal->width);

    // Minimised, the window is no longer on screen.
    auto current = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(current);
    int minimizeX = current->x + buttons->at("minimize").x + buttons->at("minimize").width / 2;
    int minimizeY = current->y + buttons->at("minimize").y + buttons->at("minimize").height / 2;
    input.click(1, minimizeX, minimizeY);
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (findWindow(display.name(), "Lumory") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(findWindow(display.name(), "Lumory"), std::nullopt) << "not minimised";
}

TEST_F(PageBridgeTest, TheCloseButtonQuits) {
    start();
    auto& buttons = placed;
    const Button& close = buttons->at("close");
    input.click(1, close.screenX + close.width / 2, close.screenY + close.height / 2);
    int status = waitForExit(shell.pid(), 10s);
    ASSERT_NE(status, -1) << "the shell did not quit";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(PageBridgeTest, AKilledWebProcessReloadsThePage) {
    start();
    std::vector<pid_t> webProcesses = childrenMentioning(shell.pid(), "WebKitWebProcess");
    ASSERT_FALSE(webProcesses.empty());
    for (pid_t pid : webProcesses) kill(pid, SIGKILL);
    EXPECT_TRUE(shell.waitForProbe(
        [](const json& report) { return report.value("event", "") == "web-process-terminated"; },
        10s));
    auto reloaded = shell.waitForProbe(
        [](const json& report) { return report.value("event", "") == "load-finished"; }, 20s);
    ASSERT_TRUE(reloaded) << shell.standardError();
    EXPECT_EQ(reloaded->value("title", ""), "Bridge page");
}

}  // namespace
}  // namespace lumory::testing
