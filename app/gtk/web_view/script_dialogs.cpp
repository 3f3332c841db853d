#include "gtk/web_view/script_dialogs.h"

#include <utility>

namespace lumory::gtk {

struct ScriptDialogs::Pending {
    WebKitScriptDialog* dialog = nullptr;

    bool open() const { return dialog != nullptr; }
    void close() {
        if (dialog == nullptr) return;
        webkit_script_dialog_close(dialog);
        webkit_script_dialog_unref(std::exchange(dialog, nullptr));
    }
};

ScriptDialogs::ScriptDialogs(WebKitWebView* view, WebView& sender, WebViewDelegate& delegate)
    : view_(view), sender_(sender), delegate_(delegate) {
    g_signal_connect(view, "script-dialog", G_CALLBACK(&ScriptDialogs::requested), this);
}

ScriptDialogs::~ScriptDialogs() {
    for (auto& pending : pending_) pending->close();
    g_signal_handlers_disconnect_by_data(view_, this);
}

std::shared_ptr<ScriptDialogs::Pending> ScriptDialogs::hold(WebKitScriptDialog* dialog) {
    std::erase_if(pending_, [](const auto& pending) { return !pending->open(); });
    auto pending = std::make_shared<Pending>();
    pending->dialog = webkit_script_dialog_ref(dialog);
    pending_.push_back(pending);
    return pending;
}

gboolean ScriptDialogs::requested(WebKitWebView*, WebKitScriptDialog* dialog, gpointer data) {
    auto* self = static_cast<ScriptDialogs*>(data);
    WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
        // No question before leaving a page: the page saves through its own flush.
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        return TRUE;
    }
    const gchar* text = webkit_script_dialog_get_message(dialog);
    std::string message = text ? text : "";
    auto pending = self->hold(dialog);
    switch (type) {
        case WEBKIT_SCRIPT_DIALOG_ALERT:
            self->delegate_.showScriptAlert(self->sender_, message,
                                            [pending] { pending->close(); });
            break;
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            self->delegate_.showScriptConfirm(self->sender_, message, [pending](bool confirmed) {
                if (pending->dialog == nullptr) return;
                webkit_script_dialog_confirm_set_confirmed(pending->dialog, confirmed);
                pending->close();
            });
            break;
        case WEBKIT_SCRIPT_DIALOG_PROMPT: {
            const gchar* defaultText = webkit_script_dialog_prompt_get_default_text(dialog);
            self->delegate_.showScriptPrompt(
                self->sender_, message, defaultText ? defaultText : "",
                [pending](std::optional<std::string> answer) {
                    if (pending->dialog == nullptr) return;
                    // Left unset, the page gets null rather than an empty string.
                    if (answer)
                        webkit_script_dialog_prompt_set_text(pending->dialog, answer->c_str());
                    pending->close();
                });
            break;
        }
        default:
            pending->close();
            break;
    }
    return TRUE;
}

}  // namespace lumory::gtk
