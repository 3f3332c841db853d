// Which colour preference the shell follows: the portal's and GNOME's values, which of the two
// wins, and what reaches the toolkit.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "appearance/desktop_appearance.h"

namespace lumory {
namespace {

class RecordingDarkStyle : public DarkStyle {
public:
    void preferDark(std::optional<bool> dark) override { told.push_back(dark); }
    std::vector<std::optional<bool>> told;
};

constexpr std::optional<bool> kOwn = std::nullopt;

TEST(ColorSchemeValues, ThePortalsNumbersAndGnomesNamesMapToOnePreference) {
    EXPECT_EQ(colorSchemeFromPortal(0), ColorScheme::noPreference);
    EXPECT_EQ(colorSchemeFromPortal(1), ColorScheme::preferDark);
    EXPECT_EQ(colorSchemeFromPortal(2), ColorScheme::preferLight);
    // Numbers a later portal may add mean no preference to a reader that does not know them.
    EXPECT_EQ(colorSchemeFromPortal(3), ColorScheme::noPreference);
    EXPECT_EQ(colorSchemeFromPortal(std::numeric_limits<std::uint32_t>::max()),
              ColorScheme::noPreference);

    EXPECT_EQ(colorSchemeFromGnome("default"), ColorScheme::noPreference);
    EXPECT_EQ(colorSchemeFromGnome("prefer-dark"), ColorScheme::preferDark);
    EXPECT_EQ(colorSchemeFromGnome("prefer-light"), ColorScheme::preferLight);
    EXPECT_EQ(colorSchemeFromGnome(""), ColorScheme::noPreference);
    EXPECT_EQ(colorSchemeFromGnome("Prefer-Dark"), ColorScheme::noPreference);

    EXPECT_EQ(darkPreference(ColorScheme::preferDark), std::optional(true));
    EXPECT_EQ(darkPreference(ColorScheme::preferLight), std::optional(false));
    EXPECT_EQ(darkPreference(ColorScheme::noPreference), kOwn);
    EXPECT_EQ(colorSchemeName(ColorScheme::preferDark), "prefer-dark");
    EXPECT_EQ(colorSchemeName(ColorScheme::noPreference), "no-preference");
}

TEST(DesktopAppearance, TheToolkitIsLeftAloneUntilTheDesktopStatesAPreference) {
    RecordingDarkStyle style;
    DesktopAppearance appearance(style);
    EXPECT_EQ(appearance.source(), ColorSchemeSource::none);
    appearance.portalColorSchemeChanged(std::nullopt);
    appearance.gnomeColorSchemeChanged(std::string("default"));
    appearance.portalColorSchemeChanged(0u);
    EXPECT_TRUE(style.told.empty());
    EXPECT_EQ(appearance.colorScheme(), ColorScheme::noPreference);
}

TEST(DesktopAppearance, ThePortalWinsOverGnomesSettingWheneverItAnswers) {
    RecordingDarkStyle style;
    DesktopAppearance appearance(style);
    appearance.gnomeColorSchemeChanged(std::string("prefer-light"));
    EXPECT_EQ(appearance.source(), ColorSchemeSource::gnome);
    appearance.portalColorSchemeChanged(1u);
    EXPECT_EQ(appearance.source(), ColorSchemeSource::portal);
    EXPECT_EQ(appearance.colorScheme(), ColorScheme::preferDark);
    // GNOME's setting changing under a portal that answers changes nothing.
    appearance.gnomeColorSchemeChanged(std::string("prefer-dark"));
    appearance.gnomeColorSchemeChanged(std::string("prefer-light"));
    // The portal's "no preference" is the desktop's word too: GNOME's value does not come back.
    appearance.portalColorSchemeChanged(0u);
    EXPECT_EQ(style.told, (std::vector<std::optional<bool>>{false, true, kOwn}));
}

TEST(DesktopAppearance, GnomesSettingStandsInWhileThereIsNoPortalAndAfterItGoes) {
    RecordingDarkStyle style;
    DesktopAppearance appearance(style);
    appearance.gnomeColorSchemeChanged(std::string("prefer-dark"));
    appearance.portalColorSchemeChanged(2u);
    appearance.portalColorSchemeChanged(std::nullopt);
    EXPECT_EQ(appearance.source(), ColorSchemeSource::gnome);
    appearance.gnomeColorSchemeChanged(std::string("default"));
    EXPECT_EQ(appearance.source(), ColorSchemeSource::gnome);
    // A system without GNOME's schema says nothing; the toolkit keeps its own setting.
    appearance.gnomeColorSchemeChanged(std::nullopt);
    EXPECT_EQ(appearance.source(), ColorSchemeSource::none);
    EXPECT_EQ(style.told, (std::vector<std::optional<bool>>{true, false, true, kOwn}));
}

TEST(DesktopAppearance, OnlyRealChangesReachTheToolkit) {
    RecordingDarkStyle style;
    DesktopAppearance appearance(style);
    appearance.portalColorSchemeChanged(1u);
    appearance.portalColorSchemeChanged(1u);
    appearance.gnomeColorSchemeChanged(std::string("prefer-dark"));
    // The portal going while GNOME says the same keeps the toolkit as it is.
    appearance.portalColorSchemeChanged(std::nullopt);
    appearance.portalColorSchemeChanged(2u);
    appearance.portalColorSchemeChanged(2u);
    // Unknown numbers and "no preference" are the same thing to the toolkit.
    appearance.portalColorSchemeChanged(0u);
    appearance.portalColorSchemeChanged(7u);
    EXPECT_EQ(style.told, (std::vector<std::optional<bool>>{true, false, kOwn}));
}

}  // namespace
}  // namespace lumory
