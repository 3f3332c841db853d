#pragma once

#include <string>
#include <vector>

#include "desktop.h"
#include "fake_web_view.h"

namespace lumory::fakes {

class FakeMainWindow : public MainWindow {
public:
    void setFrameAutosaveName(const std::string& name) override {
        calls.push_back("autosave:" + name);
    }
    void center() override { calls.push_back("center"); }
    void makeKeyAndOrderFront() override { calls.push_back("front"); }
    void miniaturize() override { calls.push_back("miniaturize"); }
    void zoom() override { calls.push_back("zoom"); }
    void toggleFullScreen() override { calls.push_back("fullscreen"); }
    void performDrag() override { calls.push_back("drag"); }

    std::vector<std::string> calls;
};

class FakeOverlayWindow : public OverlayWindow {
public:
    bool setFrameAutosaveName(const std::string& name) override {
        calls.push_back("autosave:" + name);
        return hasSavedFrame;
    }
    void center() override { calls.push_back("center"); }
    void makeKeyAndOrderFront() override { calls.push_back("front"); }
    void orderOut() override { calls.push_back("out"); }
    void setIgnoresMouseEvents(bool ignores) override {
        ignoresMouseEvents = ignores;
        calls.push_back(ignores ? "ignore-mouse" : "accept-mouse");
    }
    void performDrag() override { calls.push_back("drag"); }

    bool hasSavedFrame = false;
    bool ignoresMouseEvents = false;
    std::vector<std::string> calls;
};

class FakeStatusItem : public StatusItem {
public:
    void setTitle(const std::string& text) override { title = text; }
    void setToolTip(const std::string& text) override { toolTip = text; }
    void setMenu(const std::vector<StatusMenuItem>& items) override { menu = items; }
    void setItemChecked(size_t index, bool checked) override {
        if (index < menu.size()) menu[index].checked = checked;
    }

    std::string title;
    std::string toolTip;
    std::vector<StatusMenuItem> menu;
};

// Hands out fake windows and web views and remembers the menus it was given. The objects stay
// owned by whoever asked for them; the raw pointers are valid while that owner lives.
class FakeDesktop : public Desktop {
public:
    std::unique_ptr<WebView> createWebView(const WebViewConfiguration& configuration,
                                           WebViewDelegate& delegate) override {
        auto view = std::make_unique<FakeWebView>();
        webView = view.get();
        webViewConfiguration = configuration;
        webViewDelegate = &delegate;
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
    void showAboutPanel() override { events.push_back("about"); }
    bool openURL(const std::string& url) override {
        openedURLs.push_back(url);
        return true;
    }
    std::unique_ptr<OverlayWindow> createOverlayWindow(const OverlayWindowSpec& spec,
                                                       WebView&) override {
        auto window = std::make_unique<FakeOverlayWindow>();
        overlayWindow = window.get();
        overlaySpec = spec;
        events.push_back("overlay-window");
        return window;
    }
    std::unique_ptr<StatusItem> createStatusItem() override {
        auto item = std::make_unique<FakeStatusItem>();
        statusItem = item.get();
        events.push_back("status-item");
        return item;
    }
    void activate() override { events.push_back("activate"); }
    void activateWithToken(const std::string& token) override {
        events.push_back("activate:" + token);
    }
    void terminate() override { events.push_back("terminate"); }

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
    MainWindowSpec windowSpec;
    MenuBar menuBar;
    std::function<void(const MenuAction&)> performMenu;
    std::function<void()> closeWindow;
    std::vector<std::string> events;
    std::vector<std::string> openedURLs;
    FakeOverlayWindow* overlayWindow = nullptr;
    OverlayWindowSpec overlaySpec;
    FakeStatusItem* statusItem = nullptr;
};

}  // namespace lumory::fakes
