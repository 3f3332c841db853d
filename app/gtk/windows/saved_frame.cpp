#include "gtk/windows/saved_frame.h"

#include <algorithm>

namespace lumory::gtk {

namespace {

constexpr guint kFrameSaveDelayMs = 400;

}  // namespace

SavedFrame::SavedFrame(GtkWindow* window, WindowFrameStore store, int minimumWidth,
                       int minimumHeight, int width, int height, std::function<bool()> savable)
    : window_(window),
      store_(std::move(store)),
      savable_(std::move(savable)),
      minimumWidth_(minimumWidth),
      minimumHeight_(minimumHeight),
      width_(width),
      height_(height) {
    g_signal_connect(window_, "configure-event", G_CALLBACK(&SavedFrame::configured), this);
}

SavedFrame::~SavedFrame() {
    flush();
    g_signal_handlers_disconnect_by_data(window_, this);
}

bool SavedFrame::restore(const std::string& name) {
    name_ = name;
    auto frame = store_.load(name);
    if (!frame) return false;
    // Centring must use the size the window will really get.
    width_ = std::max(frame->width, minimumWidth_);
    height_ = std::max(frame->height, minimumHeight_);
    gtk_window_resize(window_, width_, height_);
    gtk_window_move(window_, frame->x, frame->y);
    return true;
}

gboolean SavedFrame::configured(GtkWidget*, GdkEventConfigure*, gpointer data) {
    static_cast<SavedFrame*>(data)->saveSoon();
    return FALSE;
}

// Moving or resizing sends a stream of configure events; the frame is written once they settle.
void SavedFrame::saveSoon() {
    if (!name_ || saveTimer_ != 0) return;
    saveTimer_ = g_timeout_add(
        kFrameSaveDelayMs,
        [](gpointer data) -> gboolean {
            auto* self = static_cast<SavedFrame*>(data);
            self->saveTimer_ = 0;
            self->save();
            return G_SOURCE_REMOVE;
        },
        this);
}

void SavedFrame::flush() {
    if (saveTimer_ == 0) return;
    g_source_remove(saveTimer_);
    saveTimer_ = 0;
    save();
}

void SavedFrame::save() {
    if (!name_ || !savable_()) return;
    WindowFrame frame;
    gtk_window_get_position(window_, &frame.x, &frame.y);
    gtk_window_get_size(window_, &frame.width, &frame.height);
    frame.width = std::max(frame.width, minimumWidth_);
    frame.height = std::max(frame.height, minimumHeight_);
    width_ = frame.width;
    height_ = frame.height;
    store_.save(*name_, frame);
}

}  // namespace lumory::gtk
