#pragma once

#include <webkit2/webkit2.h>

#include <memory>
#include <vector>

#include "gobject_ptr.h"
#include "gtk/web_view/file_chooser_requests.h"
#include "gtk/web_view/load_timeout.h"
#include "gtk/web_view/script_dialogs.h"
#include "gtk/web_view/zoom_gestures.h"
#include "platform/web_view.h"
#include "weak_handle.h"

namespace lumory::gtk {

// The WebView interface on a WebKitGTK view.
class WebKitWebViewHost : public WebView {
public:
    WebKitWebViewHost(WebKitWebContext* context, const WebViewConfiguration& configuration,
                      WebViewDelegate& delegate);
    ~WebKitWebViewHost() override;

    GtkWidget* widget() const { return GTK_WIDGET(view_.get()); }

    void loadUri(const std::string& url, std::chrono::seconds timeout,
                 CachePolicy policy = CachePolicy::ReloadIgnoringLocalCache) override;
    void loadHtml(const std::string& html) override;
    void evaluateJavascript(const std::string& script,
                            std::function<void(std::optional<std::string>)> done) override;
    void reload() override;
    void executeEditingCommand(EditingCommand command) override;
    void registerScriptMessageHandler(const std::string& name) override;
    void unregisterScriptMessageHandler(const std::string& name) override;
    void addUserScript(const std::string& source) override;
    std::string currentUri() const override;
    double zoom() const override;
    void focus() override;

private:
    struct Handler;
    static void loadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self);
    static GtkWidget* createRequested(WebKitWebView*, WebKitNavigationAction* action,
                                      gpointer self);
    static void webProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                     gpointer self);

    WebViewDelegate& delegate_;
    GObjectPtr<WebKitUserContentManager> contentManager_;
    GObjectPtr<WebKitWebView> view_;
    std::vector<std::unique_ptr<Handler>> handlers_;
    LoadTimeout loadTimeout_;
    ScriptDialogs scriptDialogs_;
    FileChooserRequests fileChooserRequests_;
    ZoomGestures zoomGestures_;
    // Expires on destruction so late script completions find nothing to call.
    Lifetime<WebKitWebViewHost> lifetime_{this};
};

}  // namespace lumory::gtk
