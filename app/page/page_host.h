#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "page/page_bridge.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/web_view.h"
#include "service/service_supervisor.h"

namespace lumory {

// The main web view and what every view of the shell asks of its host: which navigations stay
// inside, the page's own dialogs and file chooser, a reload after the web process died. The
// overlay's view has the same host.
class PageHost : public WebViewDelegate {
public:
    PageHost(Desktop& desktop, Dialogs& dialogs, const PageBridge& bridge,
             const ServiceSupervisor& service);

    // Creates the main web view with the bridge's handlers and the injected script.
    void createMainView();
    WebView& mainView() { return *webView; }
    const WebView* mainViewIfCreated() const { return webView.get(); }
    // Runs after every finished load of any view the host serves.
    void setLoadFinishedHandler(std::function<void()> handler) {
        loadFinishedHandler_ = std::move(handler);
    }

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
    Desktop& desktop_;
    Dialogs& dialogs_;
    const PageBridge& bridge_;
    const ServiceSupervisor& service_;
    std::function<void()> loadFinishedHandler_;
    std::unique_ptr<WebView> webView;
};

}  // namespace lumory
