#include "gtk/system/app_launch.h"

#include <gio/gdesktopappinfo.h>

#include "gtk/system/terminal_signals.h"

namespace lumory::gtk {

namespace {

void inChild(gpointer) { restoreDefaultSignals(); }

}  // namespace

bool launchApp(GAppInfo* app, GList* uris, GAppLaunchContext* context) {
    if (!G_IS_DESKTOP_APP_INFO(app)) return g_app_info_launch_uris(app, uris, context, nullptr);
    // GIO's own flags for a launch; an application started over D-Bus never runs `inChild`,
    // and needs not: the bus starts it.
    return g_desktop_app_info_launch_uris_as_manager(G_DESKTOP_APP_INFO(app), uris, context,
                                                     G_SPAWN_SEARCH_PATH, inChild, nullptr,
                                                     nullptr, nullptr, nullptr) != FALSE;
}

bool launchDefaultForUri(const char* uri, GAppLaunchContext* context) {
    g_autoptr(GAppInfo) app = nullptr;
    g_autofree char* scheme = g_uri_parse_scheme(uri);
    if (scheme != nullptr && scheme[0] != '\0') app = g_app_info_get_default_for_uri_scheme(scheme);
    if (app == nullptr) {
        g_autoptr(GFile) file = g_file_new_for_uri(uri);
        app = g_file_query_default_handler(file, nullptr, nullptr);
    }
    // No handler of our own to start: GIO's own way, which asks the portal inside a sandbox.
    if (app == nullptr) return g_app_info_launch_default_for_uri(uri, context, nullptr) != FALSE;
    GList uris = {const_cast<char*>(uri), nullptr, nullptr};
    return launchApp(app, &uris, context);
}

}  // namespace lumory::gtk
