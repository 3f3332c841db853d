// The real shell under Xvfb with a stand-in page holding one big text field: misspelled words
// typed into it are underlined in red and correct ones are not, a right click on one offers its
// suggestions before the shell's menus and choosing one replaces the word, and the setting
// turns the checker off.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

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
const std::string kSpellingService = std::string(LUMORY_TEST_SERVICES) + "/spelling_service.js";
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
constexpr char kMainTitle[] = "Lumory";

// Where the stand-in page puts its field and lines (CSS px; the page is not zoomed).
constexpr int kFieldLeft = 40;
constexpr int kFieldRight = 940;
constexpr int kFirstLineTop = 40;
constexpr int kLineHeight = 80;

struct Box {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int count = 0;
};

bool isRed(const unsigned char* rgb) {
    return rgb[0] > 170 && rgb[1] < 100 && rgb[2] < 100;
}

// The red pixels of a screenshot inside a rectangle of the screen.
Box redPixels(const Pixels& pixels, int left, int top, int right, int bottom) {
    Box box{right, bottom, left, top, 0};
    for (int y = std::max(top, 0); y < std::min(bottom, pixels.height); ++y) {
        for (int x = std::max(left, 0); x < std::min(right, pixels.width); ++x) {
            if (!isRed(pixels.at(x, y))) continue;
            box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
                   std::max(box.bottom, y), box.count + 1};
        }
    }
    return box;
}

class SpellingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        fs::create_directories(kArtifacts);
    }

    void start() {
        ASSERT_TRUE(shell.start(display, {"LUMORY_DESKTOP_PORT=0"}));
        ASSERT_TRUE(shell.waitForProbe(
            [](const json& report) {
                return report.value("event", "") == "load-finished" &&
                       report.value("title", "") == "Spelling page";
            },
            30s))
            << shell.standardError();
        auto frame = findWindow(display.name(), kMainTitle);
        auto extents = frameExtents(display.name(), kMainTitle);
        ASSERT_TRUE(frame && extents) << "no main window";
        viewX = frame->x + extents->left;
        viewY = frame->y + extents->top;
        // Into the field, below the lines the tests type on.
        input.click(1, viewX + kFieldLeft + 400, viewY + kFirstLineTop + 3 * kLineHeight);
    }

    void type(const std::string& text) {
        for (char letter : text) {
            std::string key = letter == ' '    ? "space"
                              : letter == '\n' ? "Return"
                                               : std::string(1, letter);
            ASSERT_TRUE(input.chord({key})) << key;
            std::this_thread::sleep_for(20ms);
        }
    }

    // Waits until the field holds `value`, as the page reports it through its title.
    bool waitForValue(const std::string& value, std::chrono::milliseconds timeout = 10s) {
        return shell
            .waitForProbe(
                [&](const json& report) {
                    if (report.value("event", "") != "title") return false;
                    std::string title = report.value("title", "");
                    if (title.rfind("value:", 0) != 0) return false;
                    json shown = json::parse(title.substr(6), nullptr, false);
                    return shown.is_string() && shown.get<std::string>() == value;
                },
                timeout)
            .has_value();
    }

    // The red pixels under line `line` (0 is the first) of the field, on screen now.
    Box redUnderLine(const std::string& screenshot, int line) {
        if (!display.screenshot(screenshot)) return {};
        int top = viewY + kFirstLineTop + line * kLineHeight;
        return redPixels(readPixels(screenshot), viewX + kFieldLeft, top, viewX + kFieldRight,
                         top + kLineHeight);
    }

    // Takes screenshots until line `line` shows red or `timeout` passes; the checker runs
    // after the word is typed, in its own time.
    Box waitForRedUnderLine(const std::string& screenshot, int line,
                            std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        Box box = redUnderLine(screenshot, line);
        while (box.count == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(200ms);
            box = redUnderLine(screenshot, line);
        }
        return box;
    }

    // Right-clicks at (x, y) of the screen and returns the menu the shell is about to show.
    std::optional<json> contextMenuAt(int x, int y) {
        input.click(3, x, y);
        auto menu = shell.waitForProbe(
            [](const json& report) { return report.value("event", "") == "context-menu"; }, 10s);
        if (menu) std::this_thread::sleep_for(500ms);  // until it is on screen and has the keys
        return menu;
    }

    XvfbDisplay display;
    ShellUnderTest shell{kShell, kSpellingService};
    XvfbInput input{display.name()};
    int viewX = 0;
    int viewY = 0;
};

