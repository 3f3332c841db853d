#include "dbus/notification_test_server.h"

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

const GDBusInterfaceVTable kVTable = {&methodCall, nullptr, nullptr, {}};

constexpr guint32 kClosedByCall = 3;
constexpr guint32 kDismissedByUser = 2;

}  // namespace

NotificationTestServer::NotificationTestServer(const std::string& busAddress,
                                               std::vector<std::string> capabilities)
    : capabilities_(std::move(capabilities)),
      service_(busAddress, kName, kPath, kIntrospection, kVTable, this) {}

void NotificationTestServer::methodCalled(const char* method, GVariant* parameters,
                                          GDBusMethodInvocation* invocation) {
    std::string_view name = method;
    if (name == "Notify") {
        Notification notification;
        notification.arrived = std::chrono::steady_clock::now();
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
            std::lock_guard lock(mutex_);
            notification.id = notification.replacesId != 0 ? notification.replacesId : nextId_++;
            notifications_.push_back(notification);
        }
        changed_.notify_all();
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", notification.id));
    } else if (name == "CloseNotification") {
        guint32 id = 0;
        g_variant_get(parameters, "(u)", &id);
        {
            std::lock_guard lock(mutex_);
            closed_.push_back(id);
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
        emit("NotificationClosed", g_variant_new("(uu)", id, kClosedByCall));
    } else if (name == "GetCapabilities") {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
        for (const std::string& capability : capabilities_) {
            g_variant_builder_add(&builder, "s", capability.c_str());
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &builder));
    } else if (name == "GetServerInformation") {
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(ssss)", "lumory-test", "lumory", "1", "1.2"));
    }
}

void NotificationTestServer::emit(const char* signal, GVariant* parameters) {
    // GDBusConnection is safe to use from the test's thread as well.
    g_dbus_connection_emit_signal(service_.connection(), nullptr, kPath, kInterface, signal,
                                  parameters, nullptr);
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
    if (service_.connection() == nullptr) return;
    if (!token.empty()) emit("ActivationToken", g_variant_new("(us)", id, token.c_str()));
    emit("ActionInvoked", g_variant_new("(us)", id, actionKey.c_str()));
    emit("NotificationClosed", g_variant_new("(uu)", id, kDismissedByUser));
}

}  // namespace lumory::testing
