#include "http/soup_server_thread.h"

namespace lumory::testing {

SoupServerThread::SoupServerThread(Handler handler, std::string address)
    : handler_(std::move(handler)),
      address_(std::move(address)),
      thread_([this] { return listen(); }, [this] { close(); }) {}

bool SoupServerThread::listen() {
    server_ = soup_server_new(nullptr, nullptr);
    soup_server_add_handler(
        server_, nullptr,
        [](SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer self) {
            static_cast<SoupServerThread*>(self)->handler_(message, path);
        },
        this, nullptr);
    g_autoptr(GSocketAddress) where = g_inet_socket_address_new_from_string(address_.c_str(), 0);
    if (where != nullptr && soup_server_listen(server_, where, SoupServerListenOptions(0), nullptr)) {
        GSList* uris = soup_server_get_uris(server_);
        if (uris) port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    return port_ > 0;
}

void SoupServerThread::close() {
    soup_server_disconnect(server_);
    g_object_unref(server_);
    // Let the disconnected connections finish closing before the context goes.
    while (g_main_context_iteration(thread_.context(), FALSE)) {
    }
}

std::string SoupServerThread::url(const std::string& path) const {
    if (port_ <= 0) return {};
    return "http://" + address_ + ":" + std::to_string(port_.load()) + path;
}

}  // namespace lumory::testing
