#pragma once

#include <gtk/gtk.h>

namespace lumory::gtk {

// The menu bar above the page, hidden until asked for: Alt pressed and released alone toggles
// it, as in desktop browsers, and F10 shows it with its first menu open. It hides again when
// its menus close.
class OnDemandMenuBar {
public:
    // Key presses reach it through `window`; a press of any button in `content` cancels an Alt.
    OnDemandMenuBar(GtkWindow* window, GtkWidget* content, GMenuModel* model);
    ~OnDemandMenuBar();
    OnDemandMenuBar(const OnDemandMenuBar&) = delete;
    OnDemandMenuBar& operator=(const OnDemandMenuBar&) = delete;

    // The bar, for the window to place above its content.
    GtkWidget* widget() const { return menuBar_; }
    void hide();

private:
    static gboolean keyPressed(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean keyReleased(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean buttonPressed(GtkWidget*, GdkEventButton*, gpointer self);
    // `key`: the key press or release that asked for the bar, which then opens its first menu.
    void setVisible(bool show, GdkEventKey* key);
    bool openFirstMenuOnReplay();

    GtkWindow* window_;
    GtkWidget* content_;
    GtkWidget* menuBar_;
    bool altAlone_ = false;
    guint openMenuSource_ = 0;
    GdkEvent* openMenuKey_ = nullptr;
    bool replayingMenuKey_ = false;
};

}  // namespace lumory::gtk
