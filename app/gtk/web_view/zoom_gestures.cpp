#include "gtk/web_view/zoom_gestures.h"

#include "gtk/test_probe.h"
#include "window/window_controls.h"

namespace lumory::gtk {

ZoomGestures::ZoomGestures(WebKitWebView* view, bool zoomAllowed)
    : view_(view), zoomAllowed_(zoomAllowed) {
    // Ahead of WebKit, which would scroll on Ctrl+wheel and scale the page on a pinch.
    gtk_widget_add_events(GTK_WIDGET(view),
                          GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK | GDK_TOUCHPAD_GESTURE_MASK);
    g_signal_connect(view, "event", G_CALLBACK(&ZoomGestures::pointerEvent), this);
    g_signal_connect(view, "key-press-event", G_CALLBACK(&ZoomGestures::keyPressed), this);
}

ZoomGestures::~ZoomGestures() {
    g_signal_handlers_disconnect_by_data(view_, this);
}

double ZoomGestures::zoom() const {
    return webkit_web_view_get_zoom_level(view_);
}

void ZoomGestures::setZoom(double level) {
    if (level == webkit_web_view_get_zoom_level(view_)) return;
    webkit_web_view_set_zoom_level(view_, level);
    emitTestProbe({{"event", "zoom"}, {"level", level}});
}

gboolean ZoomGestures::pointerEvent(GtkWidget*, GdkEvent* event, gpointer data) {
    auto* self = static_cast<ZoomGestures*>(data);
    if (event->type == GDK_TOUCHPAD_PINCH) {
        // A view without zoom swallows the pinch, or WebKit would scale the page itself.
        if (!self->zoomAllowed_) return TRUE;
        const GdkEventTouchpadPinch& pinch = event->touchpad_pinch;
        switch (pinch.phase) {
            case GDK_TOUCHPAD_GESTURE_PHASE_BEGIN:
                self->pinchStartZoom_ = self->zoom();
                break;
            case GDK_TOUCHPAD_GESTURE_PHASE_UPDATE:
            case GDK_TOUCHPAD_GESTURE_PHASE_END:
                self->setZoom(pinchedZoom(self->pinchStartZoom_, pinch.scale));
                break;
            case GDK_TOUCHPAD_GESTURE_PHASE_CANCEL:
                self->setZoom(self->pinchStartZoom_);
                break;
        }
        return TRUE;
    }
    if (event->type != GDK_SCROLL || !self->zoomAllowed_) return FALSE;
    const GdkEventScroll& scroll = event->scroll;
    if ((scroll.state & gtk_accelerator_get_default_mod_mask()) != GDK_CONTROL_MASK) return FALSE;
    int steps = 0;
    if (scroll.direction == GDK_SCROLL_UP) {
        steps = 1;
    } else if (scroll.direction == GDK_SCROLL_DOWN) {
        steps = -1;
    } else if (scroll.direction == GDK_SCROLL_SMOOTH) {
        // Touchpads scroll in fractions of a wheel notch: one step per whole notch.
        self->scrollZoomDelta_ += scroll.delta_y;
        while (self->scrollZoomDelta_ <= -1) {
            self->scrollZoomDelta_ += 1;
            ++steps;
        }
        while (self->scrollZoomDelta_ >= 1) {
            self->scrollZoomDelta_ -= 1;
            --steps;
        }
    }
    double level = self->zoom();
    for (; steps > 0; --steps) level = steppedZoom(level, 1);
    for (; steps < 0; ++steps) level = steppedZoom(level, -1);
    self->setZoom(level);
    return TRUE;
}

gboolean ZoomGestures::keyPressed(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<ZoomGestures*>(data);
    if (!self->zoomAllowed_) return FALSE;
    // Shift is allowed: Ctrl+plus is Ctrl+Shift+= on many layouts.
    GdkModifierType modifiers =
        GdkModifierType(event->state & gtk_accelerator_get_default_mod_mask() & ~GDK_SHIFT_MASK);
    if (modifiers != GDK_CONTROL_MASK) return FALSE;
    switch (event->keyval) {
        case GDK_KEY_plus:
        case GDK_KEY_equal:
        case GDK_KEY_KP_Add:
            self->setZoom(steppedZoom(self->zoom(), 1));
            return TRUE;
        case GDK_KEY_minus:
        case GDK_KEY_KP_Subtract:
            self->setZoom(steppedZoom(self->zoom(), -1));
            return TRUE;
        case GDK_KEY_0:
        case GDK_KEY_KP_0:
            self->setZoom(kDefaultZoom);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace lumory::gtk
