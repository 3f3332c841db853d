#include "gtk/notifications/dbus_notification_server.h"

#include <memory>

namespace lumory::gtk {

namespace {

constexpr char kName[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 25000;

// One asynchronous call's answer; dropped unanswered when the server object went away
// (its cancellable was cancelled).
template <typename Done>
struct Pending {
    Done done;
};

template <typename Done>
gpointer pending(Done done) {
    return new Pending<Done>{std::move(done)};
}

// The reply of a finished call, or nothing; false when the call was cancelled.
bool finish(GObject* source, GAsyncResult* result, GVariant** reply) {
    GError* error = nullptr;
    *reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (error == nullptr) return true;
    bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    g_error_free(error);
    return !cancelled;
}

}  // namespace

DBusNotificationServer::DBusNotificationServer() : cancellable_(g_cancellable_new()) {}

DBusNotificationServer::~DBusNotificationServer() {
    g_cancellable_cancel(cancellable_.get());
    if (watch_ != 0) g_bus_unwatch_name(watch_);
    if (subscription_ != 0) g_dbus_connection_signal_unsubscribe(connection_.get(), subscription_);
}

void DBusNotificationServer::setListener(NotificationServerListener* listener) {
    listener_ = listener;
}

bool DBusNotificationServer::ensureConnected() {
    if (connectTried_) return static_cast<bool>(connection_);
    connectTried_ = true;
    // The application has this connection open already; this only shares it.
    connection_ = GObjectPtr<GDBusConnection>(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!connection_) return false;
    // Subscribed before any Notify: a server may invoke an action before its reply is read.
    subscription_ = g_dbus_connection_signal_subscribe(
        connection_.get(), kName, kInterface, nullptr, kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &DBusNotificationServer::signalReceived, this, nullptr);
    watch_ = g_bus_watch_name_on_connection(
        connection_.get(), kName, G_BUS_NAME_WATCHER_FLAGS_NONE,
        +[](GDBusConnection*, const char*, const char* owner, gpointer self) {
            static_cast<DBusNotificationServer*>(self)->nameOwnerChanged(owner);
        },
        +[](GDBusConnection*, const char*, gpointer self) {
            static_cast<DBusNotificationServer*>(self)->nameOwnerChanged(nullptr);
        },
        this, nullptr);
    return true;
}

void DBusNotificationServer::nameOwnerChanged(const char* owner) {
    std::string now = owner ? owner : "";
    if (now == owner_) return;
    owner_ = now;
    capabilities_.reset();
    if (listener_) listener_->serverChanged(!owner_.empty());
}

void DBusNotificationServer::signalReceived(GDBusConnection*, const char*, const char*, const char*,
                                            const char* signal, GVariant* parameters,
                                            gpointer data) {
    auto* self = static_cast<DBusNotificationServer*>(data);
    if (self->listener_ == nullptr) return;
    std::string_view name = signal;
    if (name == "ActionInvoked" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
        guint32 id = 0;
        const char* key = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &key);
        self->listener_->actionInvoked(id, key);
    } else if (name == "ActivationToken" &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
        guint32 id = 0;
        const char* token = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &token);
        self->listener_->activationToken(id, token);
    } else if (name == "NotificationClosed" &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
        guint32 id = 0;
        guint32 reason = 0;
        g_variant_get(parameters, "(uu)", &id, &reason);
        self->listener_->notificationClosed(id);
    }
}

void DBusNotificationServer::capabilities(std::function<void(std::vector<std::string>)> done) {
    if (!ensureConnected()) {
        done({});
        return;
    }
    if (capabilities_) {
        done(*capabilities_);
        return;
    }
    using Done = std::function<void(std::vector<std::string>)>;
    struct Call {
        DBusNotificationServer* self;
        Done done;
    };
    g_dbus_connection_call(
        connection_.get(), kName, kPath, kInterface, "GetCapabilities", nullptr,
        G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable_.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            GVariant* reply = nullptr;
            if (!finish(source, result, &reply)) return;
            std::vector<std::string> found;
            if (reply != nullptr) {
                g_autoptr(GVariantIter) iter = nullptr;
                const char* capability = nullptr;
                g_variant_get(reply, "(as)", &iter);
                while (g_variant_iter_next(iter, "&s", &capability)) found.emplace_back(capability);
                g_variant_unref(reply);
                call->self->capabilities_ = found;
            }
            call->done(std::move(found));
        },
        new Call{this, std::move(done)});
}

