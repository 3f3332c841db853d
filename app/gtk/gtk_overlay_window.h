#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <optional>
#include <string>

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
    void setClickThrough(bool ignores) override;
    void beginMoveDrag() override;

private:
    static gboolean buttonPressed(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean buttonReleased(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean configured(GtkWidget*, GdkEventConfigure*, gpointer self);
    static void allocated(GtkWidget*, GdkRectangle*, gpointer self);
    static void realized(GtkWidget*, gpointer self);
    static gboolean deleteRequested(GtkWidget*, GdkEvent*, gpointer self);
    void applyInputShape();
    void saveFrameSoon();
    void saveFrame();
    void saveFramePendingNow();

    GtkWidget* window_ = nullptr;
    GtkWidget* content_ = nullptr;
    WindowFrameStore frameStore_;
    std::optional<std::string> autosaveName_;
    std::function<void()> closeRequested_;
    int width_;
    int height_;
    bool ignoresMouseEvents_ = false;
    std::optional<GdkEventButton> primaryPress_;
    guint saveTimer_ = 0;
};

}  // namespace lumory::gtk
