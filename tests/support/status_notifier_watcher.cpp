#include "status_notifier_watcher.h"

#include <gio/gio.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace lumory::testing {

namespace {

constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kMenuInterface[] = "com.canonical.dbusmenu";
constexpr int kCallTimeoutMs = 5000;

constexpr char kWatcherXml[] = R"(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>)";

}  // namespace

struct StatusNotifierWatcher::State {
    std::string address;
    std::thread thread;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    GDBusConnection* client = nullptr;

    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;
    bool owned = false;
    std::vector<StatusNotifierItemAddress> items;

    void run();
    static void methodCalled(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                             const gchar* method, GVariant* parameters,
                             GDBusMethodInvocation* invocation, gpointer data);
    static GVariant* propertyRead(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                  const gchar* property, GError**, gpointer data);
};

void StatusNotifierWatcher::State::methodCalled(GDBusConnection* connection, const gchar* sender,
                                                const gchar*, const gchar*, const gchar* method,
                                                GVariant* parameters,
                                                GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<State*>(data);
    if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
        const gchar* service = nullptr;
        g_variant_get(parameters, "(&s)", &service);
        // Items register either their bus name or, as libappindicator does, their object path.
        StatusNotifierItemAddress item =
            service[0] == '/' ? StatusNotifierItemAddress{sender, service}
                              : StatusNotifierItemAddress{service, "/StatusNotifierItem"};
        {
            std::lock_guard lock(self->mutex);
            self->items.push_back(item);
        }
        self->changed.notify_all();
        std::string announced = item.service + item.path;
        g_dbus_connection_emit_signal(connection, nullptr, kWatcherPath, kWatcherName,
                                      "StatusNotifierItemRegistered",
                                      g_variant_new("(s)", announced.c_str()), nullptr);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* StatusNotifierWatcher::State::propertyRead(GDBusConnection*, const gchar*, const gchar*,
                                                     const gchar*, const gchar* property, GError**,
                                                     gpointer data) {
    auto* self = static_cast<State*>(data);
    if (g_strcmp0(property, "IsStatusNotifierHostRegistered") == 0) {
        return g_variant_new_boolean(TRUE);
    }
    if (g_strcmp0(property, "ProtocolVersion") == 0) return g_variant_new_int32(0);
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    std::lock_guard lock(self->mutex);
    for (const auto& item : self->items) {
        g_variant_builder_add(&builder, "s", (item.service + item.path).c_str());
    }
    return g_variant_builder_end(&builder);
}

void StatusNotifierWatcher::State::run() {
    g_main_context_push_thread_default(context);
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    guint registration = 0;
    guint ownership = 0;
    if (connection != nullptr) {
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
        static const GDBusInterfaceVTable vtable = {
            &State::methodCalled, &State::propertyRead, nullptr, {}};
        registration = g_dbus_connection_register_object(
            connection, kWatcherPath, node->interfaces[0], &vtable, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        // Exported first, then named: an item that sees the name can register at once.
        ownership = g_bus_own_name_on_connection(
            connection, kWatcherName, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
            [](GDBusConnection*, const gchar*, gpointer data) {
                auto* self = static_cast<State*>(data);
                {
                    std::lock_guard lock(self->mutex);
                    self->owned = true;
                    self->ready = true;
                }
                self->changed.notify_all();
            },
            [](GDBusConnection*, const gchar*, gpointer data) {
                auto* self = static_cast<State*>(data);
                {
                    std::lock_guard lock(self->mutex);
                    self->ready = true;
                }
                self->changed.notify_all();
            },
            this, nullptr);
    } else {
        std::lock_guard lock(mutex);
        ready = true;
        changed.notify_all();
    }
    g_main_loop_run(loop);
    if (ownership != 0) g_bus_unown_name(ownership);
    if (registration != 0) g_dbus_connection_unregister_object(connection, registration);
    if (connection != nullptr) {
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_object_unref(connection);
    }
    g_main_context_pop_thread_default(context);
}

StatusNotifierWatcher::StatusNotifierWatcher(const std::string& busAddress)
    : state_(std::make_unique<State>()) {
    state_->address = busAddress;
    state_->context = g_main_context_new();
    state_->loop = g_main_loop_new(state_->context, FALSE);
    state_->thread = std::thread([state = state_.get()] { state->run(); });
    std::unique_lock lock(state_->mutex);
    state_->changed.wait_for(lock, std::chrono::seconds(10), [&] { return state_->ready; });
    lock.unlock();
    state_->client = g_dbus_connection_new_for_address_sync(
        busAddress.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

StatusNotifierWatcher::~StatusNotifierWatcher() {
    if (state_->client != nullptr) {
        g_dbus_connection_close_sync(state_->client, nullptr, nullptr);
        g_object_unref(state_->client);
    }
    g_main_context_invoke(
        state_->context,
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        state_->loop);
    state_->thread.join();
    g_main_loop_unref(state_->loop);
    g_main_context_unref(state_->context);
}

bool StatusNotifierWatcher::started() const {
    std::lock_guard lock(state_->mutex);
    return state_->owned && state_->client != nullptr;
}

std::optional<StatusNotifierItemAddress> StatusNotifierWatcher::waitForItem(
    std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    if (!state_->changed.wait_for(lock, timeout, [&] { return !state_->items.empty(); })) {
        return std::nullopt;
    }
    return state_->items.front();
}

std::vector<StatusNotifierItemAddress> StatusNotifierWatcher::items() const {
    std::lock_guard lock(state_->mutex);
    return state_->items;
}

std::optional<std::string> StatusNotifierWatcher::itemProperty(
    const StatusNotifierItemAddress& item, const std::string& name) {
    if (state_->client == nullptr) return std::nullopt;
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        state_->client, item.service.c_str(), item.path.c_str(), "org.freedesktop.DBus.Properties",
        "Get", g_variant_new("(ss)", kItemInterface, name.c_str()), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
    if (reply == nullptr) return std::nullopt;
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(reply, "(v)", &value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
        g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH)) {
        return std::string(g_variant_get_string(value, nullptr));
    }
    return std::nullopt;
}

std::vector<StatusMenuEntry> StatusNotifierWatcher::menu(const StatusNotifierItemAddress& item) {
    std::vector<StatusMenuEntry> entries;
    auto menuPath = itemProperty(item, "Menu");
    if (!menuPath) return entries;
    const gchar* none[] = {nullptr};
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        state_->client, item.service.c_str(), menuPath->c_str(), kMenuInterface, "GetLayout",
        g_variant_new("(ii^as)", 0, -1, none), G_VARIANT_TYPE("(u(ia{sv}av))"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
    if (reply == nullptr) return entries;
    g_autoptr(GVariant) root = g_variant_get_child_value(reply, 1);
    g_autoptr(GVariant) children = g_variant_get_child_value(root, 2);
    for (gsize i = 0; i < g_variant_n_children(children); ++i) {
        g_autoptr(GVariant) boxed = g_variant_get_child_value(children, i);
        g_autoptr(GVariant) child = g_variant_get_variant(boxed);
        StatusMenuEntry entry;
        g_autoptr(GVariant) properties = nullptr;
        g_autoptr(GVariant) ignored = nullptr;
        g_variant_get(child, "(i@a{sv}@av)", &entry.id, &properties, &ignored);
        GVariantDict dict;
        g_variant_dict_init(&dict, properties);
        const gchar* text = nullptr;
        entry.type = g_variant_dict_lookup(&dict, "type", "&s", &text) ? text : "standard";
        if (g_variant_dict_lookup(&dict, "label", "&s", &text)) entry.label = text;
        if (g_variant_dict_lookup(&dict, "toggle-type", "&s", &text)) entry.toggleType = text;
        gint32 state = -1;
        if (g_variant_dict_lookup(&dict, "toggle-state", "i", &state)) entry.toggleState = state;
        g_variant_dict_clear(&dict);
        entries.push_back(entry);
    }
    return entries;
}

bool StatusNotifierWatcher::click(const StatusNotifierItemAddress& item, int id) {
    auto menuPath = itemProperty(item, "Menu");
    if (!menuPath) return false;
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        state_->client, item.service.c_str(), menuPath->c_str(), kMenuInterface, "Event",
        g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0u), nullptr,
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
    return reply != nullptr;
}

}  // namespace lumory::testing
