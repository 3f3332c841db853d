#include "updates/build_info.h"

#ifndef LUMORY_VERSION
#define LUMORY_VERSION ""
#endif
#ifndef LUMORY_UPDATE_FEED
#define LUMORY_UPDATE_FEED ""
#endif

namespace lumory::updates {

const std::string_view kBuildVersion = LUMORY_VERSION;
const std::string_view kBuildFeed = LUMORY_UPDATE_FEED;

}  // namespace lumory::updates
