#pragma once

#include <webkit2/webkit2.h>

#include <memory>
#include <vector>

#include "platform/web_view.h"

namespace lumory::gtk {

// The page's alert, confirm and prompt, shown by the delegate. The page gets exactly one
// answer: the user's, or "cancel" when the view goes away first (WebKit's own completion must
// never run after the view is gone).
class ScriptDialogs {
public:
    ScriptDialogs(WebKitWebView* view, WebView& sender, WebViewDelegate& delegate);
    ~ScriptDialogs();
    ScriptDialogs(const ScriptDialogs&) = delete;
    ScriptDialogs& operator=(const ScriptDialogs&) = delete;

private:
    struct Pending;
    static gboolean requested(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self);
    std::shared_ptr<Pending> hold(WebKitScriptDialog* dialog);

    WebKitWebView* view_;
    WebView& sender_;
    WebViewDelegate& delegate_;
    // Dialogs the page waits on.
    std::vector<std::shared_ptr<Pending>> pending_;
};

}  // namespace lumory::gtk
