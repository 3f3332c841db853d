#pragma once

#include <gtk/gtk.h>

namespace lumory::gtk {

// Plays the desktop's event sound for a new message through libcanberra (the sound theme's
// "message-new-instant"), tied to `window` when there is one.
void playNotificationSound(GtkWindow* window);

// Opens the desktop's notification settings through the settings application's own desktop
// file (GNOME, KDE Plasma, Xfce); false when none of them is installed or it would not start.
bool openNotificationSettings();

}  // namespace lumory::gtk
