// The dispatcher's handling of what pages post, the page commands, and the window buttons'
// placement from the page's sidebar at the page's zoom.
#include "page/page_messages.h"
#include "page/page_scripts.h"
#include "shell_fixture.h"

namespace lumory::fakes {
namespace {

using nlohmann::json;

constexpr char kReady[] = "{\"event\":\"ready\",\"url\":\"http://127.0.0.1:43981/\"}\n";

class PageBridgeTest : public ShellTest {
protected:
    void SetUp() override { launch(); }

    void post(const std::string& name, const json& body) {
        desktop.webViewDelegate->scriptMessageReceived(page(), name, body);
    }
    std::vector<Point>& origins() { return desktop.mainWindow->controlsOrigins; }
};

TEST_F(PageBridgeTest, WindowControlsNeedBothNumbersInAnObject) {
    for (const json& body :
         {json(nullptr), json::array({1, 2}), json::object(), json("left"), json(12),
          json({{"left", 10}}), json({{"top", 10}}), json({{"left", "10"}, {"top", 4}}),
          json({{"left", 10}, {"top", nullptr}}), json({{"left", true}, {"top", 4}}),
          json({{"Left", 10}, {"Top", 4}})}) {
        SCOPED_TRACE(body.dump());
        post("lumoryDesktopWindowControls", body);
    }
    EXPECT_TRUE(origins().empty());
    post("lumoryDesktopWindowControls", {{"left", 0}, {"top", 0}, {"extra", "ignored"}});
    post("lumoryDesktopWindowControls", {{"left", 240.5}, {"top", -3}});
    ASSERT_EQ(origins().size(), 2u);
    EXPECT_DOUBLE_EQ(origins()[0].x, 16);
    EXPECT_DOUBLE_EQ(origins()[0].y, 14);
    EXPECT_DOUBLE_EQ(origins()[1].x, 256.5);
    EXPECT_DOUBLE_EQ(origins()[1].y, 11);
}

TEST_F(PageBridgeTest, PlacementScalesWithTheZoomDownToATenth) {
    struct Case {
        double zoom;
        double left, top;
        double x, y;
    };
    for (Case entry : {Case{2.0, 0, 0, 32, 28}, Case{1.5, 10, 20, 39, 51}, Case{0.5, 100, 0, 58, 7},
                       Case{0.1, 0, 0, 1.6, 1.4}, Case{0.05, 0, 0, 1.6, 1.4}, Case{0, 4, 6, 2, 2},
                       Case{-1, 4, 6, 2, 2}}) {
        SCOPED_TRACE(entry.zoom);
        page().zoomLevel = entry.zoom;
        origins().clear();
        post("lumoryDesktopWindowControls", {{"left", entry.left}, {"top", entry.top}});
        ASSERT_EQ(origins().size(), 1u);
        EXPECT_NEAR(origins()[0].x, entry.x, 1e-9);
        EXPECT_NEAR(origins()[0].y, entry.y, 1e-9);
    }
}

TEST_F(PageBridgeTest, MalformedMessagesChangeNothing) {
    // Names compare exactly; unknown names and malformed bodies are dropped silently.
    for (const char* name : {"lumorydesktopflush", "lumoryDesktopFlush ", "unknown", ""}) {
        post(name, {{"ok", true}});
    }
    // No quit is pending, so flush answers, even "ok" ones, change nothing.
    for (const json& body : {json({{"ok", true}}), json({{"ok", "true"}}), json(nullptr),
                             json::array({true}), json({{"error", "disk full"}})}) {
        post("lumoryDesktopFlush", body);
    }
    for (const json& body :
         {json(nullptr), json::array({"open"}), json::object(), json({{"action", 1}}),
          json({{"action", "Open"}}), json({{"action", "clickThrough"}}),
          json({{"action", "clickThrough"}, {"value", "true"}}), json("open")}) {
        post("lumoryDesktopOverlay", body);
    }
    EXPECT_EQ(std::count(desktop.events.begin(), desktop.events.end(), "quit"), 0);
    EXPECT_EQ(std::count(desktop.events.begin(), desktop.events.end(), "overlay-window"), 0);
    EXPECT_TRUE(origins().empty());
    EXPECT_EQ(desktop.mainWindow->calls.back(), "present");
    EXPECT_TRUE(page().scripts.empty());

    // Drag bodies are not read: whatever the page sends, the main window is asked to move.
    post("lumoryDesktopWindowDrag", nullptr);
    post("lumoryDesktopWindowDrag", json::array());
    EXPECT_EQ(desktop.mainWindow->calls.back(), "move-drag");
}

TEST_F(PageBridgeTest, ReminderMessagesReachTheReminderBridgeAsObjects) {
    launcher.writeOutput(kReady);
    // Not objects: handled as an empty object, which has no request to answer.
    for (const json& body : {json(nullptr), json::array({{{"requestId", "r0"}}}), json("r0")}) {
        post("lumoryDesktopReminders", body);
    }
    queue.runPending();
    EXPECT_TRUE(page().scripts.empty());
    post("lumoryDesktopReminders", {{"requestId", "r1"}, {"action", "no-such-action"}});
    queue.runPending();
    ASSERT_EQ(page().scripts.size(), 1u);
    EXPECT_EQ(page().scripts[0].rfind("window.dispatchEvent(new CustomEvent("
                                      "'lumory-reminder-native-result',{detail:",
                                      0),
              0u);
    EXPECT_NE(page().scripts[0].find("\"requestId\":\"r1\""), std::string::npos);
}

TEST(PageScriptsTest, CommandScriptAndInjectedScriptAreExact) {
    EXPECT_EQ(pageCommandScript("today"),
              "window.dispatchEvent(new CustomEvent('lumory-desktop-command',{detail:'today'}))");
    std::string_view script = kMainPageScript;
    for (std::string_view part :
         {"document.getElementById('sidebar')", "getBoundingClientRect()",
          "'lumoryDesktopWindowControls', {left: rect.left, top: rect.top}",
          "requestAnimationFrame(placeWindowControls)",
          "window.addEventListener('resize', placeWindowControls)",
          "window.visualViewport.addEventListener('resize', placeWindowControls)",
          "document.addEventListener('mousedown'", "event.button !== 0",
          "event.target instanceof Element", "'.workspace-brand, #topbar, .split-pane-header'",
          "'button, a, input, select, textarea, [contenteditable=\"true\"], ' +\n"
          "                       '[role=\"button\"], [role=\"menuitem\"], .context-menu'",
          "post('lumoryDesktopWindowDrag', {action: 'drag'});\n    event.preventDefault();",
          "}, true);"}) {
        EXPECT_NE(script.find(part), std::string_view::npos) << part;
    }
}

}  // namespace
}  // namespace lumory::fakes
