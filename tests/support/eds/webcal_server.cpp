#include "eds/webcal_server.h"

namespace lumory::testsupport {

WebcalServer::WebcalServer(std::string body)
    : body_(std::move(body)), server_([this](SoupServerMessage* message, const char*) {
          soup_server_message_set_status(message, SOUP_STATUS_OK, nullptr);
          soup_server_message_set_response(message, "text/calendar", SOUP_MEMORY_COPY, body_.data(),
                                           body_.size());
      }) {}

std::string addWebcalSource(ESourceRegistry* registry, const std::string& title,
                            const std::string& url, bool taskList) {
    if (!registry) return {};
    g_autoptr(GUri) uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri) return {};
    g_autoptr(ESource) source = e_source_new(nullptr, nullptr, nullptr);
    e_source_set_display_name(source, title.c_str());
    e_source_set_parent(source, "webcal-stub");
    auto* calendar = E_SOURCE_BACKEND(e_source_get_extension(
        source, taskList ? E_SOURCE_EXTENSION_TASK_LIST : E_SOURCE_EXTENSION_CALENDAR));
    e_source_backend_set_backend_name(calendar, "webcal");
    auto* webdav =
        E_SOURCE_WEBDAV(e_source_get_extension(source, E_SOURCE_EXTENSION_WEBDAV_BACKEND));
    e_source_webdav_set_uri(webdav, uri);
    GList* sources = g_list_append(nullptr, source);
    const gboolean created =
        e_source_registry_create_sources_sync(registry, sources, nullptr, nullptr);
    g_list_free(sources);
    return created ? e_source_get_uid(source) : std::string();
}

}  // namespace lumory::testsupport
