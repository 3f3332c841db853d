#include "gtk/windows/hidden_title_bar.h"

namespace lumory::gtk {

void hideTitleBar(GtkWindow* window) {
    GtkWidget* titleBar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_no_show_all(titleBar, TRUE);
    gtk_window_set_titlebar(window, titleBar);
}

}  // namespace lumory::gtk
