// The colour preference as GIO reads it: a stand-in portal on a private session bus (current,
// older, silent, without the setting, starting late, going away) and GNOME's setting on
// GSettings' memory backend.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <variant>

#include "dbus/bus_service_thread.h"
#include "dbus/settings_portal.h"
#include "gobject_ptr.h"
#include "gtk/system/desktop_color_scheme.h"
#include "xvfb/xvfb_session_bus.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;

// Every report in order: a portal value, the portal gone ("portal:none"), a GNOME value.
class RecordingListener : public ColorSchemeListener {
public:
    void portalColorSchemeChanged(std::optional<std::uint32_t> value) override {
        reports.push_back(value ? "portal:" + std::to_string(*value) : "portal:none");
    }
    void gnomeColorSchemeChanged(std::optional<std::string> value) override {
        reports.push_back("gnome:" + value.value_or("none"));
    }
    std::vector<std::string> reports;
};

// Runs the default main context until `done` holds or `timeout` passes.
template <typename Condition>
bool runUntil(Condition done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void runFor(std::chrono::milliseconds time) {
    runUntil([] { return false; }, time);
}

class ColorSchemeOnTheBus : public ::testing::Test {
protected:
    static void SetUpTestSuite() { setenv("GSETTINGS_BACKEND", "memory", 1); }
    void SetUp() override {
        ASSERT_TRUE(bus.started());
        connection = GObjectPtr<GDBusConnection>(connectToBus(bus.address()));
        ASSERT_TRUE(connection);
    }
    void TearDown() override {
        sources.reset();
        g_dbus_connection_close_sync(connection.get(), nullptr, nullptr);
    }

    // Follows with a schema for GNOME's setting that does not exist: the portal alone.
    void followThePortalAlone() {
        sources =
            std::make_unique<gtk::DesktopColorScheme>(connection.get(), "org.lumory.test.absent");
        sources->follow(listener);
    }

    bool reported(const std::vector<std::string>& wanted, std::chrono::milliseconds timeout = 5s) {
        return runUntil([&] { return listener.reports == wanted; }, timeout);
    }

    XvfbSessionBus bus{false};
    GObjectPtr<GDBusConnection> connection;
    RecordingListener listener;
    std::unique_ptr<gtk::DesktopColorScheme> sources;
};

TEST_F(ColorSchemeOnTheBus, ARunningPortalIsReadAndItsChangesOfTheSettingFollowed) {
    SettingsPortal portal(bus.address(), 1);
    ASSERT_TRUE(portal.started());
    followThePortalAlone();
    ASSERT_TRUE(reported({"portal:1"})) << ::testing::PrintToString(listener.reports);
    EXPECT_EQ(portal.calls(), std::vector<std::string>{"ReadOne"});

    // Other settings the portal announces are not this one.
    portal.announce("org.freedesktop.appearance", "contrast", 1);
    portal.announce("org.gnome.desktop.interface", "color-scheme", 2);
    portal.setColorScheme(2);
    portal.setColorScheme(0);
    EXPECT_TRUE(reported({"portal:1", "portal:2", "portal:0"}))
        << ::testing::PrintToString(listener.reports);
    runFor(200ms);
    EXPECT_EQ(listener.reports.size(), 3u) << ::testing::PrintToString(listener.reports);
}

TEST_F(ColorSchemeOnTheBus, AnOlderPortalIsReadThroughReadAndItsDoubleVariant) {
    SettingsPortal portal(bus.address(), 1, SettingsPortal::Answers::readOnly);
    ASSERT_TRUE(portal.started());
    followThePortalAlone();
    EXPECT_TRUE(reported({"portal:1"})) << ::testing::PrintToString(listener.reports);
    // ReadOne never reaches the stand-in: GDBus answers UnknownMethod for it.
    EXPECT_EQ(portal.calls(), std::vector<std::string>{"Read"});
}

TEST_F(ColorSchemeOnTheBus, APortalThatStartsLaterIsReadAndOneThatGoesIsReportedGone) {
    followThePortalAlone();
    ASSERT_TRUE(reported({"portal:none"})) << ::testing::PrintToString(listener.reports);
    auto portal = std::make_unique<SettingsPortal>(bus.address(), 1);
    ASSERT_TRUE(portal->started());
    EXPECT_TRUE(reported({"portal:none", "portal:1"}))
        << ::testing::PrintToString(listener.reports);
    portal.reset();
    EXPECT_TRUE(reported({"portal:none", "portal:1", "portal:none"}))
        << ::testing::PrintToString(listener.reports);
}

TEST_F(ColorSchemeOnTheBus, APortalWithoutTheSettingIsNoAnswer) {
    SettingsPortal portal(bus.address(), 1, SettingsPortal::Answers::notPublished);
    ASSERT_TRUE(portal.started());
    followThePortalAlone();
    EXPECT_TRUE(reported({"portal:none"})) << ::testing::PrintToString(listener.reports);
    EXPECT_EQ(portal.calls(), std::vector<std::string>{"ReadOne"});
}

// A portal that takes the read and never answers: a change it announces meanwhile is followed,
// and the read's time-out does not undo it.
TEST_F(ColorSchemeOnTheBus, AChangeAnnouncedWhileTheReadHangsIsKept) {
    SettingsPortal portal(bus.address(), 0, SettingsPortal::Answers::never);
    ASSERT_TRUE(portal.started());
    auto started = std::chrono::steady_clock::now();
    followThePortalAlone();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 100ms) << "following waited";
    ASSERT_TRUE(runUntil([&] { return !portal.calls().empty(); }, 5s));
    portal.setColorScheme(1);
    ASSERT_TRUE(reported({"portal:1"})) << ::testing::PrintToString(listener.reports);
    runFor(4s);
    EXPECT_EQ(listener.reports, std::vector<std::string>{"portal:1"});
}

