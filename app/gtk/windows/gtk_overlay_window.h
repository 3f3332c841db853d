#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "gtk/windows/saved_frame.h"
#include "platform/overlay_window.h"
#include "window/window_frame_store.h"

namespace lumory::gtk {

// The live overlay on GTK: an undecorated-looking client-side-framed window (so it keeps its
// resize edges and, on a compositing desktop, its shadow) on an RGBA visual with a transparent
// background, kept above, sticky and out of the taskbar and pager.
class GtkOverlayWindow : public OverlayWindow {
public:
    GtkOverlayWindow(GtkApplication* application, const OverlayWindowSpec& spec, GtkWidget* content,
                     WindowFrameStore frameStore, std::function<void()> closeRequested);
    ~GtkOverlayWindow() override;

    bool restoreFrame(const std::string& name) override;
    void center() override;
    void present() override;
    void hide() override;
    void setClickThrough(bool clickThrough) override;
    void beginMoveDrag() override;

private:
    static gboolean buttonPressed(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean buttonReleased(GtkWidget*, GdkEventButton* event, gpointer self);
    static void allocated(GtkWidget*, GdkRectangle*, gpointer self);
    static void realized(GtkWidget*, gpointer self);
    static gboolean deleteRequested(GtkWidget*, GdkEvent*, gpointer self);
    void applyInputShape();

    GtkWidget* window_ = nullptr;
    GtkWidget* content_ = nullptr;
    std::function<void()> closeRequested_;
    bool clickThrough_ = false;
    std::optional<GdkEventButton> primaryPress_;
    std::unique_ptr<SavedFrame> savedFrame_;
};

}  // namespace lumory::gtk
