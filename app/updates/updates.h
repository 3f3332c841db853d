#pragma once

#include <string>
#include <string_view>

#include "app_platform.h"

namespace lumory::Updates {

bool isEnabled(const DefaultsStore& defaults);
std::string currentVersion();
// Dotted numbers compared component by component; anything but digits counts as 0.
bool isNewer(std::string_view candidate, std::string_view current);
// Returns at once; the feed is fetched in the background and a newer release offered later.
void checkInBackground(const AppPlatform& platform);

}  // namespace lumory::Updates
