#pragma once

namespace lumory::gtk {

// A desktop whose portal has no Inhibit backend makes GTK warn at start-up and at every save
// before quitting. The shell works the same without it (logout is simply not held back), so
// these two warnings about the desktop are not the user's business; every other one still
// shows. Installs GLib's log writer: call it first thing.
void silencePortalInhibitWarnings();

}  // namespace lumory::gtk
