#pragma once

#include <webkit2/webkit2.h>

#include <memory>
#include <vector>

#include "gobject_ptr.h"
#include "platform/web_view.h"

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
    struct PendingRequest;
    static void loadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self);
    static GtkWidget* createRequested(WebKitWebView*, WebKitNavigationAction* action,
                                      gpointer self);
    static gboolean scriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self);
    static gboolean runFileChooser(WebKitWebView*, WebKitFileChooserRequest* request,
                                   gpointer self);
    static void webProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                     gpointer self);
    static gboolean zoomEvent(GtkWidget*, GdkEvent* event, gpointer self);
    static gboolean zoomKey(GtkWidget*, GdkEventKey* event, gpointer self);
    std::shared_ptr<PendingRequest> holdRequest(WebKitScriptDialog* dialog,
                                                WebKitFileChooserRequest* chooser);
    void setZoom(double level);
    void cancelRequestTimeout();
    void probeLoadedPage();

    WebViewDelegate& delegate_;
    GObjectPtr<WebKitUserContentManager> contentManager_;
    GObjectPtr<WebKitWebView> view_;
    std::vector<std::unique_ptr<Handler>> handlers_;
    guint requestTimeout_ = 0;
    // Dialogs and file choosers the page waits on; answered with "cancel" if the view goes first.
    std::vector<std::shared_ptr<PendingRequest>> pendingRequests_;
    bool zoomAllowed_;
    double pinchStartZoom_ = 1.0;
    double scrollZoomDelta_ = 0;
    // Cleared on destruction so late script completions find nothing to call.
    std::shared_ptr<WebKitWebViewHost*> self_;
};

}  // namespace lumory::gtk
