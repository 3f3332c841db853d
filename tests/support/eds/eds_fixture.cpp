#include "eds/eds_fixture.h"

#include <memory>

namespace lumory::testsupport {

namespace {
struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using Owned = std::unique_ptr<T, Unref>;
}  // namespace

EdsFixture::EdsFixture() { registry_ = e_source_registry_new_sync(nullptr, nullptr); }

EdsFixture::~EdsFixture() {
    if (registry_ != nullptr) g_object_unref(registry_);
}

std::string EdsFixture::addSource(const std::string& title, bool taskList,
                                  const std::optional<std::string>& color) {
    if (registry_ == nullptr) return {};
    g_autoptr(ESource) source = e_source_new(nullptr, nullptr, nullptr);
    e_source_set_display_name(source, title.c_str());
    e_source_set_parent(source, "local-stub");
    auto* backend = static_cast<ESourceBackend*>(e_source_get_extension(
        source, taskList ? E_SOURCE_EXTENSION_TASK_LIST : E_SOURCE_EXTENSION_CALENDAR));
    e_source_backend_set_backend_name(backend, "local");
    if (color) e_source_selectable_set_color(E_SOURCE_SELECTABLE(backend), color->c_str());
    GList* sources = g_list_append(nullptr, source);
    const gboolean created =
        e_source_registry_create_sources_sync(registry_, sources, nullptr, nullptr);
    g_list_free(sources);
    if (!created) return {};
    return e_source_get_uid(source);
}

bool EdsFixture::removeSource(const std::string& uid) {
    if (registry_ == nullptr) return false;
    g_autoptr(ESource) source = e_source_registry_ref_source(registry_, uid.c_str());
    return source != nullptr && e_source_remove_sync(source, nullptr, nullptr);
}

ECalClient* EdsFixture::connect(const std::string& uid) {
    if (registry_ == nullptr) return nullptr;
    g_autoptr(ESource) source = e_source_registry_ref_source(registry_, uid.c_str());
    if (source == nullptr) return nullptr;
    const ECalClientSourceType type = e_source_has_extension(source, E_SOURCE_EXTENSION_TASK_LIST)
                                          ? E_CAL_CLIENT_SOURCE_TYPE_TASKS
                                          : E_CAL_CLIENT_SOURCE_TYPE_EVENTS;
    // An unlimited wait: a finite one makes local sources wait all of it.
    EClient* client = e_cal_client_connect_sync(source, type, static_cast<guint32>(-1), nullptr,
                                                nullptr);
    return client != nullptr ? E_CAL_CLIENT(client) : nullptr;
}

std::string EdsFixture::addComponent(const std::string& sourceUid, const std::string& icalText) {
    Owned<ECalClient> client(connect(sourceUid));
    if (!client) return {};
    Owned<ICalComponent> component(i_cal_component_new_from_string(icalText.c_str()));
    if (!component) return {};
    gchar* uid = nullptr;
    if (!e_cal_client_create_object_sync(client.get(), component.get(), E_CAL_OPERATION_FLAG_NONE, &uid,
                                         nullptr, nullptr))
        return {};
    std::string result = uid != nullptr ? uid : "";
    g_free(uid);
    return result;
}

pid_t EdsFixture::busNameOwner(const std::string& name) {
    Owned<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!bus) return 0;
    GVariant* reply = g_dbus_connection_call_sync(
        bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetConnectionUnixProcessID", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 10'000, nullptr, nullptr);
    if (reply == nullptr) return 0;
    guint32 pid = 0;
    g_variant_get(reply, "(u)", &pid);
    g_variant_unref(reply);
    return static_cast<pid_t>(pid);
}

std::string addRemoteSource(ESourceRegistry* registry, const std::string& title,
                            const std::string& url, const char* backend, const char* parent,
                            bool taskList) {
    if (!registry) return {};
    g_autoptr(GUri) uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri) return {};
    g_autoptr(ESource) source = e_source_new(nullptr, nullptr, nullptr);
    e_source_set_display_name(source, title.c_str());
    e_source_set_parent(source, parent);
    auto* calendar = E_SOURCE_BACKEND(e_source_get_extension(
        source, taskList ? E_SOURCE_EXTENSION_TASK_LIST : E_SOURCE_EXTENSION_CALENDAR));
    e_source_backend_set_backend_name(calendar, backend);
    // Host, port, path and plain HTTP, all from the address.
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
