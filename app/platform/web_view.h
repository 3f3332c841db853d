#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/dialogs.h"

namespace lumory {

class WebView;

struct WebViewConfiguration {
    bool persistentWebsiteData = true;
    bool scriptsMayOpenWindows = true;
    bool zoomAllowed = true;
    bool drawsBackground = false;
};

// Editing actions the menus send to whatever the page has focused.
enum class EditingCommand { Undo, Redo, Cut, Copy, Paste, SelectAll };

enum class NavigationPolicy { Allow, Cancel };

enum class CachePolicy { UseProtocolDefault, ReloadIgnoringLocalCache };

// Receives what a web view reports and answers what it asks; called on the main thread. Every
// completion handed over must be called exactly once.
class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    virtual void scriptMessageReceived(WebView& sender, const std::string& name,
                                         const nlohmann::json& body) = 0;
    virtual void loadFinished(WebView& sender) = 0;
    // Any navigation of any frame; `url` is empty when the request has none.
    virtual NavigationPolicy decideNavigationPolicy(WebView& sender, const std::string& url) = 0;
    // The page asked for a new window; the host never creates one.
    virtual void newWindowRequested(WebView& sender, const std::string& url) = 0;
    virtual void showScriptAlert(WebView& sender, const std::string& message,
                                         std::function<void()> done) = 0;
    virtual void showScriptConfirm(WebView& sender, const std::string& message,
                                           std::function<void(bool)> done) = 0;
    virtual void showScriptPrompt(
        WebView& sender, const std::string& prompt, const std::string& defaultText,
        std::function<void(std::optional<std::string>)> done) = 0;
    // `done` gets file:// URLs, or nothing when cancelled.
    virtual void chooseFiles(
        WebView& sender, const FileChooserOptions& parameters,
        std::function<void(std::optional<std::vector<std::string>>)> done) = 0;
    virtual void webProcessTerminated(WebView& sender) = 0;
};

class WebView {
public:
    virtual ~WebView() = default;
    // Loads the address, giving up after `timeout`; by default bypassing locally cached data.
    virtual void loadUri(const std::string& url, std::chrono::seconds timeout,
                             CachePolicy policy = CachePolicy::ReloadIgnoringLocalCache) = 0;
    // Shows a self-contained document with no base address.
    virtual void loadHtml(const std::string& html) = 0;
    // `done` gets the error text when the script could not run, nothing otherwise.
    virtual void evaluateJavascript(const std::string& script,
                                std::function<void(std::optional<std::string>)> done) = 0;
    virtual void reload() = 0;
    virtual void executeEditingCommand(EditingCommand command) = 0;
    // Messages posted to window.webkit.messageHandlers.NAME go to the delegate.
    virtual void registerScriptMessageHandler(const std::string& name) = 0;
    virtual void unregisterScriptMessageHandler(const std::string& name) = 0;
    // Injected at document end into the main frame of every page.
    virtual void addUserScript(const std::string& source) = 0;
    virtual std::string currentUri() const = 0;
    // View pixels per CSS pixel: the page's zoom and whatever else the engine scales it by.
    virtual double zoom() const = 0;
    // Typing goes to the page from now on.
    virtual void focus() = 0;
};

}  // namespace lumory
