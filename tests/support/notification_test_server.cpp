#include "notification_test_server.h"

#include <gio/gio.h>

namespace lumory::testing {

namespace {

constexpr char kName[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kIntrospection[] = R"(
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
    <signal name="ActivationToken"><arg type="u"/><arg type="s"/></signal>
  </interface>
</node>)";

void methodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
    static_cast<NotificationTestServer*>(self)->methodCalled(method, parameters, invocation);
}

constexpr guint32 kClosedByCall = 3;
constexpr guint32 kDismissedByUser = 2;

}  // namespace

NotificationTestServer::NotificationTestServer(std::string busAddress,
                                               std::vector<std::string> capabilities)
    : address_(std::move(busAddress)), capabilities_(std::move(capabilities)) {
    thread_ = std::thread([this] { run(); });
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [this] { return ready_; });
}

NotificationTestServer::~NotificationTestServer() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [this] { return ready_; });
    }
    if (loop_ != nullptr) {
        g_main_context_invoke(
            static_cast<GMainContext*>(context_),
            +[](gpointer loop) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            loop_);
    }
    if (thread_.joinable()) thread_.join();
}

void NotificationTestServer::run() {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    guint registration = 0;
    bool owned = false;
    if (connection != nullptr) {
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
        static const GDBusInterfaceVTable vtable = {&methodCall, nullptr, nullptr, {}};
        // The object first, then the name: a client that sees the name can call at once.
        registration = g_dbus_connection_register_object(connection, kPath, node->interfaces[0],
                                                         &vtable, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        GVariant* reply = g_dbus_connection_call_sync(
            connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", kName, 4u /* DO_NOT_QUEUE */),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply != nullptr) {
            guint32 result = 0;
            g_variant_get(reply, "(u)", &result);
            owned = result == 1;  // primary owner
            g_variant_unref(reply);
        }
    }
    {
        std::lock_guard lock(mutex_);
        context_ = context;
        loop_ = loop;
        connection_ = connection;
        started_ = owned;
        ready_ = true;
    }
    changed_.notify_all();
    if (connection != nullptr) g_main_loop_run(loop);
    if (registration != 0) g_dbus_connection_unregister_object(connection, registration);
    if (connection != nullptr) {
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_object_unref(connection);
    }
    g_main_loop_unref(loop);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
}

void NotificationTestServer::methodCalled(const char* method, void* parameterData,
                                          void* invocationData) {
    auto* self = this;
    auto* parameters = static_cast<GVariant*>(parameterData);
    auto* invocation = static_cast<GDBusMethodInvocation*>(invocationData);
    std::string_view name = method;
    if (name == "Notify") {
        Notification notification;
        const char *appName, *icon, *summary, *body;
        GVariantIter* actions = nullptr;
        GVariantIter* hints = nullptr;
        g_variant_get(parameters, "(&su&s&s&sasa{sv}i)", &appName, &notification.replacesId, &icon,
                      &summary, &body, &actions, &hints, &notification.expireTimeout);
        notification.appName = appName;
        notification.appIcon = icon;
        notification.summary = summary;
        notification.body = body;
        const char* action = nullptr;
        while (g_variant_iter_next(actions, "&s", &action))
            notification.actions.emplace_back(action);
        const char* key = nullptr;
        GVariant* value = nullptr;
        while (g_variant_iter_next(hints, "{&sv}", &key, &value)) {
            gchar* text = g_variant_print(value, FALSE);
            notification.hints[key] = text;
            g_free(text);
            g_variant_unref(value);
        }
        g_variant_iter_free(actions);
        g_variant_iter_free(hints);
        {
            std::lock_guard lock(self->mutex_);
            notification.id =
                notification.replacesId != 0 ? notification.replacesId : self->nextId_++;
            self->notifications_.push_back(notification);
        }
        self->changed_.notify_all();
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", notification.id));
    } else if (name == "CloseNotification") {
        guint32 id = 0;
        g_variant_get(parameters, "(u)", &id);
        {
            std::lock_guard lock(self->mutex_);
            self->closed_.push_back(id);
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
        self->emit("NotificationClosed", g_variant_new("(uu)", id, kClosedByCall));
    } else if (name == "GetCapabilities") {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
        for (const std::string& capability : self->capabilities_) {
            g_variant_builder_add(&builder, "s", capability.c_str());
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &builder));
    } else if (name == "GetServerInformation") {
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(ssss)", "lumory-test", "lumory", "1", "1.2"));
    }
}

void NotificationTestServer::emit(const char* signal, void* parameters) {
    // GDBusConnection is safe to use from the test's thread as well.
    g_dbus_connection_emit_signal(static_cast<GDBusConnection*>(connection_), nullptr, kPath,
                                  kInterface, signal, static_cast<GVariant*>(parameters), nullptr);
}

std::optional<NotificationTestServer::Notification> NotificationTestServer::waitForNotify(
    const std::function<bool(const Notification&)>& wanted, std::chrono::milliseconds timeout,
    size_t from) {
    std::unique_lock lock(mutex_);
    std::optional<Notification> found;
    changed_.wait_for(lock, timeout, [&] {
        for (size_t index = from; index < notifications_.size(); ++index) {
            if (wanted(notifications_[index])) {
                found = notifications_[index];
                return true;
            }
        }
        return false;
    });
    return found;
}

std::vector<NotificationTestServer::Notification> NotificationTestServer::notifications() const {
    std::lock_guard lock(mutex_);
    return notifications_;
}

std::vector<std::uint32_t> NotificationTestServer::closedByClient() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void NotificationTestServer::invokeAction(std::uint32_t id, const std::string& actionKey,
                                          const std::string& token) {
    if (connection_ == nullptr) return;
    if (!token.empty()) emit("ActivationToken", g_variant_new("(us)", id, token.c_str()));
    emit("ActionInvoked", g_variant_new("(us)", id, actionKey.c_str()));
    emit("NotificationClosed", g_variant_new("(uu)", id, kDismissedByUser));
}

}  // namespace lumory::testing
