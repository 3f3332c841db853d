#pragma once

#include <gtk/gtk.h>

namespace lumory::gtk {

// Plays the desktop's event sound for a new message through libcanberra (the sound theme's
// "message-new-instant"), tied to `window` when there is one.
void playNotificationSound(GtkWindow* window);

}  // namespace lumory::gtk
