// Start-up, menus and the window answers of the delegate.
#include <set>

#include "app_delegate_fixture.h"
#include "page_bridge.h"

namespace lumory::fakes {
namespace {

constexpr char kReady[] = "{\"event\":\"ready\",\"url\":\"http://127.0.0.1:43981/\"}\n";

class AppDelegateStartTest : public AppDelegateTest {
protected:
    void SetUp() override { launch(); }
};

TEST_F(AppDelegateStartTest, BuildsTheWindowAndWebViewAsTheShellNeedsThem) {
    EXPECT_EQ(desktop.windowSpec.width, 1440);
    EXPECT_EQ(desktop.windowSpec.height, 900);
    EXPECT_EQ(desktop.windowSpec.minimumWidth, 900);
    EXPECT_EQ(desktop.windowSpec.minimumHeight, 620);
    EXPECT_EQ(desktop.windowSpec.title, "Lumory");
    EXPECT_FALSE(desktop.windowSpec.titleBarVisible);
    EXPECT_EQ(desktop.mainWindow->calls,
              (std::vector<std::string>{"autosave:LumoryMainWindow", "center", "front"}));

    EXPECT_TRUE(desktop.webViewConfiguration.persistentWebsiteData);
    EXPECT_TRUE(desktop.webViewConfiguration.scriptsMayOpenWindows);
    EXPECT_TRUE(desktop.webViewConfiguration.zoomAllowed);
    EXPECT_FALSE(desktop.webViewConfiguration.drawsBackground);
    EXPECT_EQ(page().handlers,
              (std::vector<std::string>{"lumoryDesktopFlush", "lumoryDesktopReminders",
                                        "lumoryDesktopWindowDrag", "lumoryDesktopWindowControls",
                                        "lumoryDesktopOverlay"}));
    ASSERT_EQ(page().userScripts.size(), 1u);
}

TEST_F(AppDelegateStartTest, PageCommandsReachThePageOnlyOnceConnected) {
    EXPECT_TRUE(desktop.choose("Today"));
    EXPECT_TRUE(page().scripts.empty());

    launcher.writeOutput(kReady);
    desktop.choose("Today");
    desktop.choose("Tomorrow");
    desktop.choose("Filters");
    desktop.choose("Bullet");
    EXPECT_EQ(
        page().scripts,
        (std::vector<std::string>{
            "window.dispatchEvent(new CustomEvent('lumory-desktop-command',{detail:'today'}))",
            "window.dispatchEvent(new CustomEvent('lumory-desktop-command',{detail:'tomorrow'}))",
            "window.dispatchEvent(new CustomEvent('lumory-desktop-command',{detail:'filters'}))",
            "window.dispatchEvent(new CustomEvent('lumory-desktop-command',{detail:'bullet'}))"}));
}

TEST_F(AppDelegateStartTest, ReloadWorksOnlyOnTheServicePage) {
    desktop.choose("Reload");
    EXPECT_EQ(page().reloads, 0);
    launcher.writeOutput(kReady);
    desktop.choose("Reload");
    EXPECT_EQ(page().reloads, 1);
}

TEST_F(AppDelegateStartTest, StandardItemsReachTheWindowAndThePage) {
    desktop.choose("Enter Full Screen");
    desktop.choose("Minimize");
    desktop.choose("Zoom");
    desktop.choose("Hide Lumory");
    desktop.choose("Bring All to Front");
    EXPECT_EQ(
        std::vector<std::string>(desktop.mainWindow->calls.begin() + 3,
                                 desktop.mainWindow->calls.end()),
        (std::vector<std::string>{"fullscreen", "miniaturize", "zoom", "miniaturize", "front"}));
    for (auto title : {"Undo", "Redo", "Cut", "Copy", "Paste", "Select All"}) desktop.choose(title);
    EXPECT_EQ(page().editingCommands,
              (std::vector<EditingCommand>{EditingCommand::Undo, EditingCommand::Redo,
                                           EditingCommand::Cut, EditingCommand::Copy,
                                           EditingCommand::Paste, EditingCommand::SelectAll}));
    desktop.choose("About Lumory");
    EXPECT_EQ(desktop.events.back(), "about");
}

TEST_F(AppDelegateStartTest, QuitAndClosingTheWindowEndTheShell) {
    desktop.choose("Quit Lumory");
    EXPECT_EQ(desktop.events.back(), "terminate");
    desktop.events.clear();
    desktop.closeWindow();
    EXPECT_EQ(desktop.events, std::vector<std::string>{"terminate"});
}

TEST_F(AppDelegateStartTest, ReopenBringsTheSameWindowForward) {
    EXPECT_TRUE(delegate->applicationShouldHandleReopen());
    EXPECT_EQ(desktop.mainWindow->calls.back(), "front");
    EXPECT_EQ(launcher.launches, 1);
}

TEST_F(AppDelegateStartTest, WindowDragComesOnlyFromTheMainPage) {
    FakeWebView other;
    desktop.webViewDelegate->didReceiveScriptMessage(other, "lumoryDesktopWindowDrag", {});
    desktop.webViewDelegate->didReceiveScriptMessage(page(), "lumoryDesktopWindowdrag", {});
    EXPECT_EQ(desktop.mainWindow->calls.back(), "front");
    desktop.webViewDelegate->didReceiveScriptMessage(page(), "lumoryDesktopWindowDrag",
                                                     {{"action", "drag"}});
    EXPECT_EQ(desktop.mainWindow->calls.back(), "drag");
}

TEST(MenuBarTest, EveryShortcutIsUniqueAndUsesControl) {
    std::set<std::string> seen;
    for (const Menu& menu : buildMenuBar()) {
        for (const MenuItem& item : menu.items) {
            std::string accelerator = acceleratorFor(item);
            if (accelerator.empty()) continue;
            EXPECT_TRUE(seen.insert(accelerator).second) << accelerator;
            if (item.key != "F11") {
                EXPECT_EQ(accelerator.rfind("<Control>", 0), 0u) << accelerator;
            }
        }
    }
    EXPECT_TRUE(seen.count("<Control><Shift>z"));
    EXPECT_TRUE(seen.count("<Control><Shift>l"));
    EXPECT_TRUE(seen.count("F11"));
}

TEST(MenuBarTest, MenusComeInDesktopOrder) {
    std::vector<std::string> titles;
    for (const Menu& menu : buildMenuBar()) titles.push_back(menu.title);
    EXPECT_EQ(titles,
              (std::vector<std::string>{"Lumory", "Edit", "Navigate", "Format", "View", "Window"}));
}

}  // namespace
}  // namespace lumory::fakes
