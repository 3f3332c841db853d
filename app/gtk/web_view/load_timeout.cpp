#include "gtk/web_view/load_timeout.h"

namespace lumory::gtk {

void LoadTimeout::start(std::chrono::seconds timeout) {
    cancel();
    source_ = g_timeout_add_seconds(
        static_cast<guint>(timeout.count()),
        [](gpointer data) -> gboolean {
            auto* self = static_cast<LoadTimeout*>(data);
            self->source_ = 0;
            webkit_web_view_stop_loading(self->view_);
            return G_SOURCE_REMOVE;
        },
        this);
}

void LoadTimeout::cancel() {
    if (source_ != 0) g_source_remove(source_);
    source_ = 0;
}

}  // namespace lumory::gtk
