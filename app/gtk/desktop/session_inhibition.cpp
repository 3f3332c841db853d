#include "gtk/desktop/session_inhibition.h"

namespace lumory::gtk {

GtkSessionInhibition::GtkSessionInhibition(GtkApplication* application, GtkWindow* window,
                                           const std::string& reason)
    : application_(GObjectPtr<GtkApplication>::retain(application)) {
    cookie_ = gtk_application_inhibit(application, window, GTK_APPLICATION_INHIBIT_LOGOUT,
                                      reason.c_str());
}

GtkSessionInhibition::~GtkSessionInhibition() {
    if (cookie_ != 0) gtk_application_uninhibit(application_.get(), cookie_);
}

}  // namespace lumory::gtk
