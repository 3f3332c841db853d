#include "gtk/web_view/webkit_web_view.h"

#include <libsoup/soup.h>

#include "gtk/test_probe.h"
#include "gtk/web_view/web_view_probe.h"

namespace lumory::gtk {

struct WebKitWebViewHost::Handler {
    WebKitWebViewHost* host;
    std::string name;
    gulong signalId = 0;
};

namespace {

std::string requestUri(WebKitNavigationAction* action) {
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const gchar* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    return uri ? uri : "";
}

struct ScriptCompletion {
    WeakHandle<WebKitWebViewHost> host;
    std::function<void(std::optional<std::string>)> done;
};

const char* editingCommandName(EditingCommand command) {
    switch (command) {
        case EditingCommand::Undo:
            return WEBKIT_EDITING_COMMAND_UNDO;
        case EditingCommand::Redo:
            return WEBKIT_EDITING_COMMAND_REDO;
        case EditingCommand::Cut:
            return WEBKIT_EDITING_COMMAND_CUT;
        case EditingCommand::Copy:
            return WEBKIT_EDITING_COMMAND_COPY;
        case EditingCommand::Paste:
            return WEBKIT_EDITING_COMMAND_PASTE;
        case EditingCommand::SelectAll:
            return WEBKIT_EDITING_COMMAND_SELECT_ALL;
    }
    return WEBKIT_EDITING_COMMAND_SELECT_ALL;
}

nlohmann::json messageBody(WebKitJavascriptResult* result) {
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    g_autofree gchar* json = value ? jsc_value_to_json(value, 0) : nullptr;
    if (json == nullptr) return nullptr;
    auto body = nlohmann::json::parse(json, nullptr, false);
    return body.is_discarded() ? nlohmann::json(nullptr) : body;
}

GObjectPtr<WebKitWebView> newWebView(WebKitWebContext* context,
                                     WebKitUserContentManager* contentManager) {
    auto* view =
        WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                     "user-content-manager", contentManager, nullptr));
    return GObjectPtr<WebKitWebView>(WEBKIT_WEB_VIEW(g_object_ref_sink(view)));
}

}  // namespace

WebKitWebViewHost::WebKitWebViewHost(WebKitWebContext* context,
                                     const WebViewConfiguration& configuration,
                                     WebViewDelegate& delegate)
    : delegate_(delegate),
      contentManager_(webkit_user_content_manager_new()),
      view_(newWebView(context, contentManager_.get())),
      loadTimeout_(view_.get()),
      scriptDialogs_(view_.get(), *this, delegate),
      fileChooserRequests_(view_.get(), *this, delegate),
      zoomGestures_(view_.get(), configuration.zoomAllowed) {
    WebKitWebView* view = view_.get();
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    webkit_settings_set_javascript_can_open_windows_automatically(
        settings, configuration.scriptsMayOpenWindows);
    webkit_settings_set_zoom_text_only(settings, FALSE);
    // Pages are drawn without compositing. A composited page is not redrawn under a window button
    // that redraws on its own (hover, focus): the window's background showed through around it
    // until the page next painted. And without a GPU compositing goes through Mesa's software
    // OpenGL: about four times the CPU of painting the overlay's meter directly.
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    if (!configuration.drawsBackground) {
        GdkRGBA clear = {0, 0, 0, 0};
        webkit_web_view_set_background_color(view, &clear);
    }
    g_signal_connect(view, "load-changed", G_CALLBACK(&WebKitWebViewHost::loadChanged), this);
    // A failed load keeps whatever the view shows. WebKitGTK's own error page would otherwise
    // replace the failure page the shell put up when its service died meanwhile.
    g_signal_connect(view, "load-failed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar*, GError*,
                                    gpointer) -> gboolean { return TRUE; }),
                     nullptr);
    g_signal_connect(view, "decide-policy", G_CALLBACK(&WebKitWebViewHost::decidePolicy), this);
    g_signal_connect(view, "create", G_CALLBACK(&WebKitWebViewHost::createRequested), this);
    g_signal_connect(view, "web-process-terminated",
                     G_CALLBACK(&WebKitWebViewHost::webProcessTerminated), this);
    probeTitleChanges(view);
}

WebKitWebViewHost::~WebKitWebViewHost() {
    g_signal_handlers_disconnect_by_data(view_.get(), this);
    for (auto& handler : handlers_) {
        g_signal_handler_disconnect(contentManager_.get(), handler->signalId);
    }
}

void WebKitWebViewHost::loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<WebKitWebViewHost*>(data);
    if (event == WEBKIT_LOAD_COMMITTED) self->loadTimeout_.cancel();
    if (event != WEBKIT_LOAD_FINISHED) return;
    self->loadTimeout_.cancel();
    probeLoadedPage(self->view_.get());
    self->delegate_.loadFinished(*self);
}

