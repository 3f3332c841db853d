#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

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

// Receives what a web view reports; called on the main thread.
class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    virtual void didReceiveScriptMessage(WebView& sender, const std::string& name,
                                         const nlohmann::json& body) = 0;
    virtual void didFinishNavigation(WebView& sender) = 0;
};

class WebView {
public:
    virtual ~WebView() = default;
    // Loads the address bypassing locally cached data, giving up after `timeout`.
    virtual void loadRequest(const std::string& url, std::chrono::seconds timeout) = 0;
    // Shows a self-contained document with no base address.
    virtual void loadHtmlString(const std::string& html) = 0;
    // `done` gets the error text when the script could not run, nothing otherwise.
    virtual void evaluateScript(const std::string& script,
                                std::function<void(std::optional<std::string>)> done) = 0;
    virtual void reload() = 0;
    virtual void performEditingCommand(EditingCommand command) = 0;
    // Messages posted to window.webkit.messageHandlers.NAME go to the delegate.
    virtual void addScriptMessageHandler(const std::string& name) = 0;
    virtual void removeScriptMessageHandler(const std::string& name) = 0;
    // Injected at document end into the main frame of every page.
    virtual void addUserScript(const std::string& source) = 0;
    virtual std::string currentUrl() const = 0;
    virtual double zoom() const = 0;
    // Typing goes to the page from now on.
    virtual void focus() = 0;
};

}  // namespace lumory
