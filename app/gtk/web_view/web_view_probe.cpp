#include "gtk/web_view/web_view_probe.h"

#include "gtk/test_probe.h"

namespace lumory::gtk {

void probeTitleChanges(WebKitWebView* view) {
    if (!testProbeEnabled()) return;
    g_signal_connect(view, "notify::title",
                     G_CALLBACK(+[](WebKitWebView* view, GParamSpec*, gpointer) {
                         const gchar* title = webkit_web_view_get_title(view);
                         emitTestProbe({{"event", "title"}, {"title", title ? title : ""}});
                     }),
                     nullptr);
}

void probeLoadedPage(WebKitWebView* view) {
    if (!testProbeEnabled()) return;
    static constexpr char kReadPage[] =
        "JSON.stringify({url: location.href, title: document.title, "
        "text: document.body ? document.body.innerText : ''})";
    webkit_web_view_evaluate_javascript(
        view, kReadPage, -1, nullptr, nullptr, nullptr,
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
