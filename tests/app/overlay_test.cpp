// The live overlay and its status item over fakes: opening, closing, click-through and the
// controls that must always be able to turn it off again.
#include "overlay/overlay_controller.h"
#include "shell_fixture.h"

namespace lumory::fakes {
namespace {

using nlohmann::json;

constexpr char kReady[] = "{\"event\":\"ready\",\"url\":\"http://127.0.0.1:43981/\"}\n";
const std::string kFisheye = "\u25C9";
const std::string kBullseye = "\u25CE";

class OverlayTest : public ShellTest {
protected:
    void SetUp() override { launch(); }

    void overlayMessage(const json& body, WebView* from = nullptr) {
        desktop.webViewDelegate->scriptMessageReceived(from ? *from : page(),
                                                         "lumoryDesktopOverlay", body);
    }
    void open() { overlayMessage({{"action", "open"}}); }
    void clickThrough(const json& value) {
        json body = {{"action", "clickThrough"}};
        if (!value.is_null()) body["value"] = value;
        overlayMessage(body);
    }
    FakeWebView& overlayPage() { return *desktop.lastWebView; }
    bool isOpen() const { return desktop.overlayWindowsAlive == 1; }

    // Window, status item and Window-menu items all show the same click-through state.
    void expectClickThroughShown(bool on) {
        ASSERT_EQ(desktop.statusItemsAlive, 1);
        EXPECT_EQ(desktop.overlayWindow->ignoresMouseEvents, on);
        EXPECT_EQ(desktop.statusItem->title, on ? kBullseye : kFisheye);
        EXPECT_EQ(desktop.statusItem->iconName,
                  on ? "org.lumory.Lumory-overlay-click-through-symbolic"
                     : "org.lumory.Lumory-overlay-symbolic");
        EXPECT_EQ(desktop.statusItem->menu.at(0).checked, on);
        EXPECT_EQ(desktop.menuSection->items.at(0).checked, on);
    }
};

TEST_F(OverlayTest, OpensOnlyOnceTheServiceHasAnnouncedItsAddress) {
    open();
    EXPECT_FALSE(isOpen());
    EXPECT_EQ(desktop.statusItemsAlive, 0);
    EXPECT_EQ(desktop.lastWebView, nullptr);

    launcher.writeOutput(kReady);
    open();
    ASSERT_TRUE(isOpen());
    EXPECT_EQ(desktop.statusItemsAlive, 1);
    EXPECT_EQ(desktop.menuSectionsAlive, 1);
}

TEST_F(OverlayTest, BuildsTheOverlayViewWindowStatusItemAndFallbackItems) {
    launcher.writeOutput(kReady);
    open();
    ASSERT_TRUE(isOpen());

    EXPECT_TRUE(desktop.lastWebViewConfiguration.persistentWebsiteData);
    EXPECT_FALSE(desktop.lastWebViewConfiguration.zoomAllowed);
    EXPECT_FALSE(desktop.lastWebViewConfiguration.drawsBackground);
    EXPECT_EQ(overlayPage().handlers,
              (std::vector<std::string>{"lumoryDesktopOverlay", "lumoryDesktopWindowDrag"}));
    ASSERT_EQ(overlayPage().userScripts.size(), 1u);
    EXPECT_NE(overlayPage().userScripts[0].find("'.live-head'"), std::string::npos);
    ASSERT_NE(overlayPage().lastLoad(), nullptr);
    EXPECT_TRUE(overlayPage().lastLoad()->isRequest);
    EXPECT_EQ(overlayPage().lastLoad()->content, "http://127.0.0.1:43981/?live=overlay");
    EXPECT_EQ(overlayPage().lastLoad()->timeout, std::chrono::seconds(60));
    EXPECT_EQ(overlayPage().lastLoad()->cachePolicy, CachePolicy::ReloadIgnoringLocalCache);

    EXPECT_EQ(desktop.overlaySpec.width, 520);
    EXPECT_EQ(desktop.overlaySpec.height, 460);
    EXPECT_EQ(desktop.overlayWindow->calls,
              (std::vector<std::string>{"restore-frame:LumoryLiveOverlay", "center", "present"}));

    FakeStatusItem& item = *desktop.statusItem;
    EXPECT_EQ(item.toolTip, "Lumory live overlay");
    ASSERT_EQ(item.menu.size(), 3u);
    EXPECT_EQ(item.menu[0].title, "Click through the overlay");
    EXPECT_TRUE(item.menu[0].checkable);
    EXPECT_TRUE(item.menu[1].isSeparator());
    EXPECT_EQ(item.menu[2].title, "Close overlay");
    EXPECT_FALSE(item.menu[2].checkable);

    EXPECT_EQ(desktop.menuSectionTitle, "Window");
    ASSERT_EQ(desktop.menuSection->items.size(), 2u);
    EXPECT_EQ(desktop.menuSection->items[0].title, "Click through the overlay");
    EXPECT_TRUE(desktop.menuSection->items[0].checkable);
    EXPECT_EQ(desktop.menuSection->items[1].title, "Close overlay");
    expectClickThroughShown(false);
}

TEST_F(OverlayTest, ASavedFrameIsKeptAndASecondOpenOnlyBringsTheWindowForward) {
    launcher.writeOutput(kReady);
    open();
    FakeOverlayWindow* first = desktop.overlayWindow;
    FakeStatusItem* item = desktop.statusItem;
    open();
    EXPECT_EQ(desktop.overlayWindow, first);
    EXPECT_EQ(desktop.statusItem, item);
    EXPECT_EQ(first->calls.back(), "present");
    EXPECT_EQ(std::count(desktop.events.begin(), desktop.events.end(), "overlay-window"), 1);
    EXPECT_EQ(std::count(desktop.events.begin(), desktop.events.end(), "webview"), 2);

    // Opened again after a close, a remembered frame is not centred over.
    overlayMessage({{"action", "close"}});
    desktop.overlayFrameSaved = true;
    open();
    ASSERT_TRUE(isOpen());
    EXPECT_EQ(desktop.overlayWindow->calls,
              (std::vector<std::string>{"restore-frame:LumoryLiveOverlay", "present"}));
}

TEST(OverlayAddressTest, ReplacesOnlyTheQuery) {
    EXPECT_EQ(overlayAddress("http://127.0.0.1:43981/"), "http://127.0.0.1:43981/?live=overlay");
    EXPECT_EQ(overlayAddress("http://127.0.0.1:43981/app/?token=a%20b&x=1"),
              "http://127.0.0.1:43981/app/?live=overlay");
    EXPECT_EQ(overlayAddress("http://127.0.0.1:43981/a%2Fb?live=main#today"),
              "http://127.0.0.1:43981/a%2Fb?live=overlay#today");
    EXPECT_EQ(overlayAddress("http://user:secret@[::1]:8080/?q"),
              "http://user:secret@[::1]:8080/?live=overlay");
    EXPECT_EQ(overlayAddress("http://localhost"), "http://localhost?live=overlay");
    EXPECT_EQ(overlayAddress("not an address"), std::nullopt);
    EXPECT_EQ(overlayAddress(std::string("http://127.0.0.1/\0x", 20)), std::nullopt);
}

TEST_F(OverlayTest, AnAnnouncedQueryIsDroppedFromTheOverlayAddress) {
    launcher.writeOutput(
        "{\"event\":\"ready\",\"url\":\"http://127.0.0.1:5000/w/?session=abc&live=main\"}\n");
    open();
    ASSERT_TRUE(isOpen());
    EXPECT_EQ(overlayPage().lastLoad()->content, "http://127.0.0.1:5000/w/?live=overlay");
}

TEST_F(OverlayTest, ClickThroughFollowsPageStatusMenuAndWindowMenu) {
    launcher.writeOutput(kReady);
    open();
    clickThrough(true);
    expectClickThroughShown(true);
    EXPECT_EQ(desktop.overlayWindow->calls.back(), "click-through");

    EXPECT_TRUE(desktop.statusItem->choose("Click through the overlay"));
    expectClickThroughShown(false);
    EXPECT_TRUE(desktop.menuSection->choose("Click through the overlay"));
    expectClickThroughShown(true);

    // Anything but the boolean true turns it off.
    clickThrough(nullptr);
    expectClickThroughShown(false);
    clickThrough(true);
    clickThrough("true");
    expectClickThroughShown(false);
    clickThrough(true);
    clickThrough(1);
    expectClickThroughShown(false);

    // The overlay's own page may switch it too.
    overlayMessage({{"action", "clickThrough"}, {"value", true}}, &overlayPage());
    expectClickThroughShown(true);
}

TEST_F(OverlayTest, ClosingRemovesEverythingAndResetsClickThrough) {
    launcher.writeOutput(kReady);
    open();
    clickThrough(true);
    desktop.overlayLog.clear();
    EXPECT_TRUE(desktop.statusItem->choose("Close overlay"));
    EXPECT_EQ(desktop.overlayLog, (std::vector<std::string>{"hide", "destroyed"}));
    EXPECT_EQ(desktop.lastWebViewRemovedHandlers,
              (std::vector<std::string>{"lumoryDesktopOverlay", "lumoryDesktopWindowDrag"}));
    EXPECT_FALSE(isOpen());
    EXPECT_EQ(desktop.statusItemsAlive, 0);
    EXPECT_EQ(desktop.menuSectionsAlive, 0);

    // Closing again, from the page or at quit, is harmless.
    overlayMessage({{"action", "close"}});
    shell->overlay().closeOverlay();

    open();
    ASSERT_TRUE(isOpen());
    expectClickThroughShown(false);
    EXPECT_EQ(std::count(desktop.overlayWindow->calls.begin(), desktop.overlayWindow->calls.end(),
                         "click-through"),
              0);
}

TEST_F(OverlayTest, TheWindowMenuCloseAndThePageCloseWorkLikeTheStatusMenu) {
    launcher.writeOutput(kReady);
    open();
    EXPECT_TRUE(desktop.menuSection->choose("Close overlay"));
    EXPECT_FALSE(isOpen());
    EXPECT_EQ(desktop.statusItemsAlive, 0);
    EXPECT_EQ(desktop.menuSectionsAlive, 0);

    open();
    overlayMessage({{"action", "close"}}, &overlayPage());
    EXPECT_FALSE(isOpen());
    EXPECT_EQ(desktop.menuSectionsAlive, 0);

    // The window manager's close key closes it the same way.
    open();
    auto closeRequested = desktop.closeOverlayWindow;
    closeRequested();
    EXPECT_FALSE(isOpen());
    EXPECT_EQ(desktop.statusItemsAlive, 0);
}

TEST_F(OverlayTest, ClickThroughAskedForWhileClosedIsNotCarriedIntoTheNextOverlay) {
    launcher.writeOutput(kReady);
    clickThrough(true);
    open();
    ASSERT_TRUE(isOpen());
    expectClickThroughShown(false);
}

TEST_F(OverlayTest, DragsFromTheOverlayMoveTheOverlayOnly) {
    launcher.writeOutput(kReady);
    open();
    size_t mainCalls = desktop.mainWindow->calls.size();
    desktop.webViewDelegate->scriptMessageReceived(overlayPage(), "lumoryDesktopWindowDrag",
                                                     {{"action", "drag"}});
    EXPECT_EQ(desktop.overlayWindow->calls.back(), "move-drag");
    EXPECT_EQ(desktop.mainWindow->calls.size(), mainCalls);
}

TEST_F(OverlayTest, MalformedOverlayMessagesChangeNothing) {
    launcher.writeOutput(kReady);
    for (const json& body : {json(nullptr), json("open"), json::object(), json{{"action", 1}},
                             json{{"action", "Open"}}, json{{"verb", "open"}}}) {
        overlayMessage(body);
    }
    EXPECT_FALSE(isOpen());
}

TEST_F(OverlayTest, QuittingClosesTheOverlay) {
    launcher.writeOutput(kReady);
    open();
    shell->shutdown();
    EXPECT_FALSE(isOpen());
    EXPECT_EQ(desktop.statusItemsAlive, 0);
    EXPECT_EQ(desktop.menuSectionsAlive, 0);
}

}  // namespace
}  // namespace lumory::fakes
