#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/main_window.h"
#include "platform/menus.h"
#include "platform/overlay_window.h"
#include "platform/web_view.h"

namespace lumory {

// Holds back the end of the desktop session (logging out, shutting down) while it lives.
class SessionInhibition {
public:
    virtual ~SessionInhibition() = default;
};

// The desktop session the shell runs in: creates its windows and menus and carries out the
// standard actions. Realised on GTK in app/gtk/.
class Desktop {
public:
    virtual ~Desktop() = default;
    virtual std::unique_ptr<WebView> createWebView(const WebViewConfiguration& configuration,
                                                   WebViewDelegate& delegate) = 0;
    // Text typed into the editable fields of every web view is checked against these
    // dictionaries ("en_US"), misspellings underlined; none turns the checker off.
    virtual void setSpellCheckingLanguages(const std::vector<std::string>& languages) = 0;
    // `closeRequested` runs when the user asks to close the window; it stays open until the
    // shell terminates.
    virtual std::unique_ptr<MainWindow> createMainWindow(const MainWindowSpec& spec,
                                                         WebView& content,
                                                         std::function<void()> closeRequested) = 0;
    // `perform` is called with the item's action when the user chooses it.
    virtual void setMenuBar(const MenuBar& menuBar,
                            std::function<void(const MenuAction&)> perform) = 0;
    virtual void showAboutDialog() = 0;
    // Hands the address to the desktop's default handler for its scheme; false when none took it.
    virtual bool openUri(const std::string& url) = 0;
    // The live overlay's window around `content`, not shown yet; `closeRequested` runs when the
    // user asks the desktop to close it.
    virtual std::unique_ptr<OverlayWindow> createOverlayWindow(
        const OverlayWindowSpec& spec, WebView& content, std::function<void()> closeRequested) = 0;
    virtual std::unique_ptr<StatusItem> createStatusItem() = 0;
    // Items appended to the menu-bar menu titled `menuTitle` until the section goes; nothing
    // when the menu bar has no such menu.
    virtual std::unique_ptr<MenuSection> addMenuSection(const std::string& menuTitle) = 0;
    virtual void activate() = 0;
    // Asks the session not to end while the returned object lives, showing `reason` to a user
    // who tries; nothing when the session offers no such thing.
    virtual std::unique_ptr<SessionInhibition> inhibitLogout(const std::string& reason) = 0;
    // Brings the main window forward with the activation token a notification server handed
    // over, so focus-stealing prevention lets it through; an empty token is a plain activate.
    virtual void activateWithToken(const std::string& activationToken) {
        (void)activationToken;
        activate();
    }
    // Ends the event loop; the delegate's final clean-up runs after it.
    virtual void quit() = 0;
};

}  // namespace lumory
