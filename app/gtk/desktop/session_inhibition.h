#pragma once

#include <gtk/gtk.h>

#include <string>

#include "gobject_ptr.h"
#include "platform/desktop.h"

namespace lumory::gtk {

// GNOME's session manager (or the portal inside a sandbox) shows `reason` when the user tries to
// log out; without a session manager the cookie is 0 and there is nothing to release.
class GtkSessionInhibition : public SessionInhibition {
public:
    GtkSessionInhibition(GtkApplication* application, GtkWindow* window,
                         const std::string& reason);
    ~GtkSessionInhibition() override;

private:
    GObjectPtr<GtkApplication> application_;
    guint cookie_ = 0;
};

}  // namespace lumory::gtk
