#include <gtest/gtest.h>

#include "fake_service.h"
#include "service/service_environment.h"

namespace lumory::fakes {
namespace {

TEST(ServiceEnvironmentTest, BuildsExactlyTheServiceVariablesInOrder) {
    FakeHostSystem system;
    system.environment = {{"LANG", "de_DE.UTF-8"},
                          {"LUMORY_CONFIG", "/home/ada/.lumory.json"},
                          {"LUMORY_WORKSPACE", "/home/ada/notes"},
                          {"DISPLAY", ":0"},
                          {"PATH", "/home/ada/bin:/usr/bin"},
                          {"NODE_OPTIONS", "--inspect"},
                          {"XDG_RUNTIME_DIR", "/run/user/1000"},
                          {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus"},
                          {"PULSE_SERVER", ""}};
    EnvironmentList expected = {
        {"HOME", "/home/ada"},
        {"PATH", "/usr/bin:/bin:/usr/sbin:/sbin"},
        {"TMPDIR", "/tmp/ada"},
        {"LANG", "de_DE.UTF-8"},
        {"LUMORY_CONFIG", "/home/ada/.lumory.json"},
        {"LUMORY_WORKSPACE", "/home/ada/notes"},
        {"HOST", "127.0.0.1"},
        {"PORT", "43981"},
        {"NODE_ENV", "production"},
        {"LUMORY_DESKTOP", "1"},
        {"LUMORY_PARENT_PID", "4242"},
        {"LUMORY_CALENDAR_HELPER", "/opt/lumory/lib/lumory/lumory-cal"},
        {"LUMORY_AUDIO_HELPER", "/opt/lumory/lib/lumory/lumory-audio"},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus"},
        {"XDG_RUNTIME_DIR", "/run/user/1000"},
    };
    EXPECT_EQ(buildServiceEnvironment(system, "/opt/lumory/lib/lumory"), expected);
}

TEST(ServiceEnvironmentTest, DropsEmptyConfigurationButKeepsAnEmptyLanguage) {
    FakeHostSystem system;
    system.environment = {{"LANG", ""}, {"LUMORY_CONFIG", ""}, {"LUMORY_WORKSPACE", ""}};
    EnvironmentList environment = buildServiceEnvironment(system, "/r/");
    auto value = [&](const std::string& name) -> std::optional<std::string> {
        for (auto& [key, text] : environment) {
            if (key == name) return text;
        }
        return std::nullopt;
    };
    EXPECT_EQ(value("LANG"), "");
    EXPECT_EQ(value("LUMORY_CONFIG"), std::nullopt);
    EXPECT_EQ(value("LUMORY_WORKSPACE"), std::nullopt);
    EXPECT_EQ(value("LUMORY_CALENDAR_HELPER"), "/r/lumory-cal");
    EXPECT_EQ(environment.size(), 11u);
}

TEST(ServiceEnvironmentTest, DefaultsTheLanguageWhenUnset) {
    FakeHostSystem system;
    EnvironmentList environment = buildServiceEnvironment(system, "/r");
    EXPECT_EQ(environment[3], (std::pair<std::string, std::string>{"LANG", "en_US.UTF-8"}));
}

TEST(ServiceEnvironmentTest, CarriesTheChosenPortAsPortOnly) {
    for (std::string port : {"5000", ""}) {
        FakeHostSystem system;
        system.environment = {{"LUMORY_DESKTOP_PORT", port}};
        EnvironmentList environment = buildServiceEnvironment(system, "/r");
        int portEntries = 0;
        for (auto& [key, text] : environment) {
            EXPECT_NE(key, "LUMORY_DESKTOP_PORT");
            if (key == "PORT") {
                ++portEntries;
                EXPECT_EQ(text, port);
            }
        }
        EXPECT_EQ(portEntries, 1);
    }
}

}  // namespace
}  // namespace lumory::fakes
