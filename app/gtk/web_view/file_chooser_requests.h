#pragma once

#include <webkit2/webkit2.h>

#include <memory>
#include <vector>

#include "platform/web_view.h"

namespace lumory::gtk {

// The page's file inputs, answered with what the delegate's chooser returns. The page gets
// exactly one answer: the files chosen, or "cancel" when nothing was chosen or the view goes
// away first.
class FileChooserRequests {
public:
    FileChooserRequests(WebKitWebView* view, WebView& sender, WebViewDelegate& delegate);
    ~FileChooserRequests();
    FileChooserRequests(const FileChooserRequests&) = delete;
    FileChooserRequests& operator=(const FileChooserRequests&) = delete;

private:
    struct Pending;
    static gboolean requested(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self);
    std::shared_ptr<Pending> hold(WebKitFileChooserRequest* request);

    WebKitWebView* view_;
    WebView& sender_;
    WebViewDelegate& delegate_;
    // Requests the page waits on.
    std::vector<std::shared_ptr<Pending>> pending_;
};

}  // namespace lumory::gtk
