#include "gtk/windows/title_area_drag.h"

#include <string_view>

namespace lumory::gtk {

namespace {

constexpr gint64 kLateDoubleClickUs = 500 * 1000;

}  // namespace

TitleAreaDrag::TitleAreaDrag(GtkWindow* window, GtkWidget* content, MainWindow& owner)
    : window_(window), content_(content), owner_(owner) {
    g_signal_connect(content, "button-press-event", G_CALLBACK(&TitleAreaDrag::buttonPressed),
                     this);
    g_signal_connect(content, "motion-notify-event", G_CALLBACK(&TitleAreaDrag::pointerMoved),
                     this);
    g_signal_connect(content, "button-release-event", G_CALLBACK(&TitleAreaDrag::buttonReleased),
                     this);
}

TitleAreaDrag::~TitleAreaDrag() {
    g_signal_handlers_disconnect_by_data(content_, this);
}

// Script messages arrive after the press that caused them, so the press is remembered here.
// As on a title bar, the move itself starts once the pointer leaves the drag threshold: a
// plain click never hands the pointer to the window manager, so a double click reaches us.
void TitleAreaDrag::begin() {
    // A quick double click may be over before its message arrives; it still counts.
    bool recentDouble = releasedDoubleTime_ != 0 &&
                        g_get_monotonic_time() - releasedDoubleTime_ < kLateDoubleClickUs;
    if (primaryPressIsDouble_ || (!primaryPress_ && recentDouble)) {
        primaryPress_.reset();
        primaryPressIsDouble_ = false;
        releasedDoubleTime_ = 0;
        doubleClicked();
        return;
    }
    if (primaryPress_) dragArmed_ = true;
}

gboolean TitleAreaDrag::pointerMoved(GtkWidget* widget, GdkEventMotion* event, gpointer data) {
    auto* self = static_cast<TitleAreaDrag*>(data);
    if (!self->dragArmed_ || !self->primaryPress_ || (event->state & GDK_BUTTON1_MASK) == 0) {
        return FALSE;
    }
    const GdkEventButton& press = *self->primaryPress_;
    if (!gtk_drag_check_threshold(widget, static_cast<int>(press.x), static_cast<int>(press.y),
                                  static_cast<int>(event->x), static_cast<int>(event->y))) {
        return FALSE;
    }
    self->dragArmed_ = false;
    gtk_window_begin_move_drag(self->window_, 1, static_cast<gint>(press.x_root),
                               static_cast<gint>(press.y_root), event->time);
    self->primaryPress_.reset();
    return TRUE;
}

// What the desktop's own title bars do on a double click (GNOME lets the user choose).
void TitleAreaDrag::doubleClicked() {
    g_autofree char* action = nullptr;
    g_object_get(gtk_widget_get_settings(GTK_WIDGET(window_)), "gtk-titlebar-double-click",
                 &action, nullptr);
    std::string_view chosen = action ? action : "toggle-maximize";
    if (chosen == "none" || chosen == "menu" || chosen == "lower") return;
    if (chosen == "minimize") {
        owner_.minimize();
    } else {
        owner_.toggleMaximized();
    }
}

gboolean TitleAreaDrag::buttonPressed(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<TitleAreaDrag*>(data);
    if (event->button != 1) return FALSE;
    if (event->type == GDK_BUTTON_PRESS) {
        self->primaryPress_ = *event;
        self->primaryPressIsDouble_ = false;
        self->dragArmed_ = false;
        self->releasedDoubleTime_ = 0;
    } else if (event->type == GDK_2BUTTON_PRESS && self->primaryPress_) {
        // GDK follows the second press of a double click with this event.
        self->primaryPressIsDouble_ = true;
    }
    return FALSE;
}

gboolean TitleAreaDrag::buttonReleased(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<TitleAreaDrag*>(data);
    if (event->button == 1) {
        self->releasedDoubleTime_ = self->primaryPressIsDouble_ ? g_get_monotonic_time() : 0;
        self->primaryPress_.reset();
        self->primaryPressIsDouble_ = false;
        self->dragArmed_ = false;
    }
    return FALSE;
}

}  // namespace lumory::gtk
