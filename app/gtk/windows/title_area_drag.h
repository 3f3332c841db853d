#pragma once

#include <gtk/gtk.h>

#include <optional>

#include "platform/main_window.h"

namespace lumory::gtk {

// The page's own title areas act as a title bar: dragging one with the primary button moves
// the window, and a double click does what the desktop's title bars do.
class TitleAreaDrag {
public:
    // `owner` is the window that `window` shows, minimised or maximised on a double click.
    TitleAreaDrag(GtkWindow* window, GtkWidget* content, MainWindow& owner);
    ~TitleAreaDrag();
    TitleAreaDrag(const TitleAreaDrag&) = delete;
    TitleAreaDrag& operator=(const TitleAreaDrag&) = delete;

    // The page asked for a move with the primary button held down in a title area.
    void begin();

private:
    static gboolean buttonPressed(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean buttonReleased(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean pointerMoved(GtkWidget*, GdkEventMotion* event, gpointer self);
    void doubleClicked();

    GtkWindow* window_;
    GtkWidget* content_;
    MainWindow& owner_;
    std::optional<GdkEventButton> primaryPress_;
    // The remembered press is the second of a double click: the title areas then maximise.
    bool primaryPressIsDouble_ = false;
    // The page asked for a move with the remembered press; it starts past the drag threshold.
    bool dragArmed_ = false;
    // When the second press of a double click was released (monotonic µs), 0 for none.
    gint64 releasedDoubleTime_ = 0;
};

}  // namespace lumory::gtk