void DBusNotificationServer::notify(const DesktopNotification& notification,
                                    std::function<void(std::optional<std::uint32_t>)> done) {
    if (!ensureConnected()) {
        done(std::nullopt);
        return;
    }
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    for (const NotificationAction& action : notification.actions) {
        g_variant_builder_add(&actions, "s", action.identifier.c_str());
        g_variant_builder_add(&actions, "s", action.title.c_str());
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    if (!notification.desktopEntry.empty()) {
        g_variant_builder_add(&hints, "{sv}", "desktop-entry",
                              g_variant_new_string(notification.desktopEntry.c_str()));
    }
    if (!notification.soundName.empty()) {
        g_variant_builder_add(&hints, "{sv}", "sound-name",
                              g_variant_new_string(notification.soundName.c_str()));
    }
    if (notification.suppressSound) {
        g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
    }
    GVariant* parameters =
        g_variant_new("(susssasa{sv}i)", notification.appName.c_str(), notification.replacesId,
                      notification.appIcon.c_str(), notification.summary.c_str(),
                      notification.body.c_str(), &actions, &hints, -1);
    using Done = std::function<void(std::optional<std::uint32_t>)>;
    g_dbus_connection_call(
        connection_.get(), kName, kPath, kInterface, "Notify", parameters, G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable_.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Pending<Done>> call(static_cast<Pending<Done>*>(data));
            GVariant* reply = nullptr;
            if (!finish(source, result, &reply)) return;
            if (reply == nullptr) {
                call->done(std::nullopt);
                return;
            }
            guint32 id = 0;
            g_variant_get(reply, "(u)", &id);
            g_variant_unref(reply);
            call->done(id);
        },
        pending(Done(std::move(done))));
}

void DBusNotificationServer::close(std::uint32_t id) {
    if (!ensureConnected()) return;
    g_dbus_connection_call(connection_.get(), kName, kPath, kInterface, "CloseNotification",
                           g_variant_new("(u)", id), nullptr, G_DBUS_CALL_FLAGS_NONE,
                           kCallTimeoutMs, cancellable_.get(), nullptr, nullptr);
}

void DBusNotificationServer::isAvailable(std::function<void(bool)> done) {
    if (!ensureConnected()) {
        done(false);
        return;
    }
    using Done = std::function<void(bool)>;
    // Asked afresh each time: the watcher may not have heard from the bus yet.
    g_dbus_connection_call(
        connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE,
        kCallTimeoutMs, cancellable_.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Pending<Done>> call(static_cast<Pending<Done>*>(data));
            GVariant* reply = nullptr;
            if (!finish(source, result, &reply)) return;
            bool activatable = false;
            if (reply != nullptr) {
                g_autoptr(GVariantIter) iter = nullptr;
                const char* name = nullptr;
                g_variant_get(reply, "(as)", &iter);
                while (g_variant_iter_next(iter, "&s", &name)) {
                    if (std::string_view(name) == kName) activatable = true;
                }
                g_variant_unref(reply);
            }
            if (activatable) {
                call->done(true);
                return;
            }
            GDBusConnection* connection = G_DBUS_CONNECTION(source);
            g_dbus_connection_call(
                connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "NameHasOwner", g_variant_new("(s)", kName), G_VARIANT_TYPE("(b)"),
                G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr,
                +[](GObject* source, GAsyncResult* result, gpointer data) {
                    std::unique_ptr<Pending<Done>> call(static_cast<Pending<Done>*>(data));
                    GVariant* reply = nullptr;
                    if (!finish(source, result, &reply)) return;
                    gboolean owned = FALSE;
                    if (reply != nullptr) {
                        g_variant_get(reply, "(b)", &owned);
                        g_variant_unref(reply);
                    }
                    call->done(owned);
                },
                call.release());
        },
        pending(Done(std::move(done))));
}

}  // namespace lumory::gtk
