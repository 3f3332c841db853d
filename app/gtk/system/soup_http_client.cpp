#include "gtk/system/soup_http_client.h"

#include <memory>

namespace lumory::gtk {

namespace {

constexpr gsize kReadChunk = 16 * 1024;

// One request from its start to its answer; deleted by whichever callback ends it.
struct Exchange {
    ~Exchange() {
        g_source_destroy(timer);
        g_source_unref(timer);
        g_cancellable_disconnect(owner.get(), relayId);
    }

    GObjectPtr<SoupMessage> message;
    std::function<void(HttpResponse)> done;
    // The client's: cancelled when it goes, and then nothing is called back.
    GObjectPtr<GCancellable> owner;
    // This request's: cancelled by the client's or by the time-out.
    GObjectPtr<GCancellable> cancellable;
    gulong relayId = 0;
    GSource* timer = nullptr;
    GObjectPtr<GInputStream> body;
    std::string received;
    std::optional<size_t> maxBodyBytes;
    std::optional<int> status;
};

void finish(std::unique_ptr<Exchange> exchange, bool withBody) {
    HttpResponse response;
    response.status = exchange->status;
    if (withBody && !exchange->received.empty()) response.body = std::move(exchange->received);
    auto done = std::move(exchange->done);
    // The stream goes first: one left unread closes its connection rather than being drained.
    exchange.reset();
    done(std::move(response));
}

void readNext(std::unique_ptr<Exchange> exchange);

void chunkRead(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Exchange> exchange(static_cast<Exchange*>(data));
    g_autoptr(GError) error = nullptr;
    g_autoptr(GBytes) bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result,
                                                               &error);
    if (g_cancellable_is_cancelled(exchange->owner.get())) return;
    if (bytes == nullptr) {
        // Cut off (the time-out, the peer): no answer arrived whole.
        exchange->status.reset();
        finish(std::move(exchange), false);
        return;
    }
    gsize size = 0;
    const auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    if (size == 0) {
        finish(std::move(exchange), true);
        return;
    }
    exchange->received.append(chunk, size);
    if (exchange->maxBodyBytes && exchange->received.size() > *exchange->maxBodyBytes) {
        finish(std::move(exchange), false);
        return;
    }
    readNext(std::move(exchange));
}

void readNext(std::unique_ptr<Exchange> exchange) {
    GInputStream* body = exchange->body.get();
    GCancellable* cancellable = exchange->cancellable.get();
    g_input_stream_read_bytes_async(body, kReadChunk, G_PRIORITY_DEFAULT, cancellable, chunkRead,
                                    exchange.release());
}

void headersArrived(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Exchange> exchange(static_cast<Exchange*>(data));
    g_autoptr(GError) error = nullptr;
    GInputStream* body = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (g_cancellable_is_cancelled(exchange->owner.get())) {
        if (body != nullptr) g_object_unref(body);
        return;
    }
    if (body == nullptr) {
        finish(std::move(exchange), false);
        return;
    }
    exchange->body = GObjectPtr<GInputStream>(body);
    SoupMessage* message = exchange->message.get();
    exchange->status = static_cast<int>(soup_message_get_status(message));
    // A declared length past the bound is refused before a byte of it is read.
    SoupMessageHeaders* headers = soup_message_get_response_headers(message);
    if (exchange->maxBodyBytes &&
        soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
        static_cast<guint64>(soup_message_headers_get_content_length(headers)) >
            *exchange->maxBodyBytes) {
        finish(std::move(exchange), false);
        return;
    }
    readNext(std::move(exchange));
}

}  // namespace

SoupHttpClient::SoupHttpClient() : cancellable_(g_cancellable_new()) {}

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
    if (!request.followRedirects) soup_message_add_flags(message, SOUP_MESSAGE_NO_REDIRECT);

    auto exchange = std::make_unique<Exchange>();
    exchange->message = GObjectPtr<SoupMessage>(message);
    exchange->done = std::move(done);
    exchange->owner = GObjectPtr<GCancellable>::retain(cancellable_.get());
    exchange->maxBodyBytes = request.maxBodyBytes;
    // A time-out per request, over its answer and its whole body: the session-wide one would
    // bind every caller to one limit.
    exchange->cancellable = GObjectPtr<GCancellable>(g_cancellable_new());
    GCancellable* cancellable = exchange->cancellable.get();
    auto relay = [](GCancellable*, gpointer data) {
        g_cancellable_cancel(static_cast<GCancellable*>(data));
    };
    exchange->relayId = g_cancellable_connect(cancellable_.get(), G_CALLBACK(+relay),
                                              g_object_ref(cancellable), g_object_unref);
    exchange->timer = g_timeout_source_new_seconds(static_cast<guint>(request.timeout.count()));
    g_source_set_callback(
        exchange->timer,
        [](gpointer data) -> gboolean {
            g_cancellable_cancel(static_cast<GCancellable*>(data));
            return G_SOURCE_REMOVE;
        },
        g_object_ref(cancellable), g_object_unref);
    g_source_attach(exchange->timer, nullptr);

    // Most runs send nothing (the update check is daily): the session and its resolver, proxy
    // and cookie objects wait for the first request.
    if (!session_) session_ = GObjectPtr<SoupSession>(soup_session_new());
    soup_session_send_async(session_.get(), message, G_PRIORITY_DEFAULT, cancellable,
                            headersArrived, exchange.release());
}

}  // namespace lumory::gtk
