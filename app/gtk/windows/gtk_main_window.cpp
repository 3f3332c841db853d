#include "gtk/windows/gtk_main_window.h"

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

#include <utility>

#include "gtk/windows/hidden_title_bar.h"
#include "gtk/windows/window_placement.h"

namespace lumory::gtk {

GtkMainWindow::GtkMainWindow(GtkApplication* application, const MainWindowSpec& spec,
                             GtkWidget* content, GMenuModel* menuModel, WindowFrameStore frameStore,
                             std::function<void()> closeRequested)
    : closeRequested_(std::move(closeRequested)) {
    window_ = gtk_application_window_new(application);
    g_object_ref_sink(window_);
    GtkWindow* window = GTK_WINDOW(window_);
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window_), FALSE);
    gtk_window_set_title(window, spec.title.c_str());
    gtk_window_set_default_size(window, spec.width, spec.height);
    // The minimum belongs to the page: on the window it would include the client-side frame
    // (and the menu bar while shown), leaving the page a few pixels short.
    gtk_widget_set_size_request(content, spec.minimumWidth, spec.minimumHeight);
    if (!spec.titleBarVisible) hideTitleBar(window);

    // The buttons see a Tab before the menu bar sees any key.
    windowButtons_ = std::make_unique<GtkWindowButtons>(window, content);
    menuBar_ = std::make_unique<OnDemandMenuBar>(window, content, menuModel);
    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(column), menuBar_->widget(), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(column), windowButtons_->widget(), TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window_), column);

    titleAreaDrag_ = std::make_unique<TitleAreaDrag>(window, content, *this);
    // A full-screen or maximised frame is not the one to come back to.
    savedFrame_ = std::make_unique<SavedFrame>(
        window, std::move(frameStore), spec.minimumWidth, spec.minimumHeight, spec.width,
        spec.height,
        [this] { return !fullScreen_ && !maximized_ && gtk_widget_get_realized(window_); });
    g_signal_connect(window_, "window-state-event", G_CALLBACK(&GtkMainWindow::stateChanged), this);
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
    menuBar_.reset();
    savedFrame_.reset();
    titleAreaDrag_.reset();
    g_signal_handlers_disconnect_by_data(window_, this);
    gtk_widget_destroy(window_);
    g_object_unref(window_);
}

void GtkMainWindow::restoreFrame(const std::string& name) {
    savedFrame_->restore(name);
}

void GtkMainWindow::center() {
    centerOnWorkArea(GTK_WINDOW(window_), savedFrame_->width(), savedFrame_->height());
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

void GtkMainWindow::beginMoveDrag() {
    titleAreaDrag_->begin();
}

void GtkMainWindow::placeWindowControls(Point closeOrigin) {
    windowButtons_->placeClose(closeOrigin);
}

void GtkMainWindow::menuItemActivated() {
    menuBar_->hide();
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

gboolean GtkMainWindow::deleteRequested(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkMainWindow*>(data);
    if (self->closeRequested_) self->closeRequested_();
    return TRUE;
}

}  // namespace lumory::gtk
