// What a screen reader finds of the real shell: the shell runs with its accessibility bridge on
// a private session bus (which starts the accessibility bus on demand) under jwm, and
// accessibility_tree.py reads its tree over AT-SPI. Keys go in through XTest as a user's would.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

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
const std::string kNotesService = std::string(LUMORY_TEST_SERVICES) + "/notes_page_service.js";
const std::string kTreeScript = LUMORY_ACCESSIBILITY_SCRIPT;
constexpr char kMainTitle[] = "Lumory";
constexpr char kOverlayTitle[] = "Lumory live overlay";
constexpr char kNotesText[] = "Buy oat milk before the meeting with Ada.";

// Every object of a tree, depth first, with the objects above it (outermost first).
void eachNode(const json& node,
              const std::function<void(const json&, const std::vector<const json*>&)>& visit,
              std::vector<const json*>& above) {
    visit(node, above);
    above.push_back(&node);
    for (const json& child : node["children"]) eachNode(child, visit, above);
    above.pop_back();
}

void eachNode(const json& node,
              const std::function<void(const json&, const std::vector<const json*>&)>& visit) {
    std::vector<const json*> above;
    eachNode(node, visit, above);
}

bool hasState(const json& node, const std::string& state) {
    const json& states = node["states"];
    return std::find(states.begin(), states.end(), state) != states.end();
}

// The application's top-level windows by name.
std::vector<std::string> frameNames(const json& tree) {
    std::vector<std::string> names;
    for (const json& child : tree["children"]) {
        if (child["role"] == "frame") names.push_back(child["name"]);
    }
    return names;
}

const json* findNode(const json& tree, const std::string& role, const std::string& name) {
    const json* found = nullptr;
    eachNode(tree, [&](const json& node, const auto&) {
        if (!found && node["role"] == role && node["name"] == name) found = &node;
    });
    return found;
}

class AccessibilityOnDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runAndWait({"/usr/bin/python3", "-c", "import pyatspi"}, {}, 20000))
            << "no pyatspi: install python3-pyatspi (scripts/install-deps.sh test)";
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        ASSERT_TRUE(windowManager.started()) << "jwm did not start";
        ASSERT_TRUE(bus.started()) << "no session bus";
        // The bridge stays off unless NO_AT_BRIDGE is gone altogether.
        ASSERT_TRUE(shell.start(display, {"DBUS_SESSION_BUS_ADDRESS=" + bus.address(),
                                          "NO_AT_BRIDGE", "LUMORY_DESKTOP_PORT=0"}));
        ASSERT_TRUE(shell.waitForProbe(
            [](const json& report) {
                return report.value("event", "") == "load-finished" &&
                       report.value("title", "").rfind("main ", 0) == 0;
            },
            30s))
            << "the stand-in page never loaded\n"
            << shell.standardError();
        ASSERT_TRUE(input.connected());
    }

    void TearDown() override {
        if (HasFailure()) std::cerr << shell.standardError();
    }

    // Runs the tree script with `arguments` on the shell's bus; its standard output, or nothing
    // when it failed.
    std::optional<std::string> script(const std::string& arguments) {
        std::string command = "timeout 30 env -i DISPLAY=" + display.name() +
                              " DBUS_SESSION_BUS_ADDRESS='" + bus.address() + "' HOME='" +
                              shell.root() + "/home' /usr/bin/python3 '" + kTreeScript + "' " +
                              arguments + " 2>/dev/null";
        FILE* output = popen(command.c_str(), "r");
        if (output == nullptr) return std::nullopt;
        std::string text;
        char chunk[4096];
        for (size_t read; (read = fread(chunk, 1, sizeof chunk, output)) > 0;)
            text.append(chunk, read);
        int status = pclose(output);
        if (status != 0) return std::nullopt;
        return text;
    }

    // The shell's tree once `wanted` holds for it, or as it was after `timeout`; the page's
    // objects reach the bus a little after the page reports itself loaded.
    json treeOnce(const std::function<bool(const json&)>& wanted,
                  std::chrono::milliseconds timeout = 30s) {
        json tree;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            auto text = script("tree");
            tree = text ? json::parse(*text, nullptr, false) : json();
            if (!tree.is_discarded() && tree.is_object() && wanted(tree)) return tree;
            std::this_thread::sleep_for(300ms);
        } while (std::chrono::steady_clock::now() < deadline);
        // A tree that never answered reads as an empty application, so the checks fail by name.
        return tree.is_object() && tree.contains("role")
                   ? tree
                   : json::object({{"role", ""},
                                 {"name", ""},
                                 {"states", json::array()},
                                 {"children", json::array()}});
    }

    // "role:name" of the innermost focused object, "" when none has focus; `inPage` tells
    // whether it lies inside the web document.
    std::string focused(bool* inPage = nullptr) {
        json tree = treeOnce([](const json&) { return true; }, 0ms);
        std::string found;
        eachNode(tree, [&](const json& node, const std::vector<const json*>& above) {
            if (!hasState(node, "focused")) return;
            found = node["role"].get<std::string>() + ":" + node["name"].get<std::string>();
            if (inPage) {
                *inPage = node["role"] == "document web" ||
                          std::any_of(above.begin(), above.end(), [](const json* outer) {
                              return (*outer)["role"] == "document web";
                          });
            }
        });
        return found;
    }

    XvfbDisplay display;
    XvfbWindowManager windowManager{display};
    XvfbSessionBus bus;
    ShellUnderTest shell{kShell, kNotesService};
    XvfbInput input{display.name()};
};

