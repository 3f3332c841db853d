#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <optional>
#include <string>
#include <map>

#include "platform/desktop.h"

#include "gobject_ptr.h"
#include "gtk_menu_section.h"

namespace lumory::gtk {

class GtkMainWindow;

// Windows, menus and standard actions on a GtkApplication, with one WebKit context whose
// website data lives under the user's XDG data and cache folders.
class GtkDesktop : public Desktop {
public:
    explicit GtkDesktop(GtkApplication* application);
    ~GtkDesktop() override;

    std::unique_ptr<WebView> createWebView(const WebViewConfiguration& configuration,
                                           WebViewDelegate& delegate) override;
    std::unique_ptr<MainWindow> createMainWindow(const MainWindowSpec& spec, WebView& content,
                                                 std::function<void()> closeRequested) override;
    void setMenuBar(const MenuBar& menuBar,
                    std::function<void(const MenuAction&)> perform) override;
    void showAboutDialog() override;
    bool openUri(const std::string& url) override;
    std::unique_ptr<OverlayWindow> createOverlayWindow(
        const OverlayWindowSpec& spec, WebView& content,
        std::function<void()> closeRequested) override;
    std::unique_ptr<StatusItem> createStatusItem() override;
    std::unique_ptr<MenuSection> addMenuSection(const std::string& menuTitle) override;
    // The main window while it exists, for dialogs to attach to.
    GtkWindow* mainGtkWindow() const;
    void activate() override;
    void activateWithToken(const std::string& activationToken) override;
    void quit() override;
    std::unique_ptr<SessionInhibition> inhibitLogout(const std::string& reason) override;

private:
    struct ActionEntry;
    // One menu as the page's context menu repeats it; an empty action marks a separator.
    struct ContextMenuEntry {
        std::string title;
        std::vector<std::pair<std::string, GObjectPtr<GAction>>> items;
    };
    // A menu item whose title follows the window's state, with what it takes to rebuild it.
    struct RetitledItem {
        GObjectPtr<GMenu> section;
        int position = 0;
        std::string detailed;
        std::string accelerator;
        size_t contextMenu = 0;
        size_t contextItem = 0;
    };
    WebKitWebContext* webContext(bool persistent);
    static GObjectPtr<GMenuItem> menuItem(const std::string& title, const std::string& detailed,
                                          const std::string& accelerator);
    void showFullScreenState(bool fullScreen);
    static gboolean extendContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*,
                                      WebKitHitTestResult*, gpointer self);

    GtkApplication* application_;
    GObjectPtr<WebKitWebContext> persistentContext_;
    GObjectPtr<GMenu> menuModel_;
    std::vector<std::unique_ptr<ActionEntry>> actions_;
    std::vector<ContextMenuEntry> contextMenus_;
    std::function<void(const MenuAction&)> perform_;
    GtkMainWindow* mainWindow_ = nullptr;
    std::optional<RetitledItem> fullScreenItem_;
    // Items that sections added to a menu for a while, by menu title, for the context menu.
    std::map<std::string, ContextMenuItems> addedContextItems_;
};

}  // namespace lumory::gtk
