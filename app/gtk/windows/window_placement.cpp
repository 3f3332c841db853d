#include "gtk/windows/window_placement.h"

#include <algorithm>

namespace lumory::gtk {

void centerOnWorkArea(GtkWindow* window, int width, int height) {
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0) {
        monitor = gdk_display_get_monitor(display, 0);
    }
    if (monitor == nullptr) return;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    int x = area.x + std::max(0, (area.width - width) / 2);
    int y = area.y + std::max(0, (area.height - height) / 2);
    gtk_window_move(window, x, y);
}

}  // namespace lumory::gtk
