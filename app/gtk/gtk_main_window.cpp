#include "gtk_main_window.h"

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

#include <algorithm>
#include <string_view>
#include <utility>

#include "window_placement.h"

namespace lumory::gtk {

namespace {

constexpr guint kFrameSaveDelayMs = 400;
constexpr gint64 kLateDoubleClickUs = 500 * 1000;

}  // namespace

GtkMainWindow::GtkMainWindow(GtkApplication* application, const MainWindowSpec& spec,
                             GtkWidget* content, GMenuModel* menuModel, WindowFrameStore frameStore,
                             std::function<void()> closeRequested)
    : content_(content),
      frameStore_(std::move(frameStore)),
      closeRequested_(std::move(closeRequested)),
      minimumWidth_(spec.minimumWidth),
      minimumHeight_(spec.minimumHeight),
      width_(spec.width),
      height_(spec.height) {
    window_ = gtk_application_window_new(application);
    g_object_ref_sink(window_);
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window_), FALSE);
    gtk_window_set_title(GTK_WINDOW(window_), spec.title.c_str());
    gtk_window_set_default_size(GTK_WINDOW(window_), spec.width, spec.height);
    // The minimum belongs to the page: on the window it would include the client-side frame
    // (and the menu bar while shown), leaving the page a few pixels short.
    gtk_widget_set_size_request(content, spec.minimumWidth, spec.minimumHeight);

    if (!spec.titleBarVisible) {
        // A title bar widget that is never shown: the window keeps its client-side frame and
        // resize edges, and the page reaches the top edge.
        GtkWidget* titleBar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
        gtk_widget_set_no_show_all(titleBar, TRUE);
        gtk_window_set_titlebar(GTK_WINDOW(window_), titleBar);
    }

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    menuBar_ = gtk_menu_bar_new_from_model(menuModel);
    gtk_widget_set_no_show_all(menuBar_, TRUE);
    gtk_box_pack_start(GTK_BOX(column), menuBar_, FALSE, FALSE, 0);
    windowButtons_ = std::make_unique<GtkWindowButtons>(GTK_WINDOW(window_), content);
    gtk_box_pack_start(GTK_BOX(column), windowButtons_->widget(), TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window_), column);

    g_signal_connect(menuBar_, "deactivate", G_CALLBACK(+[](GtkMenuShell*, gpointer self) {
                         static_cast<GtkMainWindow*>(self)->showMenuBar(false, nullptr);
                     }),
                     this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(&GtkMainWindow::keyPressed), this);
    g_signal_connect(window_, "key-release-event", G_CALLBACK(&GtkMainWindow::keyReleased), this);
    g_signal_connect(content, "button-press-event", G_CALLBACK(&GtkMainWindow::buttonPressed),
                     this);
    g_signal_connect(content, "motion-notify-event", G_CALLBACK(&GtkMainWindow::pointerMoved),
                     this);
    g_signal_connect(content, "button-release-event", G_CALLBACK(&GtkMainWindow::buttonReleased),
                     this);
    g_signal_connect(window_, "window-state-event", G_CALLBACK(&GtkMainWindow::stateChanged), this);
    g_signal_connect(window_, "configure-event", G_CALLBACK(&GtkMainWindow::configured), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(&GtkMainWindow::deleteRequested), this);
    // Focus means the compositor brought the window back itself.
    g_signal_connect(window_, "focus-in-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                         static_cast<GtkMainWindow*>(self)->minimizedOnWayland_ = false;
                         return FALSE;
                     }),
                     this);
}

GtkMainWindow::~GtkMainWindow() {
    if (openMenuSource_ != 0) g_source_remove(openMenuSource_);
    if (openMenuKey_ != nullptr) gdk_event_free(openMenuKey_);
    if (saveTimer_ != 0) {
        g_source_remove(saveTimer_);
        saveTimer_ = 0;
        saveFrame();
    }
    g_signal_handlers_disconnect_by_data(window_, this);
    g_signal_handlers_disconnect_by_data(menuBar_, this);
    g_signal_handlers_disconnect_by_data(content_, this);
    gtk_widget_destroy(window_);
    g_object_unref(window_);
}

