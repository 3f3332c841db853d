#include "gtk/desktop/single_instance_application.h"

#include <string>

namespace lumory::gtk {

namespace {

// Wayland launchers hand over an activation token in XDG_ACTIVATION_TOKEN. GTK 3 passes a second
// launch's DESKTOP_STARTUP_ID on to the running shell by itself, but knows nothing of this one.
std::string& activationToken() {
    static std::string token;
    return token;
}

void takeActivationToken() {
    const char* token = g_getenv("XDG_ACTIVATION_TOKEN");
    const char* startupId = g_getenv("DESKTOP_STARTUP_ID");
    bool gtkPassesOne = startupId != nullptr && *startupId != '\0';
    if (token != nullptr && *token != '\0' && !gtkPassesOne &&
        g_utf8_validate(token, -1, nullptr)) {
        activationToken() = token;
    }
    // Good for one activation only: nothing this shell starts may use it.
    g_unsetenv("XDG_ACTIVATION_TOKEN");
}

struct LumoryApplication {
    GtkApplication parent;
};
struct LumoryApplicationClass {
    GtkApplicationClass parent;
};
G_DEFINE_TYPE(LumoryApplication, lumory_application, GTK_TYPE_APPLICATION)

// A second launch hands its token to the running shell as the startup id, which GTK there uses
// to present the window (on Wayland through the activation protocol).
void lumory_application_add_platform_data(GApplication* application, GVariantBuilder* builder) {
    G_APPLICATION_CLASS(lumory_application_parent_class)->add_platform_data(application, builder);
    if (activationToken().empty()) return;
    g_variant_builder_add(builder, "{sv}", "desktop-startup-id",
                          g_variant_new_string(activationToken().c_str()));
}

void lumory_application_class_init(LumoryApplicationClass* applicationClass) {
    G_APPLICATION_CLASS(applicationClass)->add_platform_data = lumory_application_add_platform_data;
}

void lumory_application_init(LumoryApplication*) {}

}  // namespace

GtkApplication* newSingleInstanceApplication(const char* applicationId) {
    takeActivationToken();
    return GTK_APPLICATION(g_object_new(lumory_application_get_type(), "application-id",
                                        applicationId, "flags", G_APPLICATION_DEFAULT_FLAGS,
                                        nullptr));
}

}  // namespace lumory::gtk