std::vector<std::string> actionsOf(const json& menu) {
    std::vector<std::string> actions;
    for (const json& item : menu["items"]) actions.push_back(item.value("action", ""));
    return actions;
}

TEST_F(SpellingTest, MisspelledWordsAreUnderlinedAndASuggestionReplacesThem) {
    start();
    type("recieve\nbelieve ");
    ASSERT_TRUE(waitForValue("recieve\nbelieve ")) << "the typing did not reach the field";

    Box misspelled = waitForRedUnderLine(kArtifacts + "/spelling-underlined.png", 0, 10s);
    ASSERT_GT(misspelled.count, 20) << "no red underline under the misspelled word";
    // The underline runs under the word alone, in its lower part.
    EXPECT_LT(misspelled.right - misspelled.left, 300);
    EXPECT_GT(misspelled.top, viewY + kFirstLineTop + kLineHeight / 2);
    EXPECT_EQ(redUnderLine(kArtifacts + "/spelling-underlined.png", 1).count, 0)
        << "the correctly spelled word is underlined too";

    auto menu = contextMenuAt((misspelled.left + misspelled.right) / 2, misspelled.top - 25);
    ASSERT_TRUE(menu) << "no context menu";
    EXPECT_TRUE(display.screenshot(kArtifacts + "/spelling-menu.png"));
    std::vector<std::string> actions = actionsOf(*menu);
    ASSERT_FALSE(actions.empty());
    ASSERT_EQ(actions[0], "spelling-guess") << menu->dump();
    std::string suggestion = (*menu)["items"][0].value("label", "");
    EXPECT_EQ(suggestion, "receive");
    // Every spelling item comes before the first of the shell's own menus.
    auto lastSpelling = std::find_if(actions.rbegin(), actions.rend(), [](const std::string& a) {
        return a == "spelling-guess" || a == "ignore-spelling" || a == "learn-spelling";
    });
    auto firstShellMenu = std::find(actions.begin(), actions.end(), "custom");
    ASSERT_NE(firstShellMenu, actions.end()) << "the shell's menus are missing: " << menu->dump();
    EXPECT_LT(actions.rend() - lastSpelling - 1, firstShellMenu - actions.begin())
        << menu->dump();
    for (size_t index = 1; index < actions.size(); ++index) {
        EXPECT_FALSE(actions[index] == "separator" && actions[index - 1] == "separator")
            << "two separators in a row at " << index << ": " << menu->dump();
    }

    ASSERT_TRUE(input.chord({"Down"}));
    ASSERT_TRUE(input.chord({"Return"}));
    ASSERT_TRUE(waitForValue(suggestion + "\nbelieve "))
        << "choosing the suggestion did not replace the word";

    // The corrected word loses its underline.
    bool cleared = false;
    for (int attempt = 0; attempt < 25 && !cleared; ++attempt) {
        std::this_thread::sleep_for(200ms);
        cleared = redUnderLine(kArtifacts + "/spelling-corrected.png", 0).count == 0;
    }
    EXPECT_TRUE(cleared) << "the corrected word is still underlined";
    EXPECT_EQ(shell.standardError(), "") << "the checker printed on the terminal";
}

TEST_F(SpellingTest, TheSettingTurnsTheCheckerOff) {
    fs::create_directories(shell.root() + "/home/.config/lumory");
    std::ofstream(shell.root() + "/home/.config/lumory/settings.ini")
        << "[Defaults]\nLumorySpellChecking=false\n";
    start();
    type("recieve ");
    ASSERT_TRUE(waitForValue("recieve ")) << "the typing did not reach the field";

    // As long as the checker takes, with room to spare, in the test above.
    Box underlined = waitForRedUnderLine(kArtifacts + "/spelling-off.png", 0, 3s);
    EXPECT_EQ(underlined.count, 0) << "underlined with the checker off";
    auto menu = contextMenuAt(viewX + kFieldLeft + 60, viewY + kFirstLineTop + 40);
    ASSERT_TRUE(menu) << "no context menu";
    std::vector<std::string> actions = actionsOf(*menu);
    for (const char* spelling : {"spelling-guess", "ignore-spelling", "learn-spelling"}) {
        EXPECT_EQ(std::count(actions.begin(), actions.end(), spelling), 0)
            << spelling << " with the checker off: " << menu->dump();
    }
    EXPECT_NE(std::find(actions.begin(), actions.end(), "custom"), actions.end())
        << "the shell's menus are missing: " << menu->dump();
    ASSERT_TRUE(input.chord({"Escape"}));
}

}  // namespace
}  // namespace lumory::testing
