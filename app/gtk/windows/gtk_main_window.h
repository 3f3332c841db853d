#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "gtk/windows/gtk_window_buttons.h"
#include "gtk/windows/on_demand_menu_bar.h"
#include "gtk/windows/saved_frame.h"
#include "gtk/windows/title_area_drag.h"
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
    static gboolean stateChanged(GtkWidget*, GdkEventWindowState* event, gpointer self);
    static gboolean deleteRequested(GtkWidget*, GdkEvent*, gpointer self);

    GtkWidget* window_ = nullptr;
    std::function<void()> closeRequested_;
    std::function<void(bool)> fullScreenChanged_;
    bool fullScreen_ = false;
    bool maximized_ = false;
    bool minimizedOnWayland_ = false;
    std::unique_ptr<GtkWindowButtons> windowButtons_;
    std::unique_ptr<OnDemandMenuBar> menuBar_;
    std::unique_ptr<TitleAreaDrag> titleAreaDrag_;
    std::unique_ptr<SavedFrame> savedFrame_;
};

}  // namespace lumory::gtk
