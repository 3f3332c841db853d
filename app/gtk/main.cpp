// The shell's entry point: one GtkApplication; launching again while it runs brings the main
// window forward instead of starting a second shell.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <memory>

#include "app_delegate.h"
#include "gio_service_launcher.h"
#include "glib_host_system.h"
#include "gtk_desktop.h"
#include "gtk_main_queue.h"

namespace {

constexpr char kApplicationId[] = "org.lumory.Lumory";

struct Shell {
    explicit Shell(GtkApplication* application) : desktop(application) {}

    lumory::gtk::GtkDesktop desktop;
    lumory::gtk::GioServiceLauncher serviceLauncher;
    lumory::gtk::GtkMainQueue mainQueue;
    lumory::gtk::GlibHostSystem system;
    std::unique_ptr<lumory::AppDelegate> delegate;
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
    auto* shell = static_cast<Shell*>(data);
    if (shell->delegate) {
        shell->delegate->applicationShouldHandleReopen();
        return;
    }
    useOwnIcon();
    shell->delegate = std::make_unique<lumory::AppDelegate>(lumory::AppPlatform{
        shell->desktop, shell->serviceLauncher, shell->mainQueue, shell->system});
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
