#pragma once

namespace lumory::gtk {

// Opens the desktop's notification settings through the settings application's own desktop
// file (GNOME, KDE Plasma, Xfce); false when none of them is installed or it would not start.
bool openNotificationSettings();

}  // namespace lumory::gtk
