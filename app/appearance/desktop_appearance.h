#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/appearance.h"

namespace lumory {

enum class ColorScheme { noPreference, preferDark, preferLight };

// Where the colour preference in force comes from.
enum class ColorSchemeSource { none, portal, gnome };

// The portal's numbers; any other number is no preference, as the portal asks of its readers.
ColorScheme colorSchemeFromPortal(std::uint32_t value);
// GNOME's names; an unknown name is no preference.
ColorScheme colorSchemeFromGnome(std::string_view value);
// "no-preference", "prefer-dark", "prefer-light".
std::string_view colorSchemeName(ColorScheme scheme);
// What the toolkit is told: dark, light, or its own settings.
std::optional<bool> darkPreference(ColorScheme scheme);

// Follows the desktop's colour preference with the toolkit's dark preference. The portal is the
// desktop-neutral place and wins whenever it answers; GNOME's own setting stands in while there
// is none (no portal, one that does not publish it, or before its first answer).
class DesktopAppearance : public ColorSchemeListener {
public:
    explicit DesktopAppearance(DarkStyle& style);

    void portalColorSchemeChanged(std::optional<std::uint32_t> value) override;
    void gnomeColorSchemeChanged(std::optional<std::string> value) override;

    ColorScheme colorScheme() const;
    ColorSchemeSource source() const;

private:
    void apply();

    DarkStyle& style_;
    std::optional<ColorScheme> portal_;
    std::optional<ColorScheme> gnome_;
    // What the toolkit was last told; nothing told yet leaves it on its own settings.
    std::optional<bool> applied_;
};

}  // namespace lumory
