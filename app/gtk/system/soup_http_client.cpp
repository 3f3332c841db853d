#include "gtk/system/soup_http_client.h"

#include <memory>

namespace lumory::gtk {

namespace {

struct Exchange {
    GObjectPtr<SoupMessage> message;
    std::function<void(HttpResponse)> done;
};

}  // namespace

SoupHttpClient::SoupHttpClient()
    : session_(soup_session_new()), cancellable_(g_cancellable_new()) {}

// Requests still in flight end without calling back: their owner is going away.
SoupHttpClient::~SoupHttpClient() {
    g_cancellable_cancel(cancellable_.get());
}

void SoupHttpClient::send(const HttpRequest& request, std::function<void(HttpResponse)> done) {
    SoupMessage* message = request.url.find('\0') == std::string::npos
                               ? soup_message_new(request.method.c_str(), request.url.c_str())
                               : nullptr;
    if (message == nullptr) {
        done(HttpResponse{});
        return;
    }
    SoupMessageHeaders* headers = soup_message_get_request_headers(message);
    if (request.ignoreLocalCache) {
        soup_message_headers_replace(headers, "Cache-Control", "no-cache");
        soup_message_headers_replace(headers, "Pragma", "no-cache");
    }
    if (request.body) {
        g_autoptr(GBytes) body = g_bytes_new(request.body->data(), request.body->size());
        soup_message_set_request_body_from_bytes(
            message, request.contentType.empty() ? nullptr : request.contentType.c_str(), body);
    } else if (!request.contentType.empty()) {
        soup_message_headers_replace(headers, "Content-Type", request.contentType.c_str());
    }

    // A time-out per request: the session-wide one would bind every caller to one limit.
    GObjectPtr<GCancellable> cancellable(g_cancellable_new());
    auto relay = [](GCancellable*, gpointer data) {
        g_cancellable_cancel(static_cast<GCancellable*>(data));
    };
    gulong relayId = g_cancellable_connect(cancellable_.get(), G_CALLBACK(+relay),
                                           g_object_ref(cancellable.get()), g_object_unref);
    GSource* timer = g_timeout_source_new_seconds(static_cast<guint>(request.timeout.count()));
    g_source_set_callback(
        timer,
        [](gpointer data) -> gboolean {
            g_cancellable_cancel(static_cast<GCancellable*>(data));
            return G_SOURCE_REMOVE;
        },
        g_object_ref(cancellable.get()), g_object_unref);
    g_source_attach(timer, nullptr);

    struct Pending {
        GObjectPtr<SoupMessage> message;
        std::function<void(HttpResponse)> done;
        GObjectPtr<GCancellable> owner;
        gulong relayId;
        GSource* timer;
    };
    auto* pending =
        new Pending{GObjectPtr<SoupMessage>(message), std::move(done),
                    GObjectPtr<GCancellable>::retain(cancellable_.get()), relayId, timer};
    soup_session_send_and_read_async(
        session_.get(), message, G_PRIORITY_DEFAULT, cancellable.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
            g_source_destroy(pending->timer);
            g_source_unref(pending->timer);
            g_cancellable_disconnect(pending->owner.get(), pending->relayId);
            g_autoptr(GError) error = nullptr;
            g_autoptr(GBytes) bytes =
                soup_session_send_and_read_finish(SOUP_SESSION(source), result, &error);
            if (g_cancellable_is_cancelled(pending->owner.get())) return;
            HttpResponse response;
            if (error == nullptr) {
                response.status = static_cast<int>(soup_message_get_status(pending->message.get()));
            }
            if (bytes != nullptr && g_bytes_get_size(bytes) > 0) {
                gsize size = 0;
                auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
                response.body = std::string(data, size);
            }
            pending->done(std::move(response));
        },
        pending);
}

}  // namespace lumory::gtk
