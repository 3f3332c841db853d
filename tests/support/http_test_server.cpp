#include "http_test_server.h"

#include <libsoup/soup.h>

#include <future>

namespace lumory::testing {

HttpTestServer::HttpTestServer() {
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    std::promise<void> listening;
    auto ready = listening.get_future();
    thread_ = std::thread([this, &listening] {
        g_main_context_push_thread_default(context_);
        SoupServer* server = soup_server_new(nullptr, nullptr);
        soup_server_add_handler(
            server, nullptr,
            [](SoupServer*, SoupServerMessage* message, const char* path, GHashTable*,
               gpointer self) { static_cast<HttpTestServer*>(self)->handle(message, path); },
            this, nullptr);
        if (soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr)) {
            GSList* uris = soup_server_get_uris(server);
            if (uris) port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
            g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        }
        listening.set_value();
        if (port_ > 0) g_main_loop_run(loop_);
        soup_server_disconnect(server);
        g_object_unref(server);
        // Let the disconnected connections finish closing before the context goes.
        while (g_main_context_iteration(context_, FALSE)) {
        }
        g_main_context_pop_thread_default(context_);
    });
    ready.wait();
}

HttpTestServer::~HttpTestServer() {
    g_main_context_invoke(
        context_,
        [](gpointer loop) {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void HttpTestServer::handle(void* opaque, const char* path) {
    auto* message = static_cast<SoupServerMessage*>(opaque);

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
        g_source_attach(timer, context_);
        g_source_unref(timer);
    }
}

void HttpTestServer::answer(const std::string& path, Response response) {
    std::lock_guard lock(mutex_);
    answers_[path] = std::move(response);
}

std::string HttpTestServer::url(const std::string& path) const {
    if (port_ <= 0) return {};
    return "http://127.0.0.1:" + std::to_string(port_.load()) + path;
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
