#pragma once

#include <gio/gio.h>

#include <optional>
#include <string>
#include <vector>

#include "gobject_ptr.h"
#include "platform/notification_server.h"

namespace lumory::gtk {

// org.freedesktop.Notifications on the session bus, answered on the default main context. The
// bus is opened on first use; without one every call answers "no server".
class DBusNotificationServer : public NotificationServer {
public:
    DBusNotificationServer();
    ~DBusNotificationServer() override;
    DBusNotificationServer(const DBusNotificationServer&) = delete;
    DBusNotificationServer& operator=(const DBusNotificationServer&) = delete;

    void setListener(NotificationServerListener* listener) override;
    void capabilities(std::function<void(std::vector<std::string>)> done) override;
    void notify(const DesktopNotification& notification,
                std::function<void(std::optional<std::uint32_t>)> done) override;
    void close(std::uint32_t id) override;
    void isAvailable(std::function<void(bool)> done) override;

private:
    bool ensureConnected();
    void nameOwnerChanged(const char* owner);
    static void signalReceived(GDBusConnection*, const char* sender, const char* path,
                               const char* interface, const char* signal, GVariant* parameters,
                               gpointer self);

    NotificationServerListener* listener_ = nullptr;
    bool connectTried_ = false;
    GObjectPtr<GDBusConnection> connection_;
    GObjectPtr<GCancellable> cancellable_;
    guint subscription_ = 0;
    guint watch_ = 0;
    std::string owner_;
    std::optional<std::vector<std::string>> capabilities_;
};

}  // namespace lumory::gtk
