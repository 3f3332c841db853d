#pragma once

#include <gtk/gtk.h>

namespace lumory::gtk {

// With the test probe on, reports a dialog once it is on screen: its texts as the widgets hold
// them and, for each of its `buttonCount` responses in order, the button's label and its place
// on the screen, so tests can read the dialog and press its buttons as a user would.
void probeDialogWhenShown(GtkMessageDialog* dialog, int buttonCount);

}  // namespace lumory::gtk
