// The shell's entry point: the GTK side of every platform interface, handed to the shell when
// the application is first activated.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <memory>
#include <string>

#include "appearance/desktop_appearance.h"
#include "gtk/desktop/gtk_desktop.h"
#include "gtk/desktop/gtk_dialogs.h"
#include "gtk/desktop/single_instance_application.h"
#include "gtk/notifications/dbus_notification_server.h"
#include "gtk/notifications/event_sound.h"
#include "gtk/notifications/notification_settings.h"
#include "gtk/notifications/timerfd_wall_clock_alarm.h"
#include "gtk/system/desktop_color_scheme.h"
#include "gtk/system/display_backend.h"
#include "gtk/system/gio_service_launcher.h"
#include "gtk/system/glib_host_system.h"
#include "gtk/system/gtk_dark_style.h"
#include "gtk/system/gtk_main_queue.h"
#include "gtk/system/keyfile_settings_store.h"
#include "gtk/system/portal_warning_filter.h"
#include "gtk/system/soup_http_client.h"
#include "gtk/system/system_clock.h"
#include "gtk/system/terminal_signals.h"
#include "gtk/test_probe.h"
#include "notifications/desktop_notification_center.h"
#include "shell/shell.h"

namespace {

constexpr char kApplicationId[] = "org.lumory.Lumory";

std::string settingsPath() {
    g_autofree char* path =
        g_build_filename(g_get_user_config_dir(), "lumory", "settings.ini", nullptr);
    return path;
}

// The desktop's light or dark style, followed from before the first window opens.
struct Appearance {
    // The application's own connection: no second connection, and none at all without a bus.
    explicit Appearance(GApplication* application)
        : sources(g_application_get_dbus_connection(application)) {
        sources.follow(appearance);
    }

    lumory::gtk::GtkDarkStyle style;
    lumory::DesktopAppearance appearance{style};
    // Last: it stops reporting before what it reports to goes.
    lumory::gtk::DesktopColorScheme sources;
};

struct Platform {
    explicit Platform(GtkApplication* application)
        : desktop(application),
          dialogs([this] { return desktop.mainGtkWindow(); }),
          settings(settingsPath()),
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
    lumory::gtk::GtkDialogs dialogs;
    lumory::gtk::SoupHttpClient http;
    lumory::gtk::KeyFileSettingsStore settings;
    lumory::gtk::SystemClock clock;
    lumory::gtk::DBusNotificationServer notificationServer;
    lumory::gtk::TimerfdWallClockAlarm alarm;
    lumory::DesktopNotificationCenter notificationCenter;
    std::unique_ptr<Appearance> appearance;
    std::unique_ptr<lumory::Shell> shell;
};

// Windows and the About dialog show Lumory's icon also when the shell runs from a build or
// install tree whose share folder the desktop does not search: ../share/icons beside bin/.
void useOwnIcon() {
    g_autofree char* executable = g_file_read_link("/proc/self/exe", nullptr);
    if (executable != nullptr) {
        g_autofree char* folder = g_path_get_dirname(executable);
        g_autofree char* icons = g_build_filename(folder, "..", "share", "icons", nullptr);
        gtk_icon_theme_append_search_path(gtk_icon_theme_get_default(), icons);
    }
    gtk_window_set_default_icon_name(kApplicationId);
}

void activated(GApplication* application, gpointer data) {
    auto* platform = static_cast<Platform*>(data);
    if (platform->shell) {
        platform->shell->activateAgain();
        return;
    }
    useOwnIcon();
    platform->appearance = std::make_unique<Appearance>(application);
    platform->shell = std::make_unique<lumory::Shell>(lumory::ShellPlatform{
        platform->desktop, platform->serviceLauncher, platform->mainQueue, platform->system,
        platform->dialogs, platform->notificationCenter, platform->http, platform->settings,
        platform->clock});
    // The windows keep the application running; this hold covers the moment before they exist.
    g_application_hold(application);
    platform->shell->start();
    g_application_release(application);
}

void shuttingDown(GApplication*, gpointer data) {
    auto* platform = static_cast<Platform*>(data);
    if (platform->shell) platform->shell->shutdown();
}

// The session manager asks whether the session may end: the flush starts, and with it the
// inhibition that makes the session wait for its answer.
void sessionEnding(GtkApplication*, gpointer data) {
    auto* platform = static_cast<Platform*>(data);
    if (platform->shell) platform->shell->quit();
}

gboolean terminationRequested(gpointer data) {
    auto* platform = static_cast<Platform*>(data);
    if (platform->shell) {
        platform->shell->quit();
    } else {
        platform->desktop.quit();
    }
    return G_SOURCE_CONTINUE;
}

// Before main and before the initialisers of the shared libraries: JavaScriptCore starts a
// thread in its own, and a thread started before the block would take SIGINT and SIGHUP and be
// ended by them, with the whole shell.
[[gnu::used, gnu::section(".preinit_array")]] void (*const blockTerminalSignalsFirst)(
    int, char**, char**) = [](int, char**, char**) { lumory::gtk::blockTerminalSignals(); };

}  // namespace

int main(int argc, char** argv) {
    lumory::gtk::silencePortalInhibitWarnings();
    lumory::gtk::preferDisplayBackend();
    GtkApplication* application = lumory::gtk::newSingleInstanceApplication(kApplicationId);
    int status = 0;
    {
        Platform platform(application);
        g_signal_connect(application, "activate", G_CALLBACK(activated), &platform);
        g_signal_connect(application, "shutdown", G_CALLBACK(shuttingDown), &platform);
        g_object_set(application, "register-session", TRUE, nullptr);
        g_signal_connect(application, "query-end", G_CALLBACK(sessionEnding), &platform);
        // A plain `kill`, Ctrl+C, a closing terminal or systemd at shutdown goes through the
        // same quit as the menu.
        guint terminateSource = g_unix_signal_add(SIGTERM, terminationRequested, &platform);
        guint terminalSource = lumory::gtk::watchTerminalSignals(terminationRequested, &platform);
        status = g_application_run(G_APPLICATION(application), argc, argv);
        g_source_remove(terminateSource);
        if (terminalSource != 0) g_source_remove(terminalSource);
        platform.shell.reset();
    }
    g_object_unref(application);
    return status;
}
