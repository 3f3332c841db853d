#pragma once

#include <string>
#include <string_view>

#include "platform/host_system.h"
#include "platform/service_process.h"

namespace lumory {

// The local service's default port.
inline constexpr std::string_view kDesktopPort = "43981";

inline constexpr std::string_view kServiceExecutableName = "lumory-server";
inline constexpr std::string_view kCalendarHelperName = "lumory-cal";
inline constexpr std::string_view kAudioHelperName = "lumory-audio";

// The port the service is asked to use, for messages: LUMORY_DESKTOP_PORT when it names one.
std::string chosenServicePort(const HostSystem& system);

std::string pathInside(const std::string& directory, std::string_view name);

// The service's whole environment, in launch order; nothing else is inherited but the few
// variables that connect the helpers to the desktop session.
EnvironmentList buildServiceEnvironment(const HostSystem& system,
                                        const std::string& resourcesDirectory);

}  // namespace lumory
