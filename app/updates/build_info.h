#pragma once

#include <string_view>

namespace lumory::updates {

// Fixed when the shell is built: the project's version and the release feed (both may be
// empty). Defined in a library of their own, so the unit tests link a build that names neither.
extern const std::string_view kBuildVersion;
extern const std::string_view kBuildFeed;

}  // namespace lumory::updates
