#pragma once

#include <gtk/gtk.h>

namespace lumory::gtk {

// Gives `window` a title bar widget that is never shown: no visible decorations and the content
// reaches the top edge, but the client-side frame stays, with its resize edges and, where the
// desktop composites, its shadow.
void hideTitleBar(GtkWindow* window);

}  // namespace lumory::gtk
