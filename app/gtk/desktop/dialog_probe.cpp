#include "gtk/desktop/dialog_probe.h"

#include <string>

#include "gtk/test_probe.h"

namespace lumory::gtk {

namespace {

std::string text(const char* value) {
    return value != nullptr ? value : "";
}

std::string stringProperty(GObject* object, const char* name) {
    g_autofree char* value = nullptr;
    g_object_get(object, name, &value, nullptr);
    return text(value);
}

gboolean reportShown(GtkWidget* widget, GdkEvent*, gpointer data) {
    const int buttonCount = GPOINTER_TO_INT(data);
    nlohmann::json buttons = nlohmann::json::array();
    for (int response = 0; response < buttonCount; ++response) {
        GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(widget), response);
        if (button == nullptr) continue;
        // A button has no window of its own: its allocation is relative to its parent's.
        GtkAllocation allocation;
        gtk_widget_get_allocation(button, &allocation);
        int x = 0;
        int y = 0;
        gdk_window_get_origin(gtk_widget_get_window(button), &x, &y);
        buttons.push_back({{"label", text(gtk_button_get_label(GTK_BUTTON(button)))},
                           {"x", x + allocation.x},
                           {"y", y + allocation.y},
                           {"width", allocation.width},
                           {"height", allocation.height}});
    }
    GtkWindow* owner = gtk_window_get_transient_for(GTK_WINDOW(widget));
    nlohmann::json textField = nullptr;
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(widget));
    g_autoptr(GList) children = gtk_container_get_children(GTK_CONTAINER(area));
    for (GList* child = children; child != nullptr; child = child->next) {
        if (GTK_IS_ENTRY(child->data)) textField = text(gtk_entry_get_text(GTK_ENTRY(child->data)));
    }
    emitTestProbe({{"event", "dialog"},
                   {"title", text(gtk_window_get_title(GTK_WINDOW(widget)))},
                   {"modal", gtk_window_get_modal(GTK_WINDOW(widget)) != FALSE},
                   {"transientFor", owner ? text(gtk_window_get_title(owner)) : ""},
                   {"text", stringProperty(G_OBJECT(widget), "text")},
                   {"secondaryText", stringProperty(G_OBJECT(widget), "secondary-text")},
                   {"textField", textField},
                   {"buttons", buttons}});
    return GDK_EVENT_PROPAGATE;
}

}  // namespace

void probeDialogWhenShown(GtkMessageDialog* dialog, int buttonCount) {
    if (!testProbeEnabled()) return;
    g_signal_connect_after(dialog, "map-event", G_CALLBACK(reportShown),
                           GINT_TO_POINTER(buttonCount));
}

}  // namespace lumory::gtk