TEST_F(ColorSchemeOnTheBus, WithoutASessionBusThereIsNoPortalToAsk) {
    gtk::DesktopColorScheme sources(nullptr, "org.lumory.test.absent");
    sources.follow(listener);
    runFor(200ms);
    EXPECT_TRUE(listener.reports.empty()) << ::testing::PrintToString(listener.reports);
}

// Gone while its read is under way: the late answer must not reach the listener or the object.
TEST_F(ColorSchemeOnTheBus, SourcesThatGoWhileReadingAreNotCalledBack) {
    auto portal =
        std::make_unique<SettingsPortal>(bus.address(), 1, SettingsPortal::Answers::never);
    ASSERT_TRUE(portal->started());
    followThePortalAlone();
    ASSERT_TRUE(runUntil([&] { return !portal->calls().empty(); }, 5s));
    sources.reset();
    portal.reset();  // answers its calls with an error as it goes
    runFor(300ms);
    EXPECT_TRUE(listener.reports.empty()) << ::testing::PrintToString(listener.reports);
}

TEST_F(ColorSchemeOnTheBus, GnomesSettingIsReadAndFollowed) {
    g_autoptr(GSettingsSchema) schema = g_settings_schema_source_lookup(
        g_settings_schema_source_get_default(), "org.gnome.desktop.interface", TRUE);
    if (schema == nullptr || !g_settings_schema_has_key(schema, "color-scheme")) {
        GTEST_SKIP() << "this system has no GNOME color-scheme setting";
    }
    g_autoptr(GSettings) gnome = g_settings_new("org.gnome.desktop.interface");
    g_settings_set_string(gnome, "color-scheme", "prefer-dark");
    gtk::DesktopColorScheme sources(connection.get());
    sources.follow(listener);
    // GNOME's setting is there at once, before the bus is even asked.
    ASSERT_FALSE(listener.reports.empty());
    EXPECT_EQ(listener.reports.front(), "gnome:prefer-dark");
    g_settings_set_string(gnome, "color-scheme", "prefer-light");
    g_settings_set_string(gnome, "color-scheme", "default");
    EXPECT_TRUE(runUntil(
        [&] {
            return std::count(listener.reports.begin(), listener.reports.end(), "gnome:default") ==
                   1;
        },
        5s))
        << ::testing::PrintToString(listener.reports);
    std::erase(listener.reports, "portal:none");
    EXPECT_EQ(listener.reports, (std::vector<std::string>{"gnome:prefer-dark", "gnome:prefer-light",
                                                          "gnome:default"}));
}

// GSettings ends the process on an unknown schema or key: neither may be assumed.
TEST_F(ColorSchemeOnTheBus, ASystemWithoutGnomesSchemaOrKeyHasNoGnomeSetting) {
    for (const char* schema : {"org.lumory.test.absent", "org.gnome.desktop.wm.preferences"}) {
        RecordingListener seen;
        gtk::DesktopColorScheme sources(connection.get(), schema);
        sources.follow(seen);
        runUntil([&] { return !seen.reports.empty(); }, 2s);
        EXPECT_EQ(seen.reports, std::vector<std::string>{"portal:none"}) << schema;
    }
}

}  // namespace
}  // namespace lumory::testing
