#include "webkit_web_view.h"

#include <libsoup/soup.h>

#include "test_probe.h"
#include "window/window_controls.h"

namespace lumory::gtk {

struct WebKitWebViewHost::Handler {
    WebKitWebViewHost* host;
    std::string name;
    gulong signalId = 0;
};

// One dialog or file chooser the page is waiting on. The page gets exactly one answer: the
// user's, or "cancel" when the view goes away first (WebKit's own completion must never run
// after the view is gone).
struct WebKitWebViewHost::PendingRequest {
    WebKitScriptDialog* dialog = nullptr;
    GObjectPtr<WebKitFileChooserRequest> chooser;

    bool open() const { return dialog != nullptr || chooser; }
    void closeDialog() {
        if (dialog == nullptr) return;
        webkit_script_dialog_close(dialog);
        webkit_script_dialog_unref(std::exchange(dialog, nullptr));
    }
    void cancel() {
        closeDialog();
        if (chooser) webkit_file_chooser_request_cancel(chooser.get());
        chooser = {};
    }
};

namespace {

std::string requestUri(WebKitNavigationAction* action) {
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const gchar* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    return uri ? uri : "";
}

struct ScriptCompletion {
    std::weak_ptr<WebKitWebViewHost*> host;
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

}  // namespace

WebKitWebViewHost::WebKitWebViewHost(WebKitWebContext* context,
                                     const WebViewConfiguration& configuration,
                                     WebViewDelegate& delegate)
    : delegate_(delegate),
      contentManager_(webkit_user_content_manager_new()),
      zoomAllowed_(configuration.zoomAllowed),
      self_(std::make_shared<WebKitWebViewHost*>(this)) {
    auto* view =
        WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                     "user-content-manager", contentManager_.get(), nullptr));
    view_ = GObjectPtr<WebKitWebView>(WEBKIT_WEB_VIEW(g_object_ref_sink(view)));

    WebKitSettings* settings = webkit_web_view_get_settings(view);
    webkit_settings_set_javascript_can_open_windows_automatically(
        settings, configuration.scriptsMayOpenWindows);
    webkit_settings_set_zoom_text_only(settings, FALSE);
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
    g_signal_connect(view, "script-dialog", G_CALLBACK(&WebKitWebViewHost::scriptDialog), this);
    g_signal_connect(view, "run-file-chooser", G_CALLBACK(&WebKitWebViewHost::runFileChooser),
                     this);
    g_signal_connect(view, "web-process-terminated",
                     G_CALLBACK(&WebKitWebViewHost::webProcessTerminated), this);
    // Ahead of WebKit, which would scroll on Ctrl+wheel and scale the page on a pinch.
    gtk_widget_add_events(GTK_WIDGET(view),
                          GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK | GDK_TOUCHPAD_GESTURE_MASK);
    g_signal_connect(view, "event", G_CALLBACK(&WebKitWebViewHost::zoomEvent), this);
    g_signal_connect(view, "key-press-event", G_CALLBACK(&WebKitWebViewHost::zoomKey), this);
    if (testProbeEnabled()) {
        g_signal_connect(view, "notify::title",
                         G_CALLBACK(+[](WebKitWebView* view, GParamSpec*, gpointer) {
                             const gchar* title = webkit_web_view_get_title(view);
                             emitTestProbe({{"event", "title"}, {"title", title ? title : ""}});
                         }),
                         nullptr);
    }
}

WebKitWebViewHost::~WebKitWebViewHost() {
    cancelRequestTimeout();
    for (auto& pending : pendingRequests_) pending->cancel();
    g_signal_handlers_disconnect_by_data(view_.get(), this);
    for (auto& handler : handlers_) {
        g_signal_handler_disconnect(contentManager_.get(), handler->signalId);
    }
}

void WebKitWebViewHost::loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<WebKitWebViewHost*>(data);
    if (event == WEBKIT_LOAD_COMMITTED) self->cancelRequestTimeout();
    if (event != WEBKIT_LOAD_FINISHED) return;
    self->cancelRequestTimeout();
    self->probeLoadedPage();
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

std::shared_ptr<WebKitWebViewHost::PendingRequest> WebKitWebViewHost::holdRequest(
    WebKitScriptDialog* dialog, WebKitFileChooserRequest* chooser) {
    std::erase_if(pendingRequests_, [](const auto& pending) { return !pending->open(); });
    auto pending = std::make_shared<PendingRequest>();
    if (dialog != nullptr) pending->dialog = webkit_script_dialog_ref(dialog);
    if (chooser != nullptr)
        pending->chooser = GObjectPtr<WebKitFileChooserRequest>::retain(chooser);
    pendingRequests_.push_back(pending);
    return pending;
}

