#include "gtk/system/gtk_dark_style.h"

#include <gtk/gtk.h>

#include "gtk/test_probe.h"

namespace lumory::gtk {

namespace {

constexpr char kPreferDark[] = "gtk-application-prefer-dark-theme";

void reportDarkStyle(GtkSettings* settings) {
    gboolean dark = FALSE;
    g_object_get(settings, kPreferDark, &dark, nullptr);
    emitTestProbe({{"event", "dark-style"}, {"preferDark", dark != FALSE}});
}

}  // namespace

GtkDarkStyle::GtkDarkStyle() {
    GtkSettings* settings = gtk_settings_get_default();
    if (settings == nullptr || !testProbeEnabled()) return;
    g_signal_connect(settings, "notify::gtk-application-prefer-dark-theme",
                     G_CALLBACK(+[](GtkSettings* settings, GParamSpec*, gpointer) {
                         reportDarkStyle(settings);
                     }),
                     this);
    reportDarkStyle(settings);
}

GtkDarkStyle::~GtkDarkStyle() {
    GtkSettings* settings = gtk_settings_get_default();
    if (settings != nullptr) g_signal_handlers_disconnect_by_data(settings, this);
}

void GtkDarkStyle::preferDark(std::optional<bool> dark) {
    GtkSettings* settings = gtk_settings_get_default();
    if (settings == nullptr) return;
    if (dark) {
        g_object_set(settings, kPreferDark, *dark ? TRUE : FALSE, nullptr);
    } else {
        // Back to what the user's own GTK settings say.
        gtk_settings_reset_property(settings, kPreferDark);
    }
}

}  // namespace lumory::gtk
