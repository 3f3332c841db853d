#include "gtk/web_view/file_chooser_requests.h"

#include "gobject_ptr.h"

namespace lumory::gtk {

struct FileChooserRequests::Pending {
    GObjectPtr<WebKitFileChooserRequest> request;

    bool open() const { return static_cast<bool>(request); }
    void cancel() {
        if (request) webkit_file_chooser_request_cancel(request.get());
        request = {};
    }
};

FileChooserRequests::FileChooserRequests(WebKitWebView* view, WebView& sender,
                                         WebViewDelegate& delegate)
    : view_(view), sender_(sender), delegate_(delegate) {
    g_signal_connect(view, "run-file-chooser", G_CALLBACK(&FileChooserRequests::requested), this);
}

FileChooserRequests::~FileChooserRequests() {
    for (auto& pending : pending_) pending->cancel();
    g_signal_handlers_disconnect_by_data(view_, this);
}

std::shared_ptr<FileChooserRequests::Pending> FileChooserRequests::hold(
    WebKitFileChooserRequest* request) {
    std::erase_if(pending_, [](const auto& pending) { return !pending->open(); });
    auto pending = std::make_shared<Pending>();
    pending->request = GObjectPtr<WebKitFileChooserRequest>::retain(request);
    pending_.push_back(pending);
    return pending;
}

gboolean FileChooserRequests::requested(WebKitWebView*, WebKitFileChooserRequest* request,
                                        gpointer data) {
    auto* self = static_cast<FileChooserRequests*>(data);
    // WebKitGTK does not tell whether the page asked for folders, so files are chosen.
    FileChooserOptions options;
    options.allowsMultipleSelection = webkit_file_chooser_request_get_select_multiple(request);
    auto pending = self->hold(request);
    self->delegate_.chooseFiles(
        self->sender_, options, [pending](std::optional<std::vector<std::string>> chosen) {
            if (!pending->request) return;
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
            webkit_file_chooser_request_select_files(pending->request.get(), list.data());
            pending->request = {};
        });
    return TRUE;
}

}  // namespace lumory::gtk