gboolean WebKitWebViewHost::scriptDialog(WebKitWebView*, WebKitScriptDialog* dialog,
                                         gpointer data) {
    auto* self = static_cast<WebKitWebViewHost*>(data);
    WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
        // No question before leaving a page: the page saves through its own flush.
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        return TRUE;
    }
    const gchar* text = webkit_script_dialog_get_message(dialog);
    std::string message = text ? text : "";
    auto pending = self->holdRequest(dialog, nullptr);
    switch (type) {
        case WEBKIT_SCRIPT_DIALOG_ALERT:
            self->delegate_.showScriptAlert(*self, message,
                                                    [pending] { pending->closeDialog(); });
            break;
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            self->delegate_.showScriptConfirm(*self, message, [pending](bool confirmed) {
                if (pending->dialog == nullptr) return;
                webkit_script_dialog_confirm_set_confirmed(pending->dialog, confirmed);
                pending->closeDialog();
            });
            break;
        case WEBKIT_SCRIPT_DIALOG_PROMPT: {
            const gchar* defaultText = webkit_script_dialog_prompt_get_default_text(dialog);
            self->delegate_.showScriptPrompt(
                *self, message, defaultText ? defaultText : "",
                [pending](std::optional<std::string> answer) {
                    if (pending->dialog == nullptr) return;
                    // Left unset, the page gets null rather than an empty string.
                    if (answer)
                        webkit_script_dialog_prompt_set_text(pending->dialog, answer->c_str());
                    pending->closeDialog();
                });
            break;
        }
        default:
            pending->closeDialog();
            break;
    }
    return TRUE;
}

gboolean WebKitWebViewHost::runFileChooser(WebKitWebView*, WebKitFileChooserRequest* request,
                                           gpointer data) {
    auto* self = static_cast<WebKitWebViewHost*>(data);
    // WebKitGTK does not tell whether the page asked for folders, so files are chosen.
    FileChooserOptions parameters;
    parameters.allowsMultipleSelection = webkit_file_chooser_request_get_select_multiple(request);
    auto pending = self->holdRequest(nullptr, request);
    self->delegate_.chooseFiles(
        *self, parameters, [pending](std::optional<std::vector<std::string>> chosen) {
            if (!pending->chooser) return;
            std::vector<std::string> paths;
            for (const std::string& uri : chosen.value_or(std::vector<std::string>{})) {
                g_autofree char* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
                if (path != nullptr) paths.emplace_back(path);
            }
            if (paths.empty()) {
                pending->cancel();
                return;
            }
            std::vector<const gchar*> list;
            for (const std::string& path : paths) list.push_back(path.c_str());
            list.push_back(nullptr);
            webkit_file_chooser_request_select_files(pending->chooser.get(), list.data());
            pending->chooser = {};
        });
    return TRUE;
}

void WebKitWebViewHost::webProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                             gpointer data) {
    auto* self = static_cast<WebKitWebViewHost*>(data);
    emitTestProbe({{"event", "web-process-terminated"}});
    self->delegate_.webProcessTerminated(*self);
}

void WebKitWebViewHost::setZoom(double level) {
    if (level == webkit_web_view_get_zoom_level(view_.get())) return;
    webkit_web_view_set_zoom_level(view_.get(), level);
    emitTestProbe({{"event", "zoom"}, {"level", level}});
}

