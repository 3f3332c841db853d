#include "dbus/status_notifier_watcher.h"

#include <condition_variable>
#include <mutex>

#include "dbus/bus_service_thread.h"

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
    explicit State(const std::string& address);

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<StatusNotifierItemAddress> items;
    // The status area's own connection, for its calls on the items.
    GDBusConnection* client = nullptr;

    static void methodCalled(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                             const gchar* method, GVariant* parameters,
                             GDBusMethodInvocation* invocation, gpointer data);
    static GVariant* propertyRead(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                  const gchar* property, GError**, gpointer data);
    static const GDBusInterfaceVTable kVTable;

    // Last: it stops answering before the state its calls use goes.
    BusServiceThread service;
};

const GDBusInterfaceVTable StatusNotifierWatcher::State::kVTable = {
    &State::methodCalled, &State::propertyRead, nullptr, {}};

StatusNotifierWatcher::State::State(const std::string& address)
    : service(address, kWatcherName, kWatcherPath, kWatcherXml, kVTable, this) {}

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

StatusNotifierWatcher::StatusNotifierWatcher(const std::string& busAddress)
    : state_(std::make_unique<State>(busAddress)) {
    state_->client = connectToBus(busAddress);
}

StatusNotifierWatcher::~StatusNotifierWatcher() {
    if (state_->client != nullptr) {
        g_dbus_connection_close_sync(state_->client, nullptr, nullptr);
        g_object_unref(state_->client);
    }
}

bool StatusNotifierWatcher::started() const {
    return state_->service.started() && state_->client != nullptr;
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
