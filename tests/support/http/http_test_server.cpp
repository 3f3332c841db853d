#include "http/http_test_server.h"

namespace lumory::testing {

HttpTestServer::HttpTestServer(std::string address)
    : server_([this](SoupServerMessage* message, const char* path) { handle(message, path); },
              std::move(address)) {}

void HttpTestServer::handle(SoupServerMessage* message, const char* path) {
    Request request;
    request.method = soup_server_message_get_method(message);
    request.path = path;
    SoupMessageHeadersIter iter;
    soup_message_headers_iter_init(&iter, soup_server_message_get_request_headers(message));
    const char* name = nullptr;
    const char* value = nullptr;
    while (soup_message_headers_iter_next(&iter, &name, &value)) {
        g_autofree char* lower = g_ascii_strdown(name, -1);
        request.headers[lower] = value;
    }
    SoupMessageBody* body = soup_server_message_get_request_body(message);
    if (body != nullptr && body->length > 0) request.body.assign(body->data, body->length);

    Response response;
    bool known = false;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        auto found = answers_.find(path);
        if (found != answers_.end()) {
            response = found->second;
            known = true;
        }
    }
    arrived_.notify_all();
    if (!known) {
        soup_server_message_set_status(message, SOUP_STATUS_NOT_FOUND, nullptr);
        return;
    }
    soup_server_message_set_status(message, response.status, nullptr);
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    for (const auto& [name, value] : response.headers) {
        soup_message_headers_replace(headers, name.c_str(), value.c_str());
    }
    if (response.endless || response.declaredLength > 0) {
        soup_message_headers_set_content_type(headers, response.contentType.c_str(), nullptr);
        if (response.declaredLength > 0) {
            // With nothing in the body, the server pauses the message after the headers.
            soup_message_headers_set_content_length(headers,
                                                    static_cast<goffset>(response.declaredLength));
            return;
        }
        soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
        stream(message, response.body);
        return;
    }
    soup_server_message_set_response(message, response.contentType.c_str(), SOUP_MEMORY_COPY,
                                     response.body.data(), response.body.size());
    if (response.neverAnswer) {
        soup_server_message_pause(message);
    } else if (response.delay.count() > 0) {
        soup_server_message_pause(message);
        GSource* timer = g_timeout_source_new(static_cast<guint>(response.delay.count()));
        g_source_set_callback(
            timer,
            [](gpointer message) {
                soup_server_message_unpause(static_cast<SoupServerMessage*>(message));
                return G_SOURCE_REMOVE;
            },
            g_object_ref(message), g_object_unref);
        g_source_attach(timer, server_.context());
        g_source_unref(timer);
    }
}

// Each written chunk is followed by the next one, and nothing written is kept.
void HttpTestServer::stream(SoupServerMessage* message, const std::string& chunk) {
    struct Stream {
        HttpTestServer* server;
        std::string chunk;
    };
    SoupMessageBody* body = soup_server_message_get_response_body(message);
    soup_message_body_set_accumulate(body, FALSE);
    soup_message_body_append(body, SOUP_MEMORY_COPY, chunk.data(), chunk.size());
    g_signal_connect_data(
        message, "wrote-chunk",
        G_CALLBACK(+[](SoupServerMessage* message, gpointer data) {
            auto* stream = static_cast<Stream*>(data);
            stream->server->streamed_ += stream->chunk.size();
            soup_message_body_append(soup_server_message_get_response_body(message),
                                     SOUP_MEMORY_COPY, stream->chunk.data(), stream->chunk.size());
        }),
        new Stream{this, chunk},
        [](gpointer data, GClosure*) { delete static_cast<Stream*>(data); },
        GConnectFlags(0));
}

void HttpTestServer::answer(const std::string& path, Response response) {
    std::lock_guard lock(mutex_);
    answers_[path] = std::move(response);
}

std::string HttpTestServer::url(const std::string& path) const {
    return server_.url(path);
}

std::vector<HttpTestServer::Request> HttpTestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool HttpTestServer::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

}  // namespace lumory::testing
