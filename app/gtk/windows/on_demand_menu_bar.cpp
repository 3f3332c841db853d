#include "gtk/windows/on_demand_menu_bar.h"

#include <utility>

namespace lumory::gtk {

OnDemandMenuBar::OnDemandMenuBar(GtkWindow* window, GtkWidget* content, GMenuModel* model)
    : window_(window), content_(content), menuBar_(gtk_menu_bar_new_from_model(model)) {
    gtk_widget_set_no_show_all(menuBar_, TRUE);
    g_signal_connect(menuBar_, "deactivate", G_CALLBACK(+[](GtkMenuShell*, gpointer self) {
                         static_cast<OnDemandMenuBar*>(self)->hide();
                     }),
                     this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(&OnDemandMenuBar::keyPressed), this);
    g_signal_connect(window_, "key-release-event", G_CALLBACK(&OnDemandMenuBar::keyReleased),
                     this);
    g_signal_connect(content, "button-press-event", G_CALLBACK(&OnDemandMenuBar::buttonPressed),
                     this);
}

OnDemandMenuBar::~OnDemandMenuBar() {
    if (openMenuSource_ != 0) g_source_remove(openMenuSource_);
    if (openMenuKey_ != nullptr) gdk_event_free(openMenuKey_);
    g_signal_handlers_disconnect_by_data(window_, this);
    g_signal_handlers_disconnect_by_data(menuBar_, this);
    g_signal_handlers_disconnect_by_data(content_, this);
}

void OnDemandMenuBar::hide() {
    setVisible(false, nullptr);
}

void OnDemandMenuBar::setVisible(bool show, GdkEventKey* key) {
    if (!show) {
        gtk_widget_hide(menuBar_);
        return;
    }
    gtk_widget_show(menuBar_);
    // Opened once the bar has its place; opened at once, its first menu pops up wherever the
    // pointer happens to be. GTK wants the key that asked for the menu as the popup's trigger
    // (it complains on the terminal without one), so that key is played again then.
    if (openMenuSource_ != 0 || key == nullptr) return;
    openMenuKey_ = gdk_event_copy(reinterpret_cast<GdkEvent*>(key));
    openMenuSource_ = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* self = static_cast<OnDemandMenuBar*>(data);
            self->openMenuSource_ = 0;
            GdkEvent* key = std::exchange(self->openMenuKey_, nullptr);
            if (gtk_widget_get_mapped(self->menuBar_)) {
                self->replayingMenuKey_ = true;
                gtk_main_do_event(key);
                self->replayingMenuKey_ = false;
            }
            gdk_event_free(key);
            return G_SOURCE_REMOVE;
        },
        this);
}

// The key that showed the menu bar, played again: now it opens the first menu.
bool OnDemandMenuBar::openFirstMenuOnReplay() {
    if (!replayingMenuKey_) return false;
    gtk_menu_shell_select_first(GTK_MENU_SHELL(menuBar_), FALSE);
    return true;
}

gboolean OnDemandMenuBar::keyPressed(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<OnDemandMenuBar*>(data);
    if (self->openFirstMenuOnReplay()) return TRUE;
    bool alt = event->keyval == GDK_KEY_Alt_L || event->keyval == GDK_KEY_Alt_R;
    self->altAlone_ = alt && (event->state & gtk_accelerator_get_default_mod_mask()) == 0;
    if (event->keyval == GDK_KEY_F10 &&
        (event->state & gtk_accelerator_get_default_mod_mask()) == 0) {
        self->setVisible(true, event);
        return TRUE;
    }
    return FALSE;
}

gboolean OnDemandMenuBar::keyReleased(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<OnDemandMenuBar*>(data);
    if (self->openFirstMenuOnReplay()) return TRUE;
    bool alt = event->keyval == GDK_KEY_Alt_L || event->keyval == GDK_KEY_Alt_R;
    if (alt && self->altAlone_) {
        self->altAlone_ = false;
        self->setVisible(!gtk_widget_get_visible(self->menuBar_), event);
    }
    return FALSE;
}

// Alt held down while clicking is not Alt alone.
gboolean OnDemandMenuBar::buttonPressed(GtkWidget*, GdkEventButton*, gpointer data) {
    static_cast<OnDemandMenuBar*>(data)->altAlone_ = false;
    return FALSE;
}

}  // namespace lumory::gtk
