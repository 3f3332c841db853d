#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>

#include "gtk_window_buttons.h"
#include "platform/main_window.h"
#include "window/window_frame_store.h"

namespace lumory::gtk {

// The main window: a GtkApplicationWindow without a visible title bar whose content is the web
// view, with the menu bar above it shown only on demand.
class GtkMainWindow : public MainWindow {
public:
    GtkMainWindow(GtkApplication* application, const MainWindowSpec& spec, GtkWidget* content,
                  GMenuModel* menuModel, WindowFrameStore frameStore,
                  std::function<void()> closeRequested);
    ~GtkMainWindow() override;

    GtkWindow* gtkWindow() const { return GTK_WINDOW(window_); }

    void restoreFrame(const std::string& name) override;
    void center() override;
    void present() override;
    void minimize() override;
    void toggleMaximized() override;
    void toggleFullScreen() override;
    void beginMoveDrag() override;
    void placeWindowControls(Point closeOrigin) override;

    // Hides the menu bar again once a menu item has done its work.
    void menuItemActivated();
    // Called whenever the window enters or leaves full screen.
    void setFullScreenChanged(std::function<void(bool)> changed) {
        fullScreenChanged_ = std::move(changed);
    }

private:
    static gboolean keyPressed(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean keyReleased(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean buttonPressed(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean buttonReleased(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean pointerMoved(GtkWidget*, GdkEventMotion* event, gpointer self);
    static gboolean stateChanged(GtkWidget*, GdkEventWindowState* event, gpointer self);
    static gboolean configured(GtkWidget*, GdkEventConfigure*, gpointer self);
    static gboolean deleteRequested(GtkWidget*, GdkEvent*, gpointer self);
    // `key`: the key press or release that asked for the bar, which then opens its first menu.
    void showMenuBar(bool show, GdkEventKey* key);
    bool openFirstMenuOnReplay();
    void titleBarDoubleClicked();
    void saveFrameSoon();
    void saveFrame();

    GtkWidget* window_ = nullptr;
    GtkWidget* menuBar_ = nullptr;
    GtkWidget* content_ = nullptr;
    WindowFrameStore frameStore_;
    std::optional<std::string> autosaveName_;
    std::function<void()> closeRequested_;
    std::function<void(bool)> fullScreenChanged_;
    int minimumWidth_;
    int minimumHeight_;
    int width_;
    int height_;
    bool fullScreen_ = false;
    bool maximized_ = false;
    bool minimizedOnWayland_ = false;
    // Alt pressed and released alone toggles the menu bar, as in desktop browsers.
    bool altAlone_ = false;
    std::optional<GdkEventButton> primaryPress_;
    // The remembered press is the second of a double click: the title areas then maximise.
    bool primaryPressIsDouble_ = false;
    // The page asked for a move with the remembered press; it starts past the drag threshold.
    bool dragArmed_ = false;
    // When the second press of a double click was released (monotonic µs), 0 for none.
    gint64 releasedDoubleTime_ = 0;
    std::unique_ptr<GtkWindowButtons> windowButtons_;
    guint saveTimer_ = 0;
    guint openMenuSource_ = 0;
    GdkEvent* openMenuKey_ = nullptr;
    bool replayingMenuKey_ = false;
};

}  // namespace lumory::gtk
