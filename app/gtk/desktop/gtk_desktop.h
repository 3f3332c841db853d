#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>
#include <vector>

#include "gobject_ptr.h"
#include "gtk/desktop/menu_bar_model.h"
#include "platform/desktop.h"

namespace lumory::gtk {

class GtkMainWindow;

// Windows, menus and standard actions on a GtkApplication, with one WebKit context whose
// website data lives under the user's XDG data and cache folders.
class GtkDesktop : public Desktop {
public:
    explicit GtkDesktop(GtkApplication* application);

    std::unique_ptr<WebView> createWebView(const WebViewConfiguration& configuration,
                                           WebViewDelegate& delegate) override;
    void setSpellCheckingLanguages(const std::vector<std::string>& languages) override;
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
    WebKitWebContext* webContext(bool persistent);
    void applySpellChecking(WebKitWebContext* context) const;

    GtkApplication* application_;
    GObjectPtr<WebKitWebContext> persistentContext_;
    std::vector<std::string> spellCheckingLanguages_;
    GtkMainWindow* mainWindow_ = nullptr;
    MenuBarModel menus_;
};

}  // namespace lumory::gtk