void GtkMainWindow::restoreFrame(const std::string& name) {
    autosaveName_ = name;
    if (auto frame = frameStore_.load(name)) {
        // Centring must use the size the window will really get.
        width_ = std::max(frame->width, minimumWidth_);
        height_ = std::max(frame->height, minimumHeight_);
        gtk_window_resize(GTK_WINDOW(window_), width_, height_);
        gtk_window_move(GTK_WINDOW(window_), frame->x, frame->y);
    }
}

void GtkMainWindow::center() {
    centerOnWorkArea(GTK_WINDOW(window_), width_, height_);
}

void GtkMainWindow::present() {
    // Wayland tells a client nothing about minimising, and compositors without the activation
    // protocol (weston) give it no way back: a window minimised there is mapped afresh.
    if (minimizedOnWayland_ && gtk_widget_get_mapped(window_)) gtk_widget_hide(window_);
    minimizedOnWayland_ = false;
    gtk_widget_show_all(window_);
    gtk_window_deiconify(GTK_WINDOW(window_));
    gtk_window_present(GTK_WINDOW(window_));
}

void GtkMainWindow::minimize() {
    gtk_window_iconify(GTK_WINDOW(window_));
#ifdef GDK_WINDOWING_WAYLAND
    if (GDK_IS_WAYLAND_DISPLAY(gtk_widget_get_display(window_))) minimizedOnWayland_ = true;
#endif
}

void GtkMainWindow::toggleMaximized() {
    if (maximized_) {
        gtk_window_unmaximize(GTK_WINDOW(window_));
    } else {
        gtk_window_maximize(GTK_WINDOW(window_));
    }
}

void GtkMainWindow::toggleFullScreen() {
    if (fullScreen_) {
        gtk_window_unfullscreen(GTK_WINDOW(window_));
    } else {
        gtk_window_fullscreen(GTK_WINDOW(window_));
    }
}

// Script messages arrive after the press that caused them, so the press is remembered here.
// As on a title bar, the move itself starts once the pointer leaves the drag threshold: a
// plain click never hands the pointer to the window manager, so a double click reaches us.
void GtkMainWindow::beginMoveDrag() {
    // A quick double click may be over before its message arrives; it still counts.
    bool recentDouble = releasedDoubleTime_ != 0 &&
                        g_get_monotonic_time() - releasedDoubleTime_ < kLateDoubleClickUs;
    if (primaryPressIsDouble_ || (!primaryPress_ && recentDouble)) {
        primaryPress_.reset();
        primaryPressIsDouble_ = false;
        releasedDoubleTime_ = 0;
        titleBarDoubleClicked();
        return;
    }
    if (primaryPress_) dragArmed_ = true;
}

gboolean GtkMainWindow::pointerMoved(GtkWidget* widget, GdkEventMotion* event, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    if (!self->dragArmed_ || !self->primaryPress_ || (event->state & GDK_BUTTON1_MASK) == 0) {
        return FALSE;
    }
    const GdkEventButton& press = *self->primaryPress_;
    if (!gtk_drag_check_threshold(widget, static_cast<int>(press.x), static_cast<int>(press.y),
                                  static_cast<int>(event->x), static_cast<int>(event->y))) {
        return FALSE;
    }
    self->dragArmed_ = false;
    gtk_window_begin_move_drag(GTK_WINDOW(self->window_), 1, static_cast<gint>(press.x_root),
                               static_cast<gint>(press.y_root), event->time);
    self->primaryPress_.reset();
    return TRUE;
}

void GtkMainWindow::placeWindowControls(Point closeOrigin) {
    windowButtons_->placeClose(closeOrigin);
}

// What the desktop's own title bars do on a double click (GNOME lets the user choose).
void GtkMainWindow::titleBarDoubleClicked() {
    g_autofree char* action = nullptr;
    g_object_get(gtk_widget_get_settings(window_), "gtk-titlebar-double-click", &action, nullptr);
    std::string_view chosen = action ? action : "toggle-maximize";
    if (chosen == "none" || chosen == "menu" || chosen == "lower") return;
    if (chosen == "minimize") {
        minimize();
    } else {
        toggleMaximized();
    }
}

