// The real shell follows the desktop's dark style from a stand-in portal on its private session
// bus: GTK's dark preference, the service's page (prefers-color-scheme, read through the page)
// and the shell's own loading and failure pages, at start and live, without a restart.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include "dbus/settings_portal.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_session_bus.h"
#include "xvfb/xvfb_shell.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kServices = LUMORY_TEST_SERVICES;
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
constexpr std::uint32_t kPreferDark = 1;
constexpr std::uint32_t kPreferLight = 2;
// The shell's own pages' backgrounds, light and dark.
constexpr char kLightBackground[] = "srgb(247,248,250)";
constexpr char kDarkBackground[] = "srgb(17,24,39)";
// Inside the centred window, above the pages' centred text.
constexpr int kBackgroundX = 800;
constexpr int kBackgroundY = 250;

bool isDarkStyle(const json& report, bool dark) {
    return report.value("event", "") == "dark-style" && report.value("preferDark", !dark) == dark;
}

bool isTitle(const json& report, const std::string& title) {
    return report.value("event", "") == "title" && report.value("title", "") == title;
}

class DarkStyleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        ASSERT_TRUE(bus.started()) << "no private session bus";
        fs::create_directories(kArtifacts);
    }

    // The shell on the private bus; GNOME's setting, if this system has it, from GSettings'
    // memory backend, where it is "default".
    void start(ShellUnderTest& shell) {
        ASSERT_TRUE(shell.start(display, {"DBUS_SESSION_BUS_ADDRESS=" + bus.address(),
                                          "GSETTINGS_BACKEND=memory", "LUMORY_DESKTOP_PORT=0"}));
    }

    // Milliseconds from now until the probe reports what `wanted` holds for; -1 when it never
    // does within `timeout`.
    long long millisecondsUntil(ShellUnderTest& shell,
                                const std::function<bool(const json&)>& wanted,
                                std::chrono::milliseconds timeout = 10s) {
        auto from = std::chrono::steady_clock::now();
        if (!shell.waitForProbe(wanted, timeout)) return -1;
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - from)
            .count();
    }

    // Milliseconds until the screen shows `colour` where the page's background is; -1 when it
    // never does within `timeout`.
    long long millisecondsUntilPainted(const std::string& colour, const std::string& picture,
                                       std::chrono::milliseconds timeout = 15s) {
        auto from = std::chrono::steady_clock::now();
        for (auto deadline = from + timeout; std::chrono::steady_clock::now() < deadline;
             std::this_thread::sleep_for(100ms)) {
            if (display.screenshot(picture) &&
                pixelColour(picture, kBackgroundX, kBackgroundY) == colour) {
                return std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - from)
                    .count();
            }
        }
        return -1;
    }

    XvfbDisplay display{1600, 1000};
    XvfbSessionBus bus{false};
};

TEST_F(DarkStyleTest, GtkAndTheServicesPageFollowThePortalAtStartAndLive) {
    SettingsPortal portal(bus.address(), kPreferDark);
    ASSERT_TRUE(portal.started());
    ShellUnderTest shell(kShell, kServices + "/color_scheme_page.js");
    start(shell);
    ASSERT_TRUE(shell.waitForProbe([](const json& r) { return isDarkStyle(r, true); }, 30s))
        << shell.standardError();
    ASSERT_TRUE(shell.waitForProbe([](const json& r) { return isTitle(r, "Lumory dark"); }, 30s))
        << "the page did not open dark\n"
        << shell.standardError();

    for (int round = 0; round < 2; ++round) {
        portal.setColorScheme(kPreferLight);
        long long gtk =
            millisecondsUntil(shell, [](const json& r) { return isDarkStyle(r, false); });
        long long page =
            millisecondsUntil(shell, [](const json& r) { return isTitle(r, "Lumory light"); });
        EXPECT_NE(gtk, -1) << "GTK stayed dark";
        EXPECT_NE(page, -1) << "the page stayed dark";
        std::cout << "to light: GTK after " << gtk << " ms, the page after " << gtk + page
                  << " ms\n";
        portal.setColorScheme(kPreferDark);
        gtk = millisecondsUntil(shell, [](const json& r) { return isDarkStyle(r, true); });
        page = millisecondsUntil(shell, [](const json& r) { return isTitle(r, "Lumory dark"); });
        EXPECT_NE(gtk, -1) << "GTK stayed light";
        EXPECT_NE(page, -1) << "the page stayed light";
        std::cout << "to dark: GTK after " << gtk << " ms, the page after " << gtk + page
                  << " ms\n";
    }
    EXPECT_EQ(portal.calls(), std::vector<std::string>{"ReadOne"});
    EXPECT_NE(shell.stop(10s), -1);
}

// The loading page while the service has not announced itself, then the failure page: both
// drawn dark or light as the desktop says, and redrawn when it changes its mind.
TEST_F(DarkStyleTest, TheShellsOwnPagesFollowTheDesktop) {
    std::string picture = kArtifacts + "/dark-style-own-page.png";
    {
        SettingsPortal portal(bus.address(), kPreferDark);
        ASSERT_TRUE(portal.started());
        ShellUnderTest shell(kShell, kServices + "/never_ready.sh");
        start(shell);
        auto loading = shell.waitForProbe(
            [](const json& r) { return r.value("event", "") == "load-finished"; }, 15s);
        ASSERT_TRUE(loading) << shell.standardError();
        ASSERT_EQ(loading->value("text", ""), "Opening Lumory...");
        EXPECT_NE(millisecondsUntilPainted(kDarkBackground, picture), -1)
            << "the loading page is not dark: " << pixelColour(picture, kBackgroundX, kBackgroundY);
        portal.setColorScheme(kPreferLight);
        long long painted = millisecondsUntilPainted(kLightBackground, picture);
        EXPECT_NE(painted, -1) << "the loading page stayed dark";
        std::cout << "loading page painted light after " << painted << " ms\n";
    }
    SettingsPortal portal(bus.address(), kPreferLight);
    ASSERT_TRUE(portal.started());
    ShellUnderTest shell(kShell, kServices + "/exits_with_status_3.sh");
    start(shell);
    ASSERT_TRUE(shell.waitForProbe(isFailurePage, 30s)) << shell.standardError();
    EXPECT_NE(millisecondsUntilPainted(kLightBackground, picture), -1)
        << "the failure page is not light: " << pixelColour(picture, kBackgroundX, kBackgroundY);
    portal.setColorScheme(kPreferDark);
    long long painted = millisecondsUntilPainted(kDarkBackground, picture);
    EXPECT_NE(painted, -1) << "the failure page stayed light";
    std::cout << "failure page painted dark after " << painted << " ms\n";
}

// A portal that takes the read and never answers holds nothing up: the page opens as usual, and
// the portal's next announcement is still followed.
TEST_F(DarkStyleTest, APortalThatNeverAnswersDoesNotHoldUpTheStart) {
    SettingsPortal portal(bus.address(), kPreferDark, SettingsPortal::Answers::never);
    ASSERT_TRUE(portal.started());
    ShellUnderTest shell(kShell, kServices + "/color_scheme_page.js");
    start(shell);
    ASSERT_TRUE(shell.waitForProbe([](const json& r) { return isTitle(r, "Lumory light"); }, 30s))
        << shell.standardError();
    EXPECT_TRUE(portal.waitForCalls(1, 5s)) << "the shell never asked the portal";
    portal.setColorScheme(kPreferDark);
    EXPECT_TRUE(shell.waitForProbe([](const json& r) { return isTitle(r, "Lumory dark"); }, 10s))
        << "the page did not follow the announcement";
}

}  // namespace
}  // namespace lumory::testing
