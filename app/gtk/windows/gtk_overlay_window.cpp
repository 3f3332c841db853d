#include "gtk/windows/gtk_overlay_window.h"

#include "gobject_ptr.h"
#include "gtk/windows/hidden_title_bar.h"
#include "gtk/windows/window_placement.h"

namespace lumory::gtk {

namespace {

constexpr char kStyleClass[] = "lumory-overlay";
// The page draws the whole window; the theme's window background would show behind it.
constexpr char kTransparentStyle[] =
    "window.lumory-overlay, window.lumory-overlay.background { background-color: transparent; }";

}  // namespace

GtkOverlayWindow::GtkOverlayWindow(GtkApplication* application, const OverlayWindowSpec& spec,
                                   GtkWidget* content, WindowFrameStore frameStore,
                                   std::function<void()> closeRequested)
    : content_(content), closeRequested_(std::move(closeRequested)) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(window_);
    GtkWindow* window = GTK_WINDOW(window_);
    // The application's shortcuts work while the overlay has the focus.
    gtk_window_set_application(window, application);
    gtk_window_set_title(window, spec.title.c_str());
    gtk_window_set_default_size(window, spec.width, spec.height);
    hideTitleBar(window);

    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window_))) {
        gtk_widget_set_visual(window_, rgba);
    }
    gtk_widget_set_app_paintable(window_, TRUE);
    GObjectPtr<GtkCssProvider> style(gtk_css_provider_new());
    gtk_css_provider_load_from_data(style.get(), kTransparentStyle, -1, nullptr);
    GtkStyleContext* context = gtk_widget_get_style_context(window_);
    gtk_style_context_add_class(context, kStyleClass);
    gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(style.get()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    // A utility window: tiling window managers (sway, i3) float it instead of giving it a tile.
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_keep_above(window, TRUE);
    gtk_window_stick(window);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
    gtk_window_set_skip_pager_hint(window, TRUE);

    gtk_container_add(GTK_CONTAINER(window_), content);
    g_signal_connect(content, "button-press-event", G_CALLBACK(&GtkOverlayWindow::buttonPressed),
                     this);
    g_signal_connect(content, "button-release-event", G_CALLBACK(&GtkOverlayWindow::buttonReleased),
                     this);
    savedFrame_ = std::make_unique<SavedFrame>(
        window, std::move(frameStore), 0, 0, spec.width, spec.height,
        [this] { return gtk_widget_get_visible(window_) != FALSE; });
    g_signal_connect_after(window_, "size-allocate", G_CALLBACK(&GtkOverlayWindow::allocated),
                           this);
    g_signal_connect_after(window_, "realize", G_CALLBACK(&GtkOverlayWindow::realized), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(&GtkOverlayWindow::deleteRequested), this);
}

GtkOverlayWindow::~GtkOverlayWindow() {
    savedFrame_.reset();
    g_signal_handlers_disconnect_by_data(window_, this);
    g_signal_handlers_disconnect_by_data(content_, this);
    gtk_widget_hide(window_);
    // The overlay is often closed from inside its own page's message or its status menu's
    // activation; the widgets go once those have returned.
    g_idle_add(
        [](gpointer data) -> gboolean {
            gtk_widget_destroy(GTK_WIDGET(data));
            g_object_unref(data);
            return G_SOURCE_REMOVE;
        },
        window_);
}

bool GtkOverlayWindow::restoreFrame(const std::string& name) {
    return savedFrame_->restore(name);
}

void GtkOverlayWindow::center() {
    centerOnWorkArea(GTK_WINDOW(window_), savedFrame_->width(), savedFrame_->height());
}

void GtkOverlayWindow::present() {
    gtk_widget_show_all(window_);
    gtk_window_present(GTK_WINDOW(window_));
}

void GtkOverlayWindow::hide() {
    savedFrame_->flush();
    gtk_widget_hide(window_);
}

void GtkOverlayWindow::setClickThrough(bool clickThrough) {
    clickThrough_ = clickThrough;
    applyInputShape();
    if (!clickThrough) {
        // The client-side frame sets its own input shape (the shadow lets clicks through) on
        // its next allocation.
        gtk_widget_queue_resize(window_);
    }
}

// An empty input shape: the pointer's events go to whatever lies below, with or without a
// window manager.
void GtkOverlayWindow::applyInputShape() {
    if (!gtk_widget_get_realized(window_)) return;
    if (clickThrough_) {
        cairo_region_t* nothing = cairo_region_create();
        gtk_widget_input_shape_combine_region(window_, nothing);
        cairo_region_destroy(nothing);
        primaryPress_.reset();
    } else {
        gtk_widget_input_shape_combine_region(window_, nullptr);
    }
    // Sent now, before the status item and menus announce the change: whoever reacts to those
    // must find the window already letting clicks through (or not).
    gdk_display_flush(gtk_widget_get_display(window_));
}

// Script messages arrive after the press that caused them, so the press is remembered here.
void GtkOverlayWindow::beginMoveDrag() {
    if (!primaryPress_) return;
    gtk_window_begin_move_drag(GTK_WINDOW(window_), 1, static_cast<gint>(primaryPress_->x_root),
                               static_cast<gint>(primaryPress_->y_root), primaryPress_->time);
    primaryPress_.reset();
}

gboolean GtkOverlayWindow::buttonPressed(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<GtkOverlayWindow*>(data);
    if (event->button == 1 && event->type == GDK_BUTTON_PRESS) self->primaryPress_ = *event;
    return FALSE;
}

gboolean GtkOverlayWindow::buttonReleased(GtkWidget*, GdkEventButton* event, gpointer data) {
    if (event->button == 1) static_cast<GtkOverlayWindow*>(data)->primaryPress_.reset();
    return FALSE;
}

// The client-side frame resets the input shape whenever the window is allocated.
void GtkOverlayWindow::allocated(GtkWidget*, GdkRectangle*, gpointer data) {
    auto* self = static_cast<GtkOverlayWindow*>(data);
    if (self->clickThrough_) self->applyInputShape();
}

// The window manager's close (Alt+F4) closes the overlay as its menus do.
gboolean GtkOverlayWindow::deleteRequested(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkOverlayWindow*>(data);
    if (self->closeRequested_) self->closeRequested_();
    return TRUE;
}

void GtkOverlayWindow::realized(GtkWidget*, gpointer data) {
    static_cast<GtkOverlayWindow*>(data)->applyInputShape();
}

}  // namespace lumory::gtk
