// Start-up, menus and the window answers of the shell.
#include <set>

#include "shell_fixture.h"
#include "page/page_messages.h"
#include "page/page_scripts.h"

namespace lumory::fakes {
namespace {

constexpr char kReady[] = "{\"event\":\"ready\",\"url\":\"http://127.0.0.1:43981/\"}\n";

class ShellStartTest : public ShellTest {
protected:
    void SetUp() override { launch(); }
};

TEST_F(ShellStartTest, BuildsTheWindowAndWebViewAsTheShellNeedsThem) {
    EXPECT_EQ(desktop.windowSpec.width, 1440);
    EXPECT_EQ(desktop.windowSpec.height, 900);
    EXPECT_EQ(desktop.windowSpec.minimumWidth, 900);
    EXPECT_EQ(desktop.windowSpec.minimumHeight, 620);
    EXPECT_EQ(desktop.windowSpec.title, "Lumory");
    EXPECT_FALSE(desktop.windowSpec.titleBarVisible);
    EXPECT_EQ(desktop.mainWindow->calls,
              (std::vector<std::string>{"restore-frame:LumoryMainWindow", "center", "present"}));

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

TEST_F(ShellStartTest, PageCommandsReachThePageOnlyOnceConnected) {
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

TEST_F(ShellStartTest, ReloadWorksOnlyOnTheServicePage) {
    desktop.choose("Reload");
    EXPECT_EQ(page().reloads, 0);
    launcher.writeOutput(kReady);
    desktop.choose("Reload");
    EXPECT_EQ(page().reloads, 1);
}

TEST_F(ShellStartTest, StandardItemsReachTheWindowAndThePage) {
    desktop.choose("Enter Full Screen");
    desktop.choose("Minimize");
    desktop.choose("Zoom");
    desktop.choose("Hide Lumory");
    desktop.choose("Bring All to Front");
    EXPECT_EQ(
        std::vector<std::string>(desktop.mainWindow->calls.begin() + 3,
                                 desktop.mainWindow->calls.end()),
        (std::vector<std::string>{"fullscreen", "minimize", "toggle-maximized", "minimize", "present"}));
    for (auto title : {"Undo", "Redo", "Cut", "Copy", "Paste", "Select All"}) desktop.choose(title);
    EXPECT_EQ(page().editingCommands,
              (std::vector<EditingCommand>{EditingCommand::Undo, EditingCommand::Redo,
                                           EditingCommand::Cut, EditingCommand::Copy,
                                           EditingCommand::Paste, EditingCommand::SelectAll}));
    desktop.choose("About Lumory");
    EXPECT_EQ(desktop.events.back(), "about");
}

TEST_F(ShellStartTest, QuitAndClosingTheWindowEndTheShell) {
    desktop.choose("Quit Lumory");
    EXPECT_EQ(desktop.events.back(), "quit");
    desktop.events.clear();
    desktop.closeWindow();
    EXPECT_EQ(desktop.events, std::vector<std::string>{"quit"});
}

TEST_F(ShellStartTest, ReopenBringsTheSameWindowForward) {
    shell->activateAgain();
    EXPECT_EQ(desktop.mainWindow->calls.back(), "present");
    EXPECT_EQ(launcher.launches, 1);
}

TEST_F(ShellStartTest, WindowDragComesOnlyFromTheMainPage) {
    FakeWebView other;
    desktop.webViewDelegate->scriptMessageReceived(other, "lumoryDesktopWindowDrag", {});
    desktop.webViewDelegate->scriptMessageReceived(page(), "lumoryDesktopWindowdrag", {});
    EXPECT_EQ(desktop.mainWindow->calls.back(), "present");
    desktop.webViewDelegate->scriptMessageReceived(page(), "lumoryDesktopWindowDrag",
                                                     {{"action", "drag"}});
    EXPECT_EQ(desktop.mainWindow->calls.back(), "move-drag");
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
