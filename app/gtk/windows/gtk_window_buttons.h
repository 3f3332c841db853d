#pragma once

#include <gtk/gtk.h>

#include <optional>

#include <nlohmann/json.hpp>

#include "window/window_controls.h"

namespace lumory::gtk {

// Close, minimise and maximise drawn as one group over the page, since the main window has no
// title bar of its own: GTK title buttons in the desktop theme's look, in the order of the
// desktop's decoration layout, reachable with Tab and named for screen readers.
class GtkWindowButtons {
public:
    // `content` goes under the buttons; widget() takes its place in the window.
    GtkWindowButtons(GtkWindow* window, GtkWidget* content);
    ~GtkWindowButtons();
    GtkWindowButtons(const GtkWindowButtons&) = delete;
    GtkWindowButtons& operator=(const GtkWindowButtons&) = delete;

    GtkWidget* widget() const { return overlay_; }

    // The close button's top-left corner goes to `closeOrigin` (the content's pixels).
    void placeClose(Point closeOrigin);
    void windowStateChanged(bool maximized);

private:
    static gboolean childPosition(GtkOverlay*, GtkWidget* child, GdkRectangle* allocation,
                                  gpointer self);
    static gboolean keyPressed(GtkWidget*, GdkEventKey* event, gpointer self);
    void build();
    Point closeOffset() const;
    void probeButtons();

    GtkWindow* window_;
    GtkSettings* settings_ = nullptr;
    GtkWidget* overlay_ = nullptr;
    GtkWidget* group_ = nullptr;
    GtkWidget* close_ = nullptr;
    GtkWidget* maximize_ = nullptr;
    GtkWidget* maximizeImage_ = nullptr;
    WindowButtonsArrangement arrangement_;
    std::optional<Point> closeOrigin_;
    bool maximized_ = false;
    guint32 pageTabTime_ = GDK_CURRENT_TIME;
    gulong layoutChanged_ = 0;
    nlohmann::json lastProbe_;
};

}  // namespace lumory::gtk
