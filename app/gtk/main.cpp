// The shell's entry point: one GtkApplication; launching again while it runs brings the main
// window forward instead of starting a second shell.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <memory>

#include "app_delegate.h"
#include "dbus_notification_server.h"
#include "gio_service_launcher.h"
#include "glib_host_system.h"
#include "gtk_alerts.h"
#include "gtk_desktop.h"
#include "gtk_main_queue.h"
#include "keyfile_defaults_store.h"
#include "notification_desktop.h"
#include "reminders/desktop_notification_center.h"
#include "soup_http_client.h"
#include "system_clock.h"
#include "test_probe.h"
#include "timerfd_wall_clock_alarm.h"

namespace {

constexpr char kApplicationId[] = "org.lumory.Lumory";

std::string settingsPath() {
    g_autofree char* path =
        g_build_filename(g_get_user_config_dir(), "lumory", "settings.ini", nullptr);
    return path;
}

struct Shell {
    explicit Shell(GtkApplication* application)
        : desktop(application),
          alerts([this] { return desktop.mainGtkWindow(); }),
          defaults(settingsPath()),
          notificationCenter(notificationServer, alarm, clock, mainQueue, notificationHooks()) {}

    lumory::NotificationCenterHooks notificationHooks() {
        lumory::NotificationCenterHooks hooks;
        hooks.applicationIsActive = [this] {
            GtkWindow* window = desktop.mainGtkWindow();
            return window != nullptr && gtk_window_is_active(window);
        };
        hooks.playEventSound = [this] {
            lumory::gtk::playNotificationSound(desktop.mainGtkWindow());
        };
        hooks.openSettings = [] { return lumory::gtk::openNotificationSettings(); };
        if (lumory::gtk::testProbeEnabled()) {
            hooks.requestAdded = [this](const lumory::NotificationRequest& request) {
                auto in = std::chrono::duration_cast<std::chrono::milliseconds>(request.due -
                                                                                clock.now());
                lumory::gtk::emitTestProbe({{"event", "notification-added"},
                                            {"identifier", request.identifier},
                                            {"inMs", in.count()},
                                            {"userInfo", request.content.userInfo}});
            };
        }
        return hooks;
    }

    lumory::gtk::GtkDesktop desktop;
    lumory::gtk::GioServiceLauncher serviceLauncher;
    lumory::gtk::GtkMainQueue mainQueue;
    lumory::gtk::GlibHostSystem system;
    lumory::gtk::GtkAlerts alerts;
    lumory::gtk::SoupHttpClient http;
    lumory::gtk::KeyFileDefaultsStore defaults;
    lumory::gtk::SystemClock clock;
    lumory::gtk::DBusNotificationServer notificationServer;
    lumory::gtk::TimerfdWallClockAlarm alarm;
    lumory::DesktopNotificationCenter notificationCenter;
    std::unique_ptr<lumory::AppDelegate> delegate;
};

void activated(GApplication* application, gpointer data) {
    auto* shell = static_cast<Shell*>(data);
    if (shell->delegate) {
        shell->delegate->applicationShouldHandleReopen();
        return;
    }
    shell->delegate = std::make_unique<lumory::AppDelegate>(lumory::AppPlatform{
        shell->desktop, shell->serviceLauncher, shell->mainQueue, shell->system, shell->alerts,
        shell->notificationCenter, shell->http, shell->defaults, shell->clock});
    // The windows keep the application running; this hold covers the moment before they exist.
    g_application_hold(application);
    shell->delegate->applicationDidFinishLaunching();
    g_application_release(application);
}

void shuttingDown(GApplication*, gpointer data) {
    auto* shell = static_cast<Shell*>(data);
    if (shell->delegate) shell->delegate->applicationWillTerminate();
}

gboolean terminationRequested(gpointer data) {
    auto* shell = static_cast<Shell*>(data);
    if (shell->delegate) {
        shell->delegate->requestTermination();
    } else {
        shell->desktop.terminate();
    }
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    GtkApplication* application = gtk_application_new(kApplicationId, G_APPLICATION_DEFAULT_FLAGS);
    int status = 0;
    {
        Shell shell(application);
        g_signal_connect(application, "activate", G_CALLBACK(activated), &shell);
        g_signal_connect(application, "shutdown", G_CALLBACK(shuttingDown), &shell);
        // The session ending or a plain `kill` goes through the same quit as the menu.
        guint terminateSource = g_unix_signal_add(SIGTERM, terminationRequested, &shell);
        guint hangUpSource = g_unix_signal_add(SIGHUP, terminationRequested, &shell);
        guint interruptSource = g_unix_signal_add(SIGINT, terminationRequested, &shell);
        status = g_application_run(G_APPLICATION(application), argc, argv);
        g_source_remove(terminateSource);
        g_source_remove(hangUpSource);
        g_source_remove(interruptSource);
        shell.delegate.reset();
    }
    g_object_unref(application);
    return status;
}
