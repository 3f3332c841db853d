#pragma once

#include <string>

#include "platform/menus.h"

namespace lumory {

// The shell's menu bar on the Linux desktop.
MenuBar buildMenuBar();

// The full-screen item says what choosing it will do: "Enter Full Screen", or "Exit Full
// Screen" while the window is full screen.
std::string fullScreenItemTitle(bool fullScreen);

// The accelerator in GTK's notation ("<Control><Shift>t"), empty when the item has none.
std::string acceleratorFor(const MenuItem& item);

}  // namespace lumory
