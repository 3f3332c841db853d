#include "webcal_server.h"

#include <libsoup/soup.h>

#include <future>

#include "eds_fixture.h"

namespace lumory::testsupport {

WebcalServer::WebcalServer(std::string body) : body_(std::move(body)) {
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    std::promise<void> listening;
    auto ready = listening.get_future();
    thread_ = std::thread([this, &listening] {
        g_main_context_push_thread_default(context_);
        SoupServer* server = soup_server_new(nullptr, nullptr);
        soup_server_add_handler(
            server, nullptr,
            [](SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer self) {
                const std::string& body = static_cast<WebcalServer*>(self)->body_;
                soup_server_message_set_status(message, SOUP_STATUS_OK, nullptr);
                soup_server_message_set_response(message, "text/calendar", SOUP_MEMORY_COPY,
                                                 body.data(), body.size());
            },
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
        g_main_context_pop_thread_default(context_);
    });
    ready.wait();
}

WebcalServer::~WebcalServer() {
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

std::string WebcalServer::url(const std::string& path) const {
    if (port_ <= 0) return {};
    return "http://127.0.0.1:" + std::to_string(port_.load()) + path;
}

std::string addWebcalSource(ESourceRegistry* registry, const std::string& title,
                            const std::string& url, bool taskList) {
    return addRemoteSource(registry, title, url, "webcal", "webcal-stub", taskList);
}

}  // namespace lumory::testsupport
