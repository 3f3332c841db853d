#pragma once

#include <gtk/gtk.h>

namespace lumory::gtk {

// The shell's one GtkApplication: launching again while it runs brings the main window forward
// instead of starting a second shell, with the activation token the launcher handed to the new
// launch. Takes that token from the environment, so call it before anything else starts.
GtkApplication* newSingleInstanceApplication(const char* applicationId);

}  // namespace lumory::gtk
