#pragma once

#include <optional>

#include "platform/appearance.h"

namespace lumory::gtk {

// GTK's dark preference (GtkSettings' gtk-application-prefer-dark-theme), which GTK's windows,
// dialogs and menus and WebKit's prefers-color-scheme follow at once. Needs GTK started.
class GtkDarkStyle : public DarkStyle {
public:
    GtkDarkStyle();
    ~GtkDarkStyle() override;
    GtkDarkStyle(const GtkDarkStyle&) = delete;
    GtkDarkStyle& operator=(const GtkDarkStyle&) = delete;

    void preferDark(std::optional<bool> dark) override;
};

}  // namespace lumory::gtk
