// The shell's entry point: one GtkApplication; launching again while it runs brings the main
// window forward instead of starting a second shell.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <memory>
#include <string>

#include "app_delegate.h"
#include "gio_service_launcher.h"
#include "glib_host_system.h"
#include "gtk_alerts.h"
#include "gtk_desktop.h"
#include "gtk_main_queue.h"
#include "keyfile_defaults_store.h"
#include "soup_http_client.h"
#include "system_clock.h"

namespace {

constexpr char kApplicationId[] = "org.lumory.Lumory";

// Until notifications reach the desktop's server, the shell has none to offer.
class NoNotificationCenter : public lumory::NotificationCenter {
public:
    void setDelegate(lumory::NotificationCenterDelegate*) override {}
    void setCategories(const std::vector<lumory::NotificationCategory>&) override {}
    void getPendingRequests(
        std::function<void(std::vector<lumory::NotificationRequest>)> done) override {
        done({});
    }
    void removePendingRequests(const std::vector<std::string>&) override {}
    void add(const lumory::NotificationRequest&) override {}
    void getAuthorizationStatus(std::function<void(lumory::AuthorizationStatus)> done) override {
        done(lumory::AuthorizationStatus::Denied);
    }
    void requestAuthorization(std::function<void(std::optional<std::string>)> done) override {
        done(std::nullopt);
    }
    bool openSettings() override { return false; }
};

std::string settingsPath() {
    g_autofree char* path =
        g_build_filename(g_get_user_config_dir(), "lumory", "settings.ini", nullptr);
    return path;
}

struct Shell {
    explicit Shell(GtkApplication* application)
        : desktop(application),
          alerts([this] { return desktop.mainGtkWindow(); }),
          defaults(settingsPath()) {}

    lumory::gtk::GtkDesktop desktop;
    lumory::gtk::GioServiceLauncher serviceLauncher;
    lumory::gtk::GtkMainQueue mainQueue;
    lumory::gtk::GlibHostSystem system;
    lumory::gtk::GtkAlerts alerts;
    NoNotificationCenter notificationCenter;
    lumory::gtk::SoupHttpClient http;
    lumory::gtk::KeyFileDefaultsStore defaults;
    lumory::gtk::SystemClock clock;
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

// The token the launcher handed this process: Wayland's XDG_ACTIVATION_TOKEN, or the X11
// startup id. Read before GTK's start-up clears DESKTOP_STARTUP_ID from the environment.
std::string& launchToken() {
    static std::string token;
    return token;
}

void takeLaunchToken() {
    for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        const char* value = g_getenv(name);
        if (value != nullptr && *value != '\0' && g_utf8_validate(value, -1, nullptr)) {
            launchToken() = value;
            break;
        }
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

// A second launch hands its token to the running shell, which presents its window with it (GTK
// reads "desktop-startup-id" there on X11 and Wayland alike). GTK 3 itself would only pass
// DESKTOP_STARTUP_ID, and only while it is still in the environment, which it no longer is.
void lumory_application_add_platform_data(GApplication* application, GVariantBuilder* builder) {
    G_APPLICATION_CLASS(lumory_application_parent_class)->add_platform_data(application, builder);
    const char* passed = g_getenv("DESKTOP_STARTUP_ID");
    bool gtkPassedOne = passed != nullptr && g_utf8_validate(passed, -1, nullptr);
    if (launchToken().empty() || gtkPassedOne) return;
    g_variant_builder_add(builder, "{sv}", "desktop-startup-id",
                          g_variant_new_string(launchToken().c_str()));
}

void lumory_application_class_init(LumoryApplicationClass* applicationClass) {
    G_APPLICATION_CLASS(applicationClass)->add_platform_data = lumory_application_add_platform_data;
}

void lumory_application_init(LumoryApplication*) {}

}  // namespace

int main(int argc, char** argv) {
    takeLaunchToken();
    auto* application = GTK_APPLICATION(g_object_new(lumory_application_get_type(),
                                                     "application-id", kApplicationId, "flags",
                                                     G_APPLICATION_DEFAULT_FLAGS, nullptr));
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
