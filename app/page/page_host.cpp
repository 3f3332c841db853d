#include "page/page_host.h"

#include "page/loading_page.h"
#include "service/failure_page.h"
#include "page/navigation_policy.h"
#include "page/page_messages.h"
#include "page/page_scripts.h"

namespace lumory {

namespace {

constexpr std::string_view kPanelTitle = "Lumory";
constexpr std::string_view kOkButton = "OK";
constexpr std::string_view kCancelButton = "Cancel";
constexpr std::chrono::seconds kServiceRequestTimeout{60};
constexpr std::chrono::seconds kNewWindowLoadTimeout{60};

}  // namespace

PageHost::PageHost(Desktop& desktop, Dialogs& dialogs, MainQueue& mainQueue,
                   const PageBridge& bridge, const ServiceSupervisor& service)
    : desktop_(desktop),
      dialogs_(dialogs),
      mainQueue_(mainQueue),
      bridge_(bridge),
      service_(service) {}

void PageHost::createMainView() {
    webView = desktop_.createWebView(WebViewConfiguration{}, *this);
    PageBridge::attach(*webView, kMainMessageHandlers);
    webView->addUserScript(std::string(kMainPageScript));
}

void PageHost::showLoadingPage() {
    webView->loadHtml(std::string(kLoadingPage));
}

void PageHost::showServicePage(const std::string& url) {
    gaveUpAfterCrashes_ = false;
    crashRecoveries_.erase(webView.get());
    watchServicePageLoad();
    webView->loadUri(url, kServiceRequestTimeout);
    webView->focus();
}

void PageHost::showDocument(const std::string& html) {
    servicePageLoaded_ = false;
    pageLoadTimeout_.reset();
    webView->loadHtml(html);
}

// A service that accepts the connection and never answers would otherwise leave a blank window
// for good (WebKit's own time-out ends only the request, and the shell keeps its own page).
void PageHost::watchServicePageLoad() {
    servicePageLoaded_ = false;
    pageLoadTimeout_ = mainQueue_.schedule(kPageLoadTimeout, [this] {
        if (!servicePageLoaded_ && pageDidNotLoadHandler_) pageDidNotLoadHandler_();
    });
}

void PageHost::runWebCommand(const std::string& word) {
    if (!service_.isConnected()) return;
    webView->evaluateJavascript(pageCommandScript(word), [](std::optional<std::string>) {});
}

void PageHost::reloadPage() {
    if (!service_.isConnected()) return;
    if (gaveUpAfterCrashes_) {
        // The failure page has no address of its own to reload: the service's page is asked
        // for again, with a fresh count of crashes.
        if (const auto& url = service_.announcedServerURL()) showServicePage(*url);
        return;
    }
    watchServicePageLoad();
    webView->reload();
}

void PageHost::detachMainView() {
    if (webView) PageBridge::detach(*webView, kMainMessageHandlers);
}

bool PageHost::isInternal(const std::string& url) const {
    return lumory::isInternal(url, service_.announcedServerURL());
}

void PageHost::openOutside(const std::string& url) {
    if (!opensOutside(url)) return;
    // A handler the desktop does not have is not the user's concern here.
    desktop_.openUri(url);
}

void PageHost::scriptMessageReceived(WebView& sender, const std::string& name,
                                     const nlohmann::json& body) {
    bridge_.receive(sender, name, body);
}

void PageHost::loadFinished(WebView& sender) {
    if (&sender == webView.get() && isInternal(sender.currentUri())) {
        servicePageLoaded_ = true;
        pageLoadTimeout_.reset();
    }
    if (loadFinishedHandler_) loadFinishedHandler_();
}

NavigationPolicy PageHost::decideNavigationPolicy(WebView&, const std::string& url) {
    if (url.empty()) return NavigationPolicy::Allow;
    if (isInternal(url)) return NavigationPolicy::Allow;
    if (opensInView(url)) return NavigationPolicy::Allow;
    openOutside(url);
    return NavigationPolicy::Cancel;
}

void PageHost::newWindowRequested(WebView& sender, const std::string& url) {
    if (url.empty()) return;
    if (isInternal(url)) {
        sender.loadUri(url, kNewWindowLoadTimeout, CachePolicy::UseProtocolDefault);
        return;
    }
    openOutside(url);
}

void PageHost::showScriptAlert(WebView&, const std::string& message, std::function<void()> done) {
    MessageDialogSpec spec{std::string(kPanelTitle), message, {std::string(kOkButton)},
                           std::nullopt};
    dialogs_.showMessageDialog(spec, [done = std::move(done)](DialogResponse) { done(); });
}

void PageHost::showScriptConfirm(WebView&, const std::string& message,
                                 std::function<void(bool)> done) {
    MessageDialogSpec spec{std::string(kPanelTitle),
                           message,
                           {std::string(kOkButton), std::string(kCancelButton)},
                           std::nullopt};
    dialogs_.showMessageDialog(
        spec, [done = std::move(done)](DialogResponse response) { done(response.button == 0); });
}

void PageHost::showScriptPrompt(WebView&, const std::string& prompt,
                                const std::string& defaultText,
                                std::function<void(std::optional<std::string>)> done) {
    MessageDialogSpec spec{
        prompt, "", {std::string(kOkButton), std::string(kCancelButton)}, defaultText};
    dialogs_.showMessageDialog(spec, [done = std::move(done)](DialogResponse response) {
        if (response.button == 0) {
            done(response.text);
        } else {
            done(std::nullopt);
        }
    });
}

void PageHost::chooseFiles(WebView&, const FileChooserOptions& options,
                           std::function<void(std::optional<std::vector<std::string>>)> done) {
    dialogs_.chooseFiles(options, std::move(done));
}

void PageHost::webProcessTerminated(WebView& sender) {
    if (&sender == webView.get()) {
        servicePageCrashed();
        return;
    }
    auto recovery = crashRecoveries_.try_emplace(&sender, mainQueue_).first;
    // The overlay's page stays blank once it gives up; closing and opening it starts afresh.
    recovery->second.crashed([&sender] { sender.reload(); });
}

void PageHost::servicePageCrashed() {
    bool wasServicePage = servicePageLoaded_ || pageLoadTimeout_ != nullptr;
    servicePageLoaded_ = false;
    pageLoadTimeout_.reset();
    auto& recovery = crashRecoveries_.try_emplace(webView.get(), mainQueue_).first->second;
    bool reloading = recovery.crashed([this, wasServicePage] {
        if (wasServicePage) watchServicePageLoad();
        webView->reload();
    });
    if (reloading) return;
    gaveUpAfterCrashes_ = true;
    webView->loadHtml(failurePage(kPageKeepsCrashingMessage));
}

}  // namespace lumory
