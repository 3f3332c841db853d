#include "dbus/settings_portal.h"

#include <cstring>

namespace lumory::testing {

namespace {

constexpr char kPortalXml[] = R"(<node>
  <interface name="org.freedesktop.portal.Settings">
    <method name="ReadAll">
      <arg type="as" direction="in"/><arg type="a{sa{sv}}" direction="out"/>
    </method>
    <method name="Read">
      <arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="v" direction="out"/>
    </method>
    <method name="ReadOne">
      <arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="v" direction="out"/>
    </method>
    <signal name="SettingChanged">
      <arg type="s"/><arg type="s"/><arg type="v"/>
    </signal>
  </interface>
</node>)";

// Portals before ReadOne: GDBus answers UnknownMethod for what the interface lacks.
constexpr char kOlderPortalXml[] = R"(<node>
  <interface name="org.freedesktop.portal.Settings">
    <method name="Read">
      <arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="v" direction="out"/>
    </method>
    <signal name="SettingChanged">
      <arg type="s"/><arg type="s"/><arg type="v"/>
    </signal>
  </interface>
</node>)";

const GDBusInterfaceVTable kVTable = {&SettingsPortal::methodCalled, nullptr, nullptr, {}};

constexpr char kPath[] = "/org/freedesktop/portal/desktop";
constexpr char kInterface[] = "org.freedesktop.portal.Settings";

}  // namespace

SettingsPortal::SettingsPortal(const std::string& busAddress, std::uint32_t colorScheme,
                               Answers answers)
    : colorScheme_(colorScheme),
      answers_(answers),
      service_(busAddress, "org.freedesktop.portal.Desktop", kPath,
               answers == Answers::readOnly ? kOlderPortalXml : kPortalXml, kVTable, this) {}

SettingsPortal::~SettingsPortal() {
    std::lock_guard lock(mutex_);
    for (GDBusMethodInvocation* invocation : unanswered_) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed",
                                                   "The portal is going away");
    }
}

void SettingsPortal::methodCalled(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                  const gchar* method, GVariant* parameters,
                                  GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<SettingsPortal*>(data);
    std::unique_lock lock(self->mutex_);
    self->calls_.emplace_back(method);
    const gchar* nameSpace = "";
    const gchar* key = "";
    if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ss)"))) {
        g_variant_get(parameters, "(&s&s)", &nameSpace, &key);
    }
    bool known = std::strcmp(nameSpace, "org.freedesktop.appearance") == 0 &&
                 std::strcmp(key, "color-scheme") == 0;
    if (self->answers_ == Answers::never) {
        self->unanswered_.push_back(invocation);
    } else if (std::strcmp(method, "ReadAll") == 0) {
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.DBus.Error.NotSupported", "Not in this stand-in");
    } else if (!known || self->answers_ == Answers::notPublished) {
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.portal.Error.NotFound", "Requested setting not found");
    } else if (std::strcmp(method, "ReadOne") == 0) {
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(v)", g_variant_new_uint32(self->colorScheme_)));
    } else {
        g_dbus_method_invocation_return_value(
            invocation,
            g_variant_new("(v)", g_variant_new_variant(g_variant_new_uint32(self->colorScheme_))));
    }
    lock.unlock();
    self->changed_.notify_all();
}

void SettingsPortal::setColorScheme(std::uint32_t value) {
    {
        std::lock_guard lock(mutex_);
        colorScheme_ = value;
    }
    announce("org.freedesktop.appearance", "color-scheme", value);
}

void SettingsPortal::announce(const std::string& nameSpace, const std::string& key,
                              std::uint32_t value) {
    GDBusConnection* connection = service_.connection();
    if (connection == nullptr) return;
    g_dbus_connection_emit_signal(
        connection, nullptr, kPath, kInterface, "SettingChanged",
        g_variant_new("(ssv)", nameSpace.c_str(), key.c_str(), g_variant_new_uint32(value)),
        nullptr);
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
}

std::vector<std::string> SettingsPortal::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

bool SettingsPortal::waitForCalls(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return calls_.size() >= count; });
}

}  // namespace lumory::testing
