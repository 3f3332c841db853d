// The shell's entry point: one GtkApplication; launching again while it runs brings the main
// window forward instead of starting a second shell.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <memory>
#include <string>
#include <string_view>

#include "dbus_notification_server.h"
#include "display_backend.h"
#include "gio_service_launcher.h"
#include "glib_host_system.h"
#include "gtk_dialogs.h"
#include "gtk_desktop.h"
#include "gtk_main_queue.h"
#include "keyfile_settings_store.h"
#include "notification_desktop.h"
#include "notifications/desktop_notification_center.h"
#include "shell/shell.h"
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

// Wayland launchers hand over an activation token in XDG_ACTIVATION_TOKEN. GTK 3 passes a second
// launch's DESKTOP_STARTUP_ID on to the running shell by itself, but knows nothing of this one.
std::string& activationToken() {
    static std::string token;
    return token;
}

void takeActivationToken() {
    const char* token = g_getenv("XDG_ACTIVATION_TOKEN");
    const char* startupId = g_getenv("DESKTOP_STARTUP_ID");
    bool gtkPassesOne = startupId != nullptr && *startupId != '\0';
    if (token != nullptr && *token != '\0' && !gtkPassesOne &&
        g_utf8_validate(token, -1, nullptr)) {
        activationToken() = token;
    }
    // Good for one activation only: nothing this shell starts may use it.
    g_unsetenv("XDG_ACTIVATION_TOKEN");
}

struct LumoryApplication {
    GtkApplication parent;
};
struct LumoryApplicationClass {
    GtkApplicationClass parent;
};
G_DEFINE_TYPE(LumoryApplication, lumory_application, GTK_TYPE_APPLICATION)

// A second launch hands its token to the running shell as the startup id, which GTK there uses
// to present the window (on Wayland through the activation protocol).
void lumory_application_add_platform_data(GApplication* application, GVariantBuilder* builder) {
    G_APPLICATION_CLASS(lumory_application_parent_class)->add_platform_data(application, builder);
    if (activationToken().empty()) return;
    g_variant_builder_add(builder, "{sv}", "desktop-startup-id",
                          g_variant_new_string(activationToken().c_str()));
}

void lumory_application_class_init(LumoryApplicationClass* applicationClass) {
    G_APPLICATION_CLASS(applicationClass)->add_platform_data = lumory_application_add_platform_data;
}

void lumory_application_init(LumoryApplication*) {}

}  // namespace

// A desktop whose portal has no Inhibit backend makes GTK warn at start-up and at every save
// before quitting. The shell works the same without it (logout is simply not held back), so
// these two warnings about the desktop are not the user's business; every other one still shows.
GLogWriterOutput quietPortalInhibitWarnings(GLogLevelFlags level, const GLogField* fields,
                                            gsize count, gpointer data) {
    std::string_view domain;
    std::string_view message;
    for (gsize i = 0; i < count; ++i) {
        if (fields[i].length != -1) continue;
        auto value = static_cast<const char*>(fields[i].value);
        if (g_strcmp0(fields[i].key, "GLIB_DOMAIN") == 0) domain = value;
        if (g_strcmp0(fields[i].key, "MESSAGE") == 0) message = value;
    }
    if (domain == "Gtk" &&
        (message.starts_with("Creating a portal monitor failed") ||
         message.starts_with("Calling org.freedesktop.portal.Inhibit.Inhibit failed"))) {
        return G_LOG_WRITER_HANDLED;
    }
    return g_log_writer_default(level, fields, count, data);
}

int main(int argc, char** argv) {
    g_log_set_writer_func(quietPortalInhibitWarnings, nullptr, nullptr);
    lumory::gtk::preferDisplayBackend();
    takeActivationToken();
    auto* application = GTK_APPLICATION(g_object_new(lumory_application_get_type(),
                                                     "application-id", kApplicationId, "flags",
                                                     G_APPLICATION_DEFAULT_FLAGS, nullptr));
    int status = 0;
    {
        Platform platform(application);
        g_signal_connect(application, "activate", G_CALLBACK(activated), &platform);
        g_signal_connect(application, "shutdown", G_CALLBACK(shuttingDown), &platform);
        g_object_set(application, "register-session", TRUE, nullptr);
        g_signal_connect(application, "query-end", G_CALLBACK(sessionEnding), &platform);
        // A plain `kill`, a closing terminal or systemd at shutdown goes through the same quit
        // as the menu.
        guint terminateSource = g_unix_signal_add(SIGTERM, terminationRequested, &platform);
        guint hangUpSource = g_unix_signal_add(SIGHUP, terminationRequested, &platform);
        guint interruptSource = g_unix_signal_add(SIGINT, terminationRequested, &platform);
        status = g_application_run(G_APPLICATION(application), argc, argv);
        g_source_remove(terminateSource);
        g_source_remove(hangUpSource);
        g_source_remove(interruptSource);
        platform.shell.reset();
    }
    g_object_unref(application);
    return status;
}
