#include "service/service_environment.h"

namespace lumory {

namespace {

constexpr std::string_view kServicePath = "/usr/bin:/bin:/usr/sbin:/sbin";
constexpr std::string_view kDefaultLanguage = "en_US.UTF-8";
constexpr std::string_view kLoopbackHost = "127.0.0.1";

// How the helpers the service starts reach the user's calendar database (session bus) and sound
// server (runtime folder, or an explicit server). Without them a helper would see neither.
constexpr const char* kDesktopSessionVariables[] = {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR",
                                                    "PULSE_SERVER"};

}  // namespace

std::string pathInside(const std::string& directory, std::string_view name) {
    std::string path = directory;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

std::string chosenServicePort(const HostSystem& system) {
    auto port = system.environmentValue("LUMORY_DESKTOP_PORT");
    return port && !port->empty() ? *port : std::string(kDesktopPort);
}

EnvironmentList buildServiceEnvironment(const HostSystem& system,
                                        const std::string& resourcesDirectory) {
    EnvironmentList environment;
    environment.emplace_back("HOME", system.homeDirectory());
    environment.emplace_back("PATH", kServicePath);
    environment.emplace_back("TMPDIR", system.temporaryDirectory());
    environment.emplace_back(
        "LANG", system.environmentValue("LANG").value_or(std::string(kDefaultLanguage)));
    for (const char* name : {"LUMORY_CONFIG", "LUMORY_WORKSPACE"}) {
        auto value = system.environmentValue(name);
        if (value && !value->empty()) environment.emplace_back(name, *value);
    }
    environment.emplace_back("HOST", kLoopbackHost);
    environment.emplace_back(
        "PORT", system.environmentValue("LUMORY_DESKTOP_PORT").value_or(std::string(kDesktopPort)));
    environment.emplace_back("NODE_ENV", "production");
    environment.emplace_back("LUMORY_DESKTOP", "1");
    environment.emplace_back("LUMORY_PARENT_PID", std::to_string(system.processId()));
    environment.emplace_back("LUMORY_CALENDAR_HELPER",
                             pathInside(resourcesDirectory, kCalendarHelperName));
    environment.emplace_back("LUMORY_AUDIO_HELPER",
                             pathInside(resourcesDirectory, kAudioHelperName));
    for (const char* name : kDesktopSessionVariables) {
        auto value = system.environmentValue(name);
        if (value && !value->empty()) environment.emplace_back(name, *value);
    }
    return environment;
}

}  // namespace lumory
