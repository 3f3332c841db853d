#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app_platform.h"

namespace lumory::Updates {

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

bool isEnabled(const DefaultsStore& defaults);
// The version this build was made as; "0" when the build names none.
std::string currentVersion();
// Dotted numbers compared component by component; anything but digits counts as 0.
bool isNewer(std::string_view candidate, std::string_view current);
// Nothing when the body is not a JSON object with string `version` and `url`.
std::optional<Release> decodeRelease(std::string_view body);
// The address the check asks: the override when set, else the one built in. Empty when there is
// none to ask (the default build) or the override is not an address the check may use.
std::string feedURL(const HostSystem& system);

// Returns at once; the feed is fetched in the background and a newer release offered later.
void checkInBackground(const AppPlatform& platform);
// The same check against a given feed, for a given current version.
void checkInBackground(const AppPlatform& platform, const std::string& feed,
                       const std::string& current);
// The modal prompt: Download, Later, Skip This Version.
void present(const AppPlatform& platform, const Release& release, const std::string& current);

}  // namespace lumory::Updates
