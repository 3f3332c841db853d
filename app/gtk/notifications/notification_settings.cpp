#include "gtk/notifications/notification_settings.h"

#include <gdk/gdk.h>
#include <gio/gdesktopappinfo.h>

#include <array>

namespace lumory::gtk {

namespace {

// Each opens straight at the notifications page of its desktop's settings.
constexpr std::array<const char*, 3> kSettingsDesktopFiles = {
    "gnome-notifications-panel.desktop",
    "kcm_notifications.desktop",
    "xfce4-notifyd-config.desktop",
};

}  // namespace

bool openNotificationSettings() {
    for (const char* name : kSettingsDesktopFiles) {
        g_autoptr(GDesktopAppInfo) info = g_desktop_app_info_new(name);
        if (info == nullptr) continue;
        GdkDisplay* display = gdk_display_get_default();
        g_autoptr(GAppLaunchContext) context =
            display ? G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display)) : nullptr;
        if (g_app_info_launch(G_APP_INFO(info), nullptr, context, nullptr)) return true;
    }
    return false;
}

}  // namespace lumory::gtk