void GtkMainWindow::menuItemActivated() {
    showMenuBar(false, nullptr);
}

void GtkMainWindow::showMenuBar(bool show, GdkEventKey* key) {
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
            auto* self = static_cast<GtkMainWindow*>(data);
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
bool GtkMainWindow::openFirstMenuOnReplay() {
    if (!replayingMenuKey_) return false;
    gtk_menu_shell_select_first(GTK_MENU_SHELL(menuBar_), FALSE);
    return true;
}

gboolean GtkMainWindow::keyPressed(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    if (self->openFirstMenuOnReplay()) return TRUE;
    bool alt = event->keyval == GDK_KEY_Alt_L || event->keyval == GDK_KEY_Alt_R;
    self->altAlone_ = alt && (event->state & gtk_accelerator_get_default_mod_mask()) == 0;
    if (event->keyval == GDK_KEY_F10 &&
        (event->state & gtk_accelerator_get_default_mod_mask()) == 0) {
        self->showMenuBar(true, event);
        return TRUE;
    }
    return FALSE;
}

gboolean GtkMainWindow::keyReleased(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    if (self->openFirstMenuOnReplay()) return TRUE;
    bool alt = event->keyval == GDK_KEY_Alt_L || event->keyval == GDK_KEY_Alt_R;
    if (alt && self->altAlone_) {
        self->altAlone_ = false;
        self->showMenuBar(!gtk_widget_get_visible(self->menuBar_), event);
    }
    return FALSE;
}

gboolean GtkMainWindow::buttonPressed(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    self->altAlone_ = false;
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

gboolean GtkMainWindow::buttonReleased(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    if (event->button == 1) {
        self->releasedDoubleTime_ = self->primaryPressIsDouble_ ? g_get_monotonic_time() : 0;
        self->primaryPress_.reset();
        self->primaryPressIsDouble_ = false;
        self->dragArmed_ = false;
    }
    return FALSE;
}

gboolean GtkMainWindow::stateChanged(GtkWidget*, GdkEventWindowState* event, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    bool wasFullScreen = self->fullScreen_;
    self->fullScreen_ = (event->new_window_state & GDK_WINDOW_STATE_FULLSCREEN) != 0;
    self->maximized_ = (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    if (self->fullScreen_ != wasFullScreen && self->fullScreenChanged_) {
        self->fullScreenChanged_(self->fullScreen_);
    }
    self->windowButtons_->windowStateChanged(self->maximized_);
    return FALSE;
}

gboolean GtkMainWindow::configured(GtkWidget*, GdkEventConfigure*, gpointer data) {
    static_cast<GtkMainWindow*>(data)->saveFrameSoon();
    return FALSE;
}

gboolean GtkMainWindow::deleteRequested(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    if (self->closeRequested_) self->closeRequested_();
    return TRUE;
}

// Resizing sends a stream of configure events; the frame is written once they settle.
void GtkMainWindow::saveFrameSoon() {
    if (!autosaveName_ || saveTimer_ != 0) return;
    saveTimer_ = g_timeout_add(
        kFrameSaveDelayMs,
        [](gpointer data) -> gboolean {
            auto* self = static_cast<GtkMainWindow*>(data);
            self->saveTimer_ = 0;
            self->saveFrame();
            return G_SOURCE_REMOVE;
        },
        this);
}

// A full-screen or maximised frame is not the one to come back to.
void GtkMainWindow::saveFrame() {
    if (!autosaveName_ || fullScreen_ || maximized_ || !gtk_widget_get_realized(window_)) return;
    WindowFrame frame;
    gtk_window_get_position(GTK_WINDOW(window_), &frame.x, &frame.y);
    gtk_window_get_size(GTK_WINDOW(window_), &frame.width, &frame.height);
    frame.width = std::max(frame.width, minimumWidth_);
    frame.height = std::max(frame.height, minimumHeight_);
    width_ = frame.width;
    height_ = frame.height;
    frameStore_.save(*autosaveName_, frame);
}

}  // namespace lumory::gtk