// Ctrl+wheel and a touchpad pinch zoom the page, as in browsers.
gboolean WebKitWebViewHost::zoomEvent(GtkWidget*, GdkEvent* event, gpointer data) {
    auto* self = static_cast<WebKitWebViewHost*>(data);
    if (event->type == GDK_TOUCHPAD_PINCH) {
        // A view without zoom swallows the pinch, or WebKit would scale the page itself.
        if (!self->zoomAllowed_) return TRUE;
        const GdkEventTouchpadPinch& pinch = event->touchpad_pinch;
        switch (pinch.phase) {
            case GDK_TOUCHPAD_GESTURE_PHASE_BEGIN:
                self->pinchStartZoom_ = self->zoom();
                break;
            case GDK_TOUCHPAD_GESTURE_PHASE_UPDATE:
            case GDK_TOUCHPAD_GESTURE_PHASE_END:
                self->setZoom(pinchedZoom(self->pinchStartZoom_, pinch.scale));
                break;
            case GDK_TOUCHPAD_GESTURE_PHASE_CANCEL:
                self->setZoom(self->pinchStartZoom_);
                break;
        }
        return TRUE;
    }
    if (event->type != GDK_SCROLL || !self->zoomAllowed_) return FALSE;
    const GdkEventScroll& scroll = event->scroll;
    if ((scroll.state & gtk_accelerator_get_default_mod_mask()) != GDK_CONTROL_MASK) return FALSE;
    int steps = 0;
    if (scroll.direction == GDK_SCROLL_UP) {
        steps = 1;
    } else if (scroll.direction == GDK_SCROLL_DOWN) {
        steps = -1;
    } else if (scroll.direction == GDK_SCROLL_SMOOTH) {
        // Touchpads scroll in fractions of a wheel notch: one step per whole notch.
        self->scrollZoomDelta_ += scroll.delta_y;
        while (self->scrollZoomDelta_ <= -1) {
            self->scrollZoomDelta_ += 1;
            ++steps;
        }
        while (self->scrollZoomDelta_ >= 1) {
            self->scrollZoomDelta_ -= 1;
            --steps;
        }
    }
    double level = self->zoom();
    for (; steps > 0; --steps) level = steppedZoom(level, 1);
    for (; steps < 0; ++steps) level = steppedZoom(level, -1);
    self->setZoom(level);
    return TRUE;
}

gboolean WebKitWebViewHost::zoomKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<WebKitWebViewHost*>(data);
    if (!self->zoomAllowed_) return FALSE;
    // Shift is allowed: Ctrl+plus is Ctrl+Shift+= on many layouts.
    GdkModifierType modifiers =
        GdkModifierType(event->state & gtk_accelerator_get_default_mod_mask() & ~GDK_SHIFT_MASK);
    if (modifiers != GDK_CONTROL_MASK) return FALSE;
    switch (event->keyval) {
        case GDK_KEY_plus:
        case GDK_KEY_equal:
        case GDK_KEY_KP_Add:
            self->setZoom(steppedZoom(self->zoom(), 1));
            return TRUE;
        case GDK_KEY_minus:
        case GDK_KEY_KP_Subtract:
            self->setZoom(steppedZoom(self->zoom(), -1));
            return TRUE;
        case GDK_KEY_0:
        case GDK_KEY_KP_0:
            self->setZoom(kDefaultZoom);
            return TRUE;
        default:
            return FALSE;
    }
}

void WebKitWebViewHost::cancelRequestTimeout() {
    if (requestTimeout_ != 0) g_source_remove(requestTimeout_);
    requestTimeout_ = 0;
}

// WebKitGTK has no per-request time-out: a load that has not been answered in time is stopped.
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
    cancelRequestTimeout();
    requestTimeout_ = g_timeout_add_seconds(
        static_cast<guint>(timeout.count()),
        [](gpointer data) -> gboolean {
            auto* self = static_cast<WebKitWebViewHost*>(data);
            self->requestTimeout_ = 0;
            webkit_web_view_stop_loading(self->view_.get());
            return G_SOURCE_REMOVE;
        },
        this);
    webkit_web_view_load_request(view_.get(), request.get());
}

void WebKitWebViewHost::loadHtml(const std::string& html) {
    cancelRequestTimeout();
    webkit_web_view_load_html(view_.get(), html.c_str(), nullptr);
}

void WebKitWebViewHost::evaluateJavascript(const std::string& script,
                                       std::function<void(std::optional<std::string>)> done) {
    auto* completion = new ScriptCompletion{self_, std::move(done)};
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

double WebKitWebViewHost::zoom() const {
    return webkit_web_view_get_zoom_level(view_.get());
}

void WebKitWebViewHost::focus() {
    gtk_widget_grab_focus(widget());
}

void WebKitWebViewHost::probeLoadedPage() {
    if (!testProbeEnabled()) return;
    static constexpr char kReadPage[] =
        "JSON.stringify({url: location.href, title: document.title, "
        "text: document.body ? document.body.innerText : ''})";
    webkit_web_view_evaluate_javascript(
        view_.get(), kReadPage, -1, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer) {
            g_autoptr(GError) error = nullptr;
            g_autoptr(JSCValue) value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value == nullptr) return;
            g_autofree gchar* text = jsc_value_to_string(value);
            auto page = nlohmann::json::parse(text ? text : "", nullptr, false);
            if (page.is_discarded()) return;
            page["event"] = "load-finished";
            page["monotonicMicroseconds"] = g_get_monotonic_time();
            emitTestProbe(page);
        },
        nullptr);
}

}  // namespace lumory::gtk
