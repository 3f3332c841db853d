#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/host_system.h"
#include "platform/settings_store.h"

namespace lumory::updates {

// Environment variable that replaces the built-in feed address: a development aid for tests
// and for trying a feed before it ships. Also works in builds without a feed.
inline constexpr char kFeedOverrideVariable[] = "LUMORY_UPDATE_FEED";

inline constexpr char kCheckKey[] = "LumoryUpdateCheck";
inline constexpr char kLastCheckKey[] = "LumoryUpdateLastCheck";
inline constexpr char kSkippedKey[] = "LumoryUpdateSkipped";

// One release as the feed describes it.
struct Release {
    std::string version;
    std::string url;
    std::optional<std::string> notes;
};

bool isEnabled(const SettingsStore& settings);
// The version this build was made as; "0" when the build names none.
std::string currentVersion();
// Dotted numbers compared component by component; anything but digits counts as 0.
bool isNewer(std::string_view candidate, std::string_view current);
// Nothing when the body is not a JSON object with string `version` and `url`.
std::optional<Release> decodeRelease(std::string_view body);
// The address the check asks: the override when set, else the one built in. Empty when there is
// none to ask (the default build) or the override is not an address the check may use.
std::string feedURL(const HostSystem& system);
// Only web addresses are handed to the desktop: the feed must not be able to start whatever
// handler another scheme (file:, a custom one) would run.
bool isWebAddress(const std::string& text);

}  // namespace lumory::updates