bool pageTextReadable(const json& tree) {
    const json* paragraph = nullptr;
    eachNode(tree, [&](const json& node, const auto&) {
        if (node.value("text", "") == kNotesText) paragraph = &node;
    });
    return paragraph != nullptr;
}

TEST_F(AccessibilityOnDisplayTest, EveryControlIsNamedAndThePageIsReadable) {
    json tree = treeOnce(pageTextReadable);
    EXPECT_EQ(tree.value("name", ""), "lumory");
    EXPECT_EQ(frameNames(tree), (std::vector<std::string>{kMainTitle}));

    // The window's own buttons, in the order Tab reaches them.
    std::vector<std::string> pushButtons;
    int menuItems = 0;
    std::vector<std::string> unnamed;
    eachNode(tree, [&](const json& node, const auto& above) {
        std::string role = node["role"];
        std::string name = node["name"];
        bool inPage = std::any_of(above.begin(), above.end(), [](const json* outer) {
            return (*outer)["role"] == "document web";
        });
        if (role == "push button" && !inPage) pushButtons.push_back(name);
        bool control = role == "push button" || role == "menu" || role.ends_with("menu item") ||
                       role == "toggle button" || role == "link" || role == "entry";
        if (role.ends_with("menu item")) ++menuItems;
        if (control && name.empty()) unnamed.push_back(role);
    });
    EXPECT_EQ(pushButtons, (std::vector<std::string>{"Close", "Maximize", "Minimize"}));
    EXPECT_GE(menuItems, 10);
    EXPECT_TRUE(unnamed.empty()) << "unnamed: " << json(unnamed).dump();
    for (const char* menu : {"Lumory", "Edit", "View", "Window"}) {
        EXPECT_TRUE(findNode(tree, "menu", menu)) << menu;
    }
    EXPECT_TRUE(findNode(tree, "menu item", "Quit Lumory"));

    // The page is a web document named by its title, its text and fields readable.
    const json* document = findNode(tree, "document web", "main dpr=1 1440x900 font=16px");
    ASSERT_TRUE(document) << tree.dump();
    EXPECT_TRUE(pageTextReadable(*document)) << document->dump();
    EXPECT_TRUE(findNode(*document, "entry", "New note"));
    EXPECT_TRUE(findNode(*document, "push button", "Open overlay"));
}

