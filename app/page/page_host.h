#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "page/crash_recovery.h"
#include "page/page_bridge.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/main_queue.h"
#include "platform/web_view.h"
#include "service/service_supervisor.h"

namespace lumory {

// The main web view and what every view of the shell asks of its host: which navigations stay
// inside, the page's own dialogs and file chooser, a reload after the web process died. The
// overlay's view has the same host.
class PageHost : public WebViewDelegate {
public:
    // How long the service's page may take to load before the shell says it did not.
    static constexpr std::chrono::seconds kPageLoadTimeout{20};

    PageHost(Desktop& desktop, Dialogs& dialogs, MainQueue& mainQueue, const PageBridge& bridge,
             const ServiceSupervisor& service);

    // Creates the main web view with the bridge's handlers and the injected script.
    void createMainView();
    WebView& mainView() { return *webView; }
    const WebView* mainViewIfCreated() const { return webView.get(); }
    // Runs after every finished load of any view the host serves.
    void setLoadFinishedHandler(std::function<void()> handler) {
        loadFinishedHandler_ = std::move(handler);
    }
    // Runs when the service's page has not loaded within kPageLoadTimeout.
    void setPageDidNotLoadHandler(std::function<void()> handler) {
        pageDidNotLoadHandler_ = std::move(handler);
    }
    // True from the moment the service's page has loaded in the main view until something
    // replaces it: only such a page can answer a request to save.
    bool servicePageLoaded() const { return servicePageLoaded_; }
    // A view other than the main one is gone; its crash history goes with it.
    void forgetView(const WebView& view) { crashRecoveries_.erase(&view); }

    void showLoadingPage();
    // Loads the service's page and gives it the keyboard.
    void showServicePage(const std::string& url);
    // A self-contained document instead of the service's page (the failure page).
    void showDocument(const std::string& html);
    void runWebCommand(const std::string& word);
    void reloadPage();
    // Stops the page from posting to the shell; the view stays until the shell is gone.
    void detachMainView();

    bool isInternal(const std::string& url) const;
    void openOutside(const std::string& url);

    // WebViewDelegate.
    void scriptMessageReceived(WebView& sender, const std::string& name,
                               const nlohmann::json& body) override;
    void loadFinished(WebView& sender) override;
    NavigationPolicy decideNavigationPolicy(WebView& sender, const std::string& url) override;
    void newWindowRequested(WebView& sender, const std::string& url) override;
    void showScriptAlert(WebView& sender, const std::string& message,
                         std::function<void()> done) override;
    void showScriptConfirm(WebView& sender, const std::string& message,
                           std::function<void(bool)> done) override;
    void showScriptPrompt(WebView& sender, const std::string& prompt,
                          const std::string& defaultText,
                          std::function<void(std::optional<std::string>)> done) override;
    void chooseFiles(WebView& sender, const FileChooserOptions& options,
                     std::function<void(std::optional<std::vector<std::string>>)> done) override;
    void webProcessTerminated(WebView& sender) override;

private:
    void watchServicePageLoad();
    void servicePageCrashed();

    Desktop& desktop_;
    Dialogs& dialogs_;
    MainQueue& mainQueue_;
    const PageBridge& bridge_;
    const ServiceSupervisor& service_;
    std::function<void()> loadFinishedHandler_;
    std::function<void()> pageDidNotLoadHandler_;
    std::unique_ptr<WebView> webView;
    bool servicePageLoaded_ = false;
    // The main view shows the page-keeps-crashing failure instead of the service's page.
    bool gaveUpAfterCrashes_ = false;
    std::unique_ptr<WorkItem> pageLoadTimeout_;
    std::map<const WebView*, CrashRecovery> crashRecoveries_;
};

}  // namespace lumory
