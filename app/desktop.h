#pragma once

#include <functional>
#include <memory>
#include <string>

#include "main_window.h"
#include "menu_bar.h"
#include "overlay_window.h"
#include "web_view.h"

namespace lumory {

// The desktop session the shell runs in: creates its windows and menus and carries out the
// standard actions. Realised on GTK in app/gtk/.
class Desktop {
public:
    virtual ~Desktop() = default;
    virtual std::unique_ptr<WebView> createWebView(const WebViewConfiguration& configuration,
                                                   WebViewDelegate& delegate) = 0;
    // `closeRequested` runs when the user asks to close the window; it stays open until the
    // shell terminates.
    virtual std::unique_ptr<MainWindow> createMainWindow(const MainWindowSpec& spec,
                                                         WebView& content,
                                                         std::function<void()> closeRequested) = 0;
    // `perform` is called with the item's action when the user chooses it.
    virtual void setMenuBar(const MenuBar& menuBar,
                            std::function<void(const MenuAction&)> perform) = 0;
    virtual void showAboutPanel() = 0;
    // Hands the address to the desktop's default handler for its scheme; false when none took it.
    virtual bool openURL(const std::string& url) = 0;
    // The live overlay's window around `content`, not shown yet.
    virtual std::unique_ptr<OverlayWindow> createOverlayWindow(const OverlayWindowSpec& spec,
                                                               WebView& content) = 0;
    virtual std::unique_ptr<StatusItem> createStatusItem() = 0;
    virtual void activate() = 0;
    // Brings the main window forward with the activation token a notification server handed
    // over, so focus-stealing prevention lets it through; an empty token is a plain activate.
    virtual void activateWithToken(const std::string& activationToken) {
        (void)activationToken;
        activate();
    }
    // Ends the event loop; the delegate's final clean-up runs after it.
    virtual void terminate() = 0;
};

}  // namespace lumory