gboolean WebKitWebViewHost::decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                         WebKitPolicyDecisionType type, gpointer data) {
    auto* self = static_cast<WebKitWebViewHost*>(data);
    // Every frame's navigations, and links that ask for a new window, before one is made.
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
        type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        return FALSE;
    }
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    if (self->delegate_.decideNavigationPolicy(*self, requestUri(action)) ==
        NavigationPolicy::Allow) {
        webkit_policy_decision_use(decision);
    } else {
        webkit_policy_decision_ignore(decision);
    }
    return TRUE;
}

GtkWidget* WebKitWebViewHost::createRequested(WebKitWebView*, WebKitNavigationAction* action,
                                              gpointer data) {
    auto* self = static_cast<WebKitWebViewHost*>(data);
    self->delegate_.newWindowRequested(*self, requestUri(action));
    return nullptr;
}

void WebKitWebViewHost::webProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                             gpointer data) {
    auto* self = static_cast<WebKitWebViewHost*>(data);
    emitTestProbe({{"event", "web-process-terminated"}});
    self->delegate_.webProcessTerminated(*self);
}

void WebKitWebViewHost::loadUri(const std::string& url, std::chrono::seconds timeout,
                                CachePolicy policy) {
    emitTestProbe({{"event", "load-request"},
                   {"url", url},
                   {"monotonicMicroseconds", g_get_monotonic_time()}});
    GObjectPtr<WebKitURIRequest> request(webkit_uri_request_new(url.c_str()));
    SoupMessageHeaders* headers = policy == CachePolicy::ReloadIgnoringLocalCache
                                      ? webkit_uri_request_get_http_headers(request.get())
                                      : nullptr;
    if (headers != nullptr) {
        // Bypasses the local cache, as a reload that ignores cached data does.
        soup_message_headers_replace(headers, "Cache-Control", "no-cache");
        soup_message_headers_replace(headers, "Pragma", "no-cache");
    }
    loadTimeout_.start(timeout);
    webkit_web_view_load_request(view_.get(), request.get());
}

void WebKitWebViewHost::loadHtml(const std::string& html) {
    loadTimeout_.cancel();
    webkit_web_view_load_html(view_.get(), html.c_str(), nullptr);
}

void WebKitWebViewHost::evaluateJavascript(const std::string& script,
                                           std::function<void(std::optional<std::string>)> done) {
    auto* completion = new ScriptCompletion{lifetime_.weak(), std::move(done)};
    webkit_web_view_evaluate_javascript(
        view_.get(), script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<ScriptCompletion> completion(static_cast<ScriptCompletion*>(data));
            g_autoptr(GError) error = nullptr;
            g_autoptr(JSCValue) value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (completion->host.expired() || !completion->done) return;
            if (error != nullptr) {
                completion->done(std::string(error->message));
            } else {
                completion->done(std::nullopt);
            }
        },
        completion);
}

void WebKitWebViewHost::reload() {
    webkit_web_view_reload(view_.get());
}

void WebKitWebViewHost::executeEditingCommand(EditingCommand command) {
    webkit_web_view_execute_editing_command(view_.get(), editingCommandName(command));
}

void WebKitWebViewHost::registerScriptMessageHandler(const std::string& name) {
    auto handler = std::make_unique<Handler>(Handler{this, name});
    std::string signal = "script-message-received::" + name;
    // Connected before registering, so no message can arrive unheard.
    handler->signalId = g_signal_connect(
        contentManager_.get(), signal.c_str(),
        G_CALLBACK(+[](WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
            auto* handler = static_cast<Handler*>(data);
            handler->host->delegate_.scriptMessageReceived(*handler->host, handler->name,
                                                           messageBody(result));
        }),
        handler.get());
    webkit_user_content_manager_register_script_message_handler(contentManager_.get(),
                                                                name.c_str());
    handlers_.push_back(std::move(handler));
}

void WebKitWebViewHost::unregisterScriptMessageHandler(const std::string& name) {
    for (auto it = handlers_.begin(); it != handlers_.end(); ++it) {
        if ((*it)->name != name) continue;
        webkit_user_content_manager_unregister_script_message_handler(contentManager_.get(),
                                                                      name.c_str());
        g_signal_handler_disconnect(contentManager_.get(), (*it)->signalId);
        handlers_.erase(it);
        return;
    }
}

void WebKitWebViewHost::addUserScript(const std::string& source) {
    WebKitUserScript* script =
        webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, nullptr, nullptr);
    webkit_user_content_manager_add_script(contentManager_.get(), script);
    webkit_user_script_unref(script);
}

std::string WebKitWebViewHost::currentUri() const {
    const gchar* uri = webkit_web_view_get_uri(view_.get());
    return uri ? uri : "";
}

// WebKitGTK scales the whole page by the desktop's text scale (the font resolution over 96
// DPI, GDK_DPI_SCALE included) on top of the zoom level it reports.
double WebKitWebViewHost::zoom() const {
    double resolution = gdk_screen_get_resolution(gtk_widget_get_screen(widget()));
    double textScale = resolution > 0 ? resolution / 96.0 : 1.0;
    return webkit_web_view_get_zoom_level(view_.get()) * textScale;
}

void WebKitWebViewHost::focus() {
    gtk_widget_grab_focus(widget());
}

}  // namespace lumory::gtk
