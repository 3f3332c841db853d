#include "gtk/system/display_backend.h"

#include <gdk/gdk.h>

namespace lumory::gtk {

void preferDisplayBackend() {
    gdk_set_allowed_backends("x11,*");
}

}  // namespace lumory::gtk
