#pragma once

#include <gtk/gtk.h>

namespace lumory::gtk {

// Moves a window of the given size to the middle of the primary monitor's work area (the first
// monitor where none is primary); nothing when the display has no monitor.
void centerOnWorkArea(GtkWindow* window, int width, int height);

}  // namespace lumory::gtk
