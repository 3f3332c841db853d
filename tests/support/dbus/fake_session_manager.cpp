#include "dbus/fake_session_manager.h"

namespace lumory::testing {

namespace {

constexpr char kManagerXml[] = R"(<node>
  <interface name="org.gnome.SessionManager">
    <method name="RegisterClient">
      <arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="o" direction="out"/>
    </method>
    <method name="Inhibit">
      <arg type="s" direction="in"/><arg type="u" direction="in"/>
      <arg type="s" direction="in"/><arg type="u" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="Uninhibit"><arg type="u" direction="in"/></method>
    <method name="IsInhibited">
      <arg type="u" direction="in"/><arg type="b" direction="out"/>
    </method>
  </interface>
</node>)";

constexpr char kClientXml[] = R"(<node>
  <interface name="org.gnome.SessionManager.ClientPrivate">
    <method name="EndSessionResponse">
      <arg type="b" direction="in"/><arg type="s" direction="in"/>
    </method>
    <signal name="QueryEndSession"><arg type="u"/></signal>
    <signal name="EndSession"><arg type="u"/></signal>
    <signal name="CancelEndSession"/>
    <signal name="Stop"/>
  </interface>
</node>)";

const GDBusInterfaceVTable kVTable = {&FakeSessionManager::methodCalled, nullptr, nullptr, {}};

}  // namespace

FakeSessionManager::FakeSessionManager(const std::string& busAddress)
    : service_(busAddress, "org.gnome.SessionManager", "/org/gnome/SessionManager", kManagerXml,
               kVTable, this) {}

void FakeSessionManager::methodCalled(GDBusConnection* connection, const gchar*, const gchar* path,
                                      const gchar*, const gchar* method, GVariant* parameters,
                                      GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<FakeSessionManager*>(data);
    std::unique_lock lock(self->mutex_);
    std::string name = method;
    if (name == "RegisterClient") {
        const gchar* appId = nullptr;
        const gchar* startupId = nullptr;
        g_variant_get(parameters, "(&s&s)", &appId, &startupId);
        std::string clientPath =
            "/org/gnome/SessionManager/Client" + std::to_string(self->clientPaths_.size() + 1);
        GDBusNodeInfo* client = g_dbus_node_info_new_for_xml(kClientXml, nullptr);
        g_dbus_connection_register_object(connection, clientPath.c_str(), client->interfaces[0],
                                          &kVTable, self, nullptr, nullptr);
        g_dbus_node_info_unref(client);
        self->clientPaths_.push_back(clientPath);
        self->clientApps_[clientPath] = appId;
        self->log_.push_back(std::string("register:") + appId);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", clientPath.c_str()));
    } else if (name == "Inhibit") {
        const gchar* appId = nullptr;
        const gchar* reason = nullptr;
        guint32 xid = 0, flags = 0;
        g_variant_get(parameters, "(&su&su)", &appId, &xid, &reason, &flags);
        Inhibition inhibition{appId, reason, flags, self->nextCookie_++, false};
        self->inhibitions_.push_back(inhibition);
        self->log_.push_back("inhibit:" + std::to_string(inhibition.cookie) + ":" +
                             std::to_string(flags) + ":" + reason);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", inhibition.cookie));
    } else if (name == "Uninhibit") {
        guint32 cookie = 0;
        g_variant_get(parameters, "(u)", &cookie);
        for (Inhibition& inhibition : self->inhibitions_) {
            if (inhibition.cookie == cookie) inhibition.released = true;
        }
        self->log_.push_back("uninhibit:" + std::to_string(cookie));
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (name == "IsInhibited") {
        guint32 flags = 0;
        g_variant_get(parameters, "(u)", &flags);
        bool inhibited = false;
        for (const Inhibition& inhibition : self->inhibitions_) {
            inhibited = inhibited || (!inhibition.released && (inhibition.flags & flags) != 0);
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", inhibited));
    } else if (name == "EndSessionResponse") {
        gboolean ok = FALSE;
        const gchar* reason = nullptr;
        g_variant_get(parameters, "(b&s)", &ok, &reason);
        self->log_.push_back("response:" + self->clientApps_[path] + (ok ? ":true" : ":false"));
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else {
        g_dbus_method_invocation_return_dbus_error(invocation,
                                                   "org.freedesktop.DBus.Error.UnknownMethod",
                                                   ("No method " + name + " at " + path).c_str());
    }
    lock.unlock();
    self->changed_.notify_all();
}

std::vector<std::string> FakeSessionManager::log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<FakeSessionManager::Inhibition> FakeSessionManager::inhibitions() const {
    std::lock_guard lock(mutex_);
    return inhibitions_;
}

bool FakeSessionManager::waitFor(const std::function<bool(const std::vector<std::string>&)>& done,
                                 std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(log_); });
}

void FakeSessionManager::emitToClients(const char* signal, GVariant* parameters) {
    std::vector<std::string> paths;
    {
        std::lock_guard lock(mutex_);
        paths = clientPaths_;
    }
    g_variant_ref_sink(parameters);
    for (const std::string& path : paths) {
        g_dbus_connection_emit_signal(service_.connection(), nullptr, path.c_str(),
                                      "org.gnome.SessionManager.ClientPrivate", signal, parameters,
                                      nullptr);
    }
    g_dbus_connection_flush_sync(service_.connection(), nullptr, nullptr);
    g_variant_unref(parameters);
}

void FakeSessionManager::queryEndSession() {
    emitToClients("QueryEndSession", g_variant_new("(u)", 0u));
}

void FakeSessionManager::endSession() {
    emitToClients("EndSession", g_variant_new("(u)", 0u));
}

}  // namespace lumory::testing
