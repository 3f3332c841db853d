#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <optional>
#include <string>

#include "window/window_frame_store.h"

namespace lumory::gtk {

// A window's frame kept in the frame store under a name: put back once, then written again
// whenever the window has stopped moving or resizing. Sizes are never below the minimum.
class SavedFrame {
public:
    // `savable` tells whether the window's present frame is one to come back to.
    SavedFrame(GtkWindow* window, WindowFrameStore store, int minimumWidth, int minimumHeight,
               int width, int height, std::function<bool()> savable);
    // Writes a frame still waiting to be written.
    ~SavedFrame();
    SavedFrame(const SavedFrame&) = delete;
    SavedFrame& operator=(const SavedFrame&) = delete;

    // Applies the frame saved under `name`, if any, and keeps saving under it from now on;
    // false when there was none.
    bool restore(const std::string& name);
    // Writes a frame still waiting to be written now.
    void flush();
    // The window's size as last restored or saved, the size it was made with before that: GTK
    // knows the real size only once the window is shown.
    int width() const { return width_; }
    int height() const { return height_; }

private:
    static gboolean configured(GtkWidget*, GdkEventConfigure*, gpointer self);
    void saveSoon();
    void save();

    GtkWindow* window_;
    WindowFrameStore store_;
    std::optional<std::string> name_;
    std::function<bool()> savable_;
    int minimumWidth_;
    int minimumHeight_;
    int width_;
    int height_;
    guint saveTimer_ = 0;
};

}  // namespace lumory::gtk
