#include "dbus/bus_service_thread.h"

namespace lumory::testing {

namespace {

constexpr int kCallTimeoutMs = 5000;
constexpr guint32 kDoNotQueue = 4;
constexpr guint32 kPrimaryOwner = 1;

}  // namespace

GDBusConnection* connectToBus(const std::string& address) {
    return g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

bool requestName(GDBusConnection* connection, const std::string& name) {
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", name.c_str(), kDoNotQueue), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
    if (reply == nullptr) return false;
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    return result == kPrimaryOwner;
}

BusServiceThread::BusServiceThread(const std::string& busAddress, const std::string& name,
                                   const std::string& path, const char* introspectionXml,
                                   const GDBusInterfaceVTable& vtable, gpointer userData)
    : thread_(
          [=, this, &vtable] {
              return exportAndOwn(busAddress, name, path, introspectionXml, vtable, userData);
          },
          [this] { leave(); }) {}

bool BusServiceThread::exportAndOwn(const std::string& busAddress, const std::string& name,
                                    const std::string& path, const char* introspectionXml,
                                    const GDBusInterfaceVTable& vtable, gpointer userData) {
    GDBusConnection* connection = connectToBus(busAddress);
    if (connection == nullptr) return false;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspectionXml, nullptr);
    const guint registration = g_dbus_connection_register_object(
        connection, path.c_str(), node->interfaces[0], &vtable, userData, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    const bool owned = registration != 0 && requestName(connection, name);
    std::lock_guard lock(mutex_);
    connection_ = connection;
    registration_ = registration;
    owned_ = owned;
    return true;
}

void BusServiceThread::leave() {
    std::lock_guard lock(mutex_);
    if (connection_ == nullptr) return;
    if (registration_ != 0) g_dbus_connection_unregister_object(connection_, registration_);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_clear_object(&connection_);
}

bool BusServiceThread::started() const {
    std::lock_guard lock(mutex_);
    return owned_;
}

GDBusConnection* BusServiceThread::connection() const {
    std::lock_guard lock(mutex_);
    return connection_;
}

}  // namespace lumory::testing
