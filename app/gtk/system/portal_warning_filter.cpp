#include "gtk/system/portal_warning_filter.h"

#include <glib.h>

#include <string_view>

namespace lumory::gtk {

namespace {

GLogWriterOutput quietPortalInhibitWarnings(GLogLevelFlags level, const GLogField* fields,
                                            gsize count, gpointer data) {
    std::string_view domain;
    std::string_view message;
    for (gsize i = 0; i < count; ++i) {
        if (fields[i].length != -1) continue;
        auto value = static_cast<const char*>(fields[i].value);
        if (g_strcmp0(fields[i].key, "GLIB_DOMAIN") == 0) domain = value;
        if (g_strcmp0(fields[i].key, "MESSAGE") == 0) message = value;
    }
    if (domain == "Gtk" &&
        (message.starts_with("Creating a portal monitor failed") ||
         message.starts_with("Calling org.freedesktop.portal.Inhibit.Inhibit failed"))) {
        return G_LOG_WRITER_HANDLED;
    }
    return g_log_writer_default(level, fields, count, data);
}

}  // namespace

void silencePortalInhibitWarnings() {
    g_log_set_writer_func(quietPortalInhibitWarnings, nullptr, nullptr);
}

}  // namespace lumory::gtk
