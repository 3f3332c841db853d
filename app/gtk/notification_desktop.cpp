#include "notification_desktop.h"

#include <canberra-gtk.h>
#include <gio/gdesktopappinfo.h>

#include <array>

#include "notifications/desktop_notification_center.h"
#include "test_probe.h"

namespace lumory::gtk {

namespace {

// Each opens straight at the notifications page of its desktop's settings.
constexpr std::array<const char*, 3> kSettingsDesktopFiles = {
    "gnome-notifications-panel.desktop",
    "kcm_notifications.desktop",
    "xfce4-notifyd-config.desktop",
};

}  // namespace

void playNotificationSound(GtkWindow* window) {
    std::string sound(kNotificationSoundName);
    if (window != nullptr) {
        ca_gtk_play_for_widget(GTK_WIDGET(window), 0, CA_PROP_EVENT_ID, sound.c_str(),
                               CA_PROP_EVENT_DESCRIPTION, "Task reminder", nullptr);
    } else {
        ca_context_play(ca_gtk_context_get(), 0, CA_PROP_EVENT_ID, sound.c_str(),
                        CA_PROP_EVENT_DESCRIPTION, "Task reminder", nullptr);
    }
    if (testProbeEnabled()) emitTestProbe({{"event", "event-sound"}, {"sound", sound}});
}

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