TEST_F(AccessibilityOnDisplayTest, TheOverlayIsInTheTreeOnlyWhileOpen) {
    json closed = treeOnce(pageTextReadable);
    EXPECT_EQ(frameNames(closed), (std::vector<std::string>{kMainTitle}));

    // A screen reader user opens it from the page's button.
    ASSERT_TRUE(script("press 'push button' 'Open overlay'"));
    ASSERT_TRUE(shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "load-finished" &&
                   report.value("title", "").rfind("overlay ", 0) == 0;
        },
        20s));
    json open = treeOnce([](const json& tree) {
        const json* overlay = findNode(tree, "frame", kOverlayTitle);
        return overlay && findNode(*overlay, "landmark", "") &&
               findNode(*overlay, "document web", "overlay dpr=1 520x460");
    });
    EXPECT_EQ(frameNames(open), (std::vector<std::string>{kMainTitle, kOverlayTitle}));
    const json* overlay = findNode(open, "frame", kOverlayTitle);
    ASSERT_TRUE(overlay) << open.dump();
    const json* overlayPage = findNode(*overlay, "document web", "overlay dpr=1 520x460");
    ASSERT_TRUE(overlayPage);
    bool captions = false;
    eachNode(*overlayPage, [&](const json& node, const auto&) {
        captions |= node.value("text", "") == "Live captions";
    });
    EXPECT_TRUE(captions) << overlayPage->dump();
    // Its menu items are named while it is open.
    EXPECT_TRUE(findNode(open, "check menu item", "Click through the overlay"));
    ASSERT_TRUE(findNode(open, "menu item", "Close overlay"));

    // Closed from the Window menu, it leaves the tree, not only the screen.
    ASSERT_TRUE(script("press 'menu item' 'Close overlay'"));
    json again = treeOnce([](const json& tree) { return frameNames(tree).size() == 1; });
    EXPECT_EQ(frameNames(again), (std::vector<std::string>{kMainTitle}));
    EXPECT_FALSE(findWindow(display.name(), kOverlayTitle));
}

// From the page, Tab walks the page's controls, then the window buttons left to right, and
// comes back to the page's first control; Shift+Tab walks back the same way, into the page's
// last control.
TEST_F(AccessibilityOnDisplayTest, TabReachesTheWindowButtonsAndThePage) {
    treeOnce(pageTextReadable);
    auto window = findWindow(display.name(), kMainTitle);
    ASSERT_TRUE(window);
    // A click on empty page space, below everything, gives the window and the page the focus.
    input.click(1, window->x + window->width - 200, window->y + window->height - 100);
    std::this_thread::sleep_for(500ms);

    std::vector<std::string> reached;
    bool inPage = false;
    auto press = [&](const std::vector<std::string>& chord) {
        ASSERT_TRUE(input.chord(chord));
        std::string now;
        for (int look = 0; look < 10; ++look) {
            std::this_thread::sleep_for(200ms);
            now = focused(&inPage);
            if (!now.empty() && (reached.empty() || now != reached.back())) break;
        }
        reached.push_back(now);
    };
    for (int step = 0; step < 8; ++step) ASSERT_NO_FATAL_FAILURE(press({"Tab"}));
    EXPECT_EQ(reached,
              (std::vector<std::string>{"link:Today", "entry:New note", "push button:Open overlay",
                                        "push button:Close", "push button:Maximize",
                                        "push button:Minimize", "link:Today", "entry:New note"}));
    EXPECT_TRUE(inPage);

    reached.clear();
    for (int step = 0; step < 5; ++step) ASSERT_NO_FATAL_FAILURE(press({"Shift_L", "Tab"}));
    EXPECT_EQ(reached, (std::vector<std::string>{"link:Today", "push button:Minimize",
                                                 "push button:Maximize", "push button:Close",
                                                 "push button:Open overlay"}));
    EXPECT_TRUE(inPage);
}

}  // namespace
}  // namespace lumory::testing
