#pragma once

#include <string>
#include <vector>

#include "platform/desktop.h"
#include "fake_web_view.h"

namespace lumory::fakes {

class FakeMainWindow : public MainWindow {
public:
    void restoreFrame(const std::string& name) override {
        calls.push_back("restore-frame:" + name);
    }
    void center() override { calls.push_back("center"); }
    void present() override { calls.push_back("present"); }
    void minimize() override { calls.push_back("minimize"); }
    void toggleMaximized() override { calls.push_back("toggle-maximized"); }
    void toggleFullScreen() override { calls.push_back("fullscreen"); }
    void beginMoveDrag() override { calls.push_back("move-drag"); }
    void placeWindowControls(Point closeOrigin) override { controlsOrigins.push_back(closeOrigin); }

    std::vector<std::string> calls;
    std::vector<Point> controlsOrigins;
};

// Each fake below counts itself in `alive` for as long as it exists, so tests can tell when the
// delegate let it go.
class FakeOverlayWindow : public OverlayWindow {
public:
    FakeOverlayWindow(int& alive, std::vector<std::string>& log, bool savedFrame)
        : hasSavedFrame(savedFrame), alive_(alive), log_(log) {
        ++alive_;
    }
    ~FakeOverlayWindow() override {
        --alive_;
        log_.push_back("destroyed");
    }
    bool restoreFrame(const std::string& name) override {
        record("restore-frame:" + name);
        return hasSavedFrame;
    }
    void center() override { record("center"); }
    void present() override { record("present"); }
    void hide() override { record("hide"); }
    void setClickThrough(bool ignores) override {
        ignoresMouseEvents = ignores;
        record(ignores ? "click-through" : "take-clicks");
    }
    void beginMoveDrag() override { record("move-drag"); }

    bool hasSavedFrame = false;
    bool ignoresMouseEvents = false;
    std::vector<std::string> calls;

private:
    void record(const std::string& call) {
        calls.push_back(call);
        log_.push_back(call);
    }
    int& alive_;
    std::vector<std::string>& log_;
};

class FakeStatusItem : public StatusItem {
public:
    explicit FakeStatusItem(int& alive) : alive_(alive) { ++alive_; }
    ~FakeStatusItem() override { --alive_; }
    void setTitle(const std::string& text) override { title = text; }
    void setToolTip(const std::string& text) override { toolTip = text; }
    void setIconName(const std::string& name) override { iconName = name; }
    void setMenu(const std::vector<StatusMenuItem>& items) override { menu = items; }
    void setItemChecked(size_t index, bool checked) override {
        if (index < menu.size()) menu[index].checked = checked;
    }
    // Chooses the item titled `title` as the user would; false when there is none.
    bool choose(const std::string& title) {
        for (const StatusMenuItem& item : menu) {
            if (item.title == title && item.action) {
                auto action = item.action;  // the action may destroy this item
                action();
                return true;
            }
        }
        return false;
    }

    std::string title;
    std::string toolTip;
    std::string iconName;
    std::vector<StatusMenuItem> menu;

private:
    int& alive_;
};

class FakeMenuSection : public MenuSection {
public:
    explicit FakeMenuSection(int& alive) : alive_(alive) { ++alive_; }
    ~FakeMenuSection() override { --alive_; }
    void setItems(const std::vector<StatusMenuItem>& list) override { items = list; }
    void setItemChecked(size_t index, bool checked) override {
        if (index < items.size()) items[index].checked = checked;
    }
    bool choose(const std::string& title) {
        for (const StatusMenuItem& item : items) {
            if (item.title == title && item.action) {
                auto action = item.action;
                action();
                return true;
            }
        }
        return false;
    }

