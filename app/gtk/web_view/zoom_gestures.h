#pragma once

#include <webkit2/webkit2.h>

namespace lumory::gtk {

// Ctrl+plus, Ctrl+minus and Ctrl+0, Ctrl+wheel and a touchpad pinch zoom the page, as in
// browsers; a view without zoom swallows the pinch instead.
class ZoomGestures {
public:
    ZoomGestures(WebKitWebView* view, bool zoomAllowed);
    ~ZoomGestures();
    ZoomGestures(const ZoomGestures&) = delete;
    ZoomGestures& operator=(const ZoomGestures&) = delete;

private:
    static gboolean pointerEvent(GtkWidget*, GdkEvent* event, gpointer self);
    static gboolean keyPressed(GtkWidget*, GdkEventKey* event, gpointer self);
    double zoom() const;
    void setZoom(double level);

    WebKitWebView* view_;
    bool zoomAllowed_;
    double pinchStartZoom_ = 1.0;
    double scrollZoomDelta_ = 0;
};

}  // namespace lumory::gtk
