#include "http/http_test_server.h"

namespace lumory::testing {

HttpTestServer::HttpTestServer()
    : server_([this](SoupServerMessage* message, const char* path) { handle(message, path); }) {}

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
