#include "appearance/desktop_appearance.h"

namespace lumory {

ColorScheme colorSchemeFromPortal(std::uint32_t value) {
    switch (value) {
        case 1:
            return ColorScheme::preferDark;
        case 2:
            return ColorScheme::preferLight;
        default:
            return ColorScheme::noPreference;
    }
}

ColorScheme colorSchemeFromGnome(std::string_view value) {
    if (value == "prefer-dark") return ColorScheme::preferDark;
    if (value == "prefer-light") return ColorScheme::preferLight;
    return ColorScheme::noPreference;
}

std::string_view colorSchemeName(ColorScheme scheme) {
    switch (scheme) {
        case ColorScheme::preferDark:
            return "prefer-dark";
        case ColorScheme::preferLight:
            return "prefer-light";
        case ColorScheme::noPreference:
            break;
    }
    return "no-preference";
}

std::optional<bool> darkPreference(ColorScheme scheme) {
    switch (scheme) {
        case ColorScheme::preferDark:
            return true;
        case ColorScheme::preferLight:
            return false;
        case ColorScheme::noPreference:
            break;
    }
    return std::nullopt;
}

DesktopAppearance::DesktopAppearance(DarkStyle& style) : style_(style) {}

void DesktopAppearance::portalColorSchemeChanged(std::optional<std::uint32_t> value) {
    portal_ = value ? std::optional(colorSchemeFromPortal(*value)) : std::nullopt;
    apply();
}

void DesktopAppearance::gnomeColorSchemeChanged(std::optional<std::string> value) {
    gnome_ = value ? std::optional(colorSchemeFromGnome(*value)) : std::nullopt;
    apply();
}

ColorSchemeSource DesktopAppearance::source() const {
    if (portal_) return ColorSchemeSource::portal;
    if (gnome_) return ColorSchemeSource::gnome;
    return ColorSchemeSource::none;
}

ColorScheme DesktopAppearance::colorScheme() const {
    return portal_.value_or(gnome_.value_or(ColorScheme::noPreference));
}

void DesktopAppearance::apply() {
    std::optional<bool> dark = darkPreference(colorScheme());
    // Every change of the preference makes GTK restyle every widget: only real changes go on.
    if (dark == applied_) return;
    applied_ = dark;
    style_.preferDark(dark);
}

}  // namespace lumory
