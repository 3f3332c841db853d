#include "gtk/system/desktop_color_scheme.h"

#include <cstring>
#include <memory>
#include <optional>

namespace lumory::gtk {

namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kSettingsInterface[] = "org.freedesktop.portal.Settings";
constexpr char kAppearanceNamespace[] = "org.freedesktop.appearance";
constexpr char kColorSchemeKey[] = "color-scheme";
constexpr char kReadOne[] = "ReadOne";
constexpr char kRead[] = "Read";
constexpr char kUnknownMethod[] = "org.freedesktop.DBus.Error.UnknownMethod";
// A portal that is running answers in milliseconds; one that hangs must not keep GNOME's
// setting from standing in for long.
constexpr int kReadTimeoutMs = 3000;

// The portal's number inside however many variants it comes in (older portals answer Read with
// a variant in a variant); nothing when it is not a number.
std::optional<std::uint32_t> colorSchemeValue(GVariant* value) {
    g_autoptr(GVariant) inner = g_variant_ref(value);
    while (g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
        GVariant* next = g_variant_get_variant(inner);
        g_variant_unref(inner);
        inner = next;
    }
    if (!g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32)) return std::nullopt;
    return g_variant_get_uint32(inner);
}

}  // namespace

// An asynchronous call's way back to an object that may be gone by the time it answers.
struct DesktopColorScheme::Pending {
    WeakHandle<DesktopColorScheme> self;
    const char* method;
};

DesktopColorScheme::DesktopColorScheme(GDBusConnection* sessionBus, std::string gnomeSchema)
    : gnomeSchema_(std::move(gnomeSchema)),
      bus_(GObjectPtr<GDBusConnection>::retain(sessionBus)),
      cancellable_(g_cancellable_new()) {}

DesktopColorScheme::~DesktopColorScheme() {
    g_cancellable_cancel(cancellable_.get());
    if (watch_ != 0) g_bus_unwatch_name(watch_);
    if (subscription_ != 0) g_dbus_connection_signal_unsubscribe(bus_.get(), subscription_);
    if (gnome_) g_signal_handlers_disconnect_by_data(gnome_.get(), this);
}

void DesktopColorScheme::follow(ColorSchemeListener& listener) {
    listener_ = &listener;
    followGnome();
    if (bus_) followPortal();
}

void DesktopColorScheme::followGnome() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) return;
    // GSettings ends the process on a schema or key it does not know: look both up first.
    g_autoptr(GSettingsSchema) schema =
        g_settings_schema_source_lookup(source, gnomeSchema_.c_str(), TRUE);
    if (schema == nullptr || !g_settings_schema_has_key(schema, kColorSchemeKey)) return;
    g_autoptr(GSettingsSchemaKey) key = g_settings_schema_get_key(schema, kColorSchemeKey);
    if (!g_variant_type_equal(g_settings_schema_key_get_value_type(key), G_VARIANT_TYPE_STRING)) {
        return;
    }
    gnome_ = GObjectPtr<GSettings>(g_settings_new_full(schema, nullptr, nullptr));
    // Connected before the first read: GSettings only announces changes of keys read since.
    g_signal_connect(gnome_.get(), "changed::color-scheme",
                     G_CALLBACK(+[](GSettings* settings, const char*, gpointer data) {
                         g_autofree char* value = g_settings_get_string(settings, kColorSchemeKey);
                         static_cast<DesktopColorScheme*>(data)->listener_->gnomeColorSchemeChanged(
                             std::string(value));
                     }),
                     this);
    g_autofree char* value = g_settings_get_string(gnome_.get(), kColorSchemeKey);
    listener_->gnomeColorSchemeChanged(std::string(value));
}

void DesktopColorScheme::followPortal() {
    GDBusConnection* bus = bus_.get();
    subscription_ = g_dbus_connection_signal_subscribe(
        bus, kPortalName, kSettingsInterface, "SettingChanged", kPortalPath, kAppearanceNamespace,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*,
           GVariant* parameters,
           gpointer self) { static_cast<DesktopColorScheme*>(self)->settingChanged(parameters); },
        this, nullptr);
    watch_ = g_bus_watch_name_on_connection(
        bus, kPortalName, G_BUS_NAME_WATCHER_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, gpointer self) {
            static_cast<DesktopColorScheme*>(self)->portalAppeared();
        },
        [](GDBusConnection*, const char*, gpointer self) {
            static_cast<DesktopColorScheme*>(self)->portalVanished();
        },
        this, nullptr);
}

void DesktopColorScheme::portalAppeared() {
    read(kReadOne);
}

void DesktopColorScheme::portalVanished() {
    listener_->portalColorSchemeChanged(std::nullopt);
}

void DesktopColorScheme::read(const char* method) {
    reading_ = true;
    changedWhileReading_ = false;
    g_dbus_connection_call(
        bus_.get(), kPortalName, kPortalPath, kSettingsInterface, method,
        g_variant_new("(ss)", kAppearanceNamespace, kColorSchemeKey), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kReadTimeoutMs, cancellable_.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
            g_autoptr(GError) error = nullptr;
            g_autoptr(GVariant) reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (DesktopColorScheme* self = pending->self.get()) {
                self->readFinished(pending->method, reply, error);
            }
        },
        new Pending{lifetime_.weak(), method});
}

void DesktopColorScheme::readFinished(const char* method, GVariant* reply, GError* error) {
    reading_ = false;
    if (reply == nullptr) {
        g_autofree char* remote = error != nullptr ? g_dbus_error_get_remote_error(error) : nullptr;
        // Portals before ReadOne have only Read.
        if (method == kReadOne && remote != nullptr && std::strcmp(remote, kUnknownMethod) == 0) {
            read(kRead);
            return;
        }
        // Not published by this portal, or no answer in time: GNOME's setting stands in.
        if (!changedWhileReading_) listener_->portalColorSchemeChanged(std::nullopt);
        return;
    }
    if (changedWhileReading_) return;
    g_autoptr(GVariant) value = g_variant_get_child_value(reply, 0);
    listener_->portalColorSchemeChanged(colorSchemeValue(value));
}

void DesktopColorScheme::settingChanged(GVariant* parameters) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
    const char* nameSpace = nullptr;
    const char* key = nullptr;
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(parameters, "(&s&sv)", &nameSpace, &key, &value);
    if (std::strcmp(nameSpace, kAppearanceNamespace) != 0 ||
        std::strcmp(key, kColorSchemeKey) != 0) {
        return;
    }
    if (reading_) changedWhileReading_ = true;
    listener_->portalColorSchemeChanged(colorSchemeValue(value));
}

}  // namespace lumory::gtk
