#pragma once

namespace lumory::gtk {

// Picks GDK's windowing backend before GTK opens a display. GTK 3 on Wayland can neither keep a
// window above others nor place it, which the live overlay needs, so the X11 backend (XWayland
// on a Wayland desktop) comes first and native Wayland is the fall-back when no X server is
// reachable. GDK_BACKEND, when set, still decides (GDK_BACKEND=wayland forces native Wayland).
void preferDisplayBackend();

}  // namespace lumory::gtk
