#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumory {

// What the desktop's places for its colour preference say, as each of them says it.
class ColorSchemeListener {
public:
    virtual ~ColorSchemeListener() = default;
    // The desktop portal's org.freedesktop.appearance color-scheme (0 no preference, 1 prefer
    // dark, 2 prefer light); nothing when no portal runs or it does not publish the setting.
    virtual void portalColorSchemeChanged(std::optional<std::uint32_t> value) = 0;
    // GNOME's org.gnome.desktop.interface color-scheme ("default", "prefer-dark",
    // "prefer-light"); nothing when this system has no such setting.
    virtual void gnomeColorSchemeChanged(std::optional<std::string> value) = 0;
};

// The desktop's colour preference, read and then followed. Realised on GIO in app/gtk/.
class ColorSchemeSources {
public:
    virtual ~ColorSchemeSources() = default;
    // Tells `listener` what each place says once it is known and again after every change, until
    // the sources go. Never waits for a place that is slow to answer.
    virtual void follow(ColorSchemeListener& listener) = 0;
};

// The toolkit's dark preference, which the windows, dialogs, menus and web views draw by.
class DarkStyle {
public:
    virtual ~DarkStyle() = default;
    // true dark, false light; nothing gives the choice back to the toolkit's own settings.
    virtual void preferDark(std::optional<bool> dark) = 0;
};

}  // namespace lumory