    std::vector<StatusMenuItem> items;

private:
    int& alive_;
};

// Counts itself in `active` while it lives.
class FakeSessionInhibition : public SessionInhibition {
public:
    explicit FakeSessionInhibition(std::shared_ptr<int> active) : active_(std::move(active)) {
        ++*active_;
    }
    ~FakeSessionInhibition() override { --*active_; }

private:
    std::shared_ptr<int> active_;
};

// Hands out fake windows and web views and remembers the menus it was given. The objects stay
// owned by whoever asked for them; the raw pointers are valid while that owner lives.
class FakeDesktop : public Desktop {
public:
    std::unique_ptr<WebView> createWebView(const WebViewConfiguration& configuration,
                                           WebViewDelegate& delegate) override {
        auto view = std::make_unique<FakeWebView>();
        // The first view is the main one; later ones (the overlay's) are kept apart.
        if (webView == nullptr) {
            webView = view.get();
            webViewConfiguration = configuration;
            webViewDelegate = &delegate;
        } else {
            lastWebView = view.get();
            lastWebViewConfiguration = configuration;
            view->removalLog = &lastWebViewRemovedHandlers;
        }
        events.push_back("webview");
        return view;
    }
    std::unique_ptr<MainWindow> createMainWindow(const MainWindowSpec& spec, WebView&,
                                                 std::function<void()> closeRequested) override {
        auto window = std::make_unique<FakeMainWindow>();
        mainWindow = window.get();
        windowSpec = spec;
        closeWindow = std::move(closeRequested);
        events.push_back("window");
        return window;
    }
    void setMenuBar(const MenuBar& bar, std::function<void(const MenuAction&)> perform) override {
        menuBar = bar;
        performMenu = std::move(perform);
        events.push_back("menus");
    }
    void showAboutDialog() override { events.push_back("about"); }
    bool openUri(const std::string& url) override {
        openedUris.push_back(url);
        return true;
    }
    std::unique_ptr<OverlayWindow> createOverlayWindow(
        const OverlayWindowSpec& spec, WebView&, std::function<void()> closeRequested) override {
        closeOverlayWindow = std::move(closeRequested);
        auto window =
            std::make_unique<FakeOverlayWindow>(overlayWindowsAlive, overlayLog, overlayFrameSaved);
        overlayWindow = window.get();
        overlaySpec = spec;
        events.push_back("overlay-window");
        return window;
    }
    std::unique_ptr<StatusItem> createStatusItem() override {
        auto item = std::make_unique<FakeStatusItem>(statusItemsAlive);
        statusItem = item.get();
        events.push_back("status-item");
        return item;
    }
    std::unique_ptr<MenuSection> addMenuSection(const std::string& menuTitle) override {
        auto section = std::make_unique<FakeMenuSection>(menuSectionsAlive);
        menuSection = section.get();
        menuSectionTitle = menuTitle;
        events.push_back("menu-section");
        return section;
    }
    void setSpellCheckingLanguages(const std::vector<std::string>& languages) override {
        spellCheckingLanguages = languages;
        spellCheckingSetBeforeFirstView = webView == nullptr;
    }
    void activate() override { events.push_back("activate"); }
    void activateWithToken(const std::string& token) override {
        events.push_back("activate:" + token);
    }
    void quit() override { events.push_back("quit"); }
    std::unique_ptr<SessionInhibition> inhibitLogout(const std::string& reason) override {
        inhibitReasons.push_back(reason);
        return std::make_unique<FakeSessionInhibition>(activeInhibitions);
    }

    // Chooses the menu item titled `title` as the user would.
    bool choose(const std::string& title) {
        for (const Menu& menu : menuBar) {
            for (const MenuItem& item : menu.items) {
                if (item.title == title) {
                    performMenu(item.action);
                    return true;
                }
            }
        }
        return false;
    }

    FakeWebView* webView = nullptr;
    FakeMainWindow* mainWindow = nullptr;
    WebViewDelegate* webViewDelegate = nullptr;
    WebViewConfiguration webViewConfiguration;
    std::optional<std::vector<std::string>> spellCheckingLanguages;
    bool spellCheckingSetBeforeFirstView = false;
    MainWindowSpec windowSpec;
    MenuBar menuBar;
    std::function<void(const MenuAction&)> performMenu;
    std::function<void()> closeWindow;
    std::vector<std::string> events;
    std::vector<std::string> openedUris;
    FakeOverlayWindow* overlayWindow = nullptr;
    std::function<void()> closeOverlayWindow;
    OverlayWindowSpec overlaySpec;
    FakeStatusItem* statusItem = nullptr;
    std::vector<std::string> inhibitReasons;
    // How many inhibitions are still held.
    std::shared_ptr<int> activeInhibitions = std::make_shared<int>(0);
    FakeMenuSection* menuSection = nullptr;
    std::string menuSectionTitle;
    FakeWebView* lastWebView = nullptr;
    WebViewConfiguration lastWebViewConfiguration;
    std::vector<std::string> lastWebViewRemovedHandlers;
    // Every overlay window's calls in order, and when each was destroyed.
    std::vector<std::string> overlayLog;
    // Whether new overlay windows find a frame saved under their name.
    bool overlayFrameSaved = false;
    int overlayWindowsAlive = 0;
    int statusItemsAlive = 0;
    int menuSectionsAlive = 0;
};

}  // namespace lumory::fakes
