#include "updates.h"

namespace lumory::Updates {

// The release feed arrives with its own code; until then there is nothing to check.
void checkInBackground(const AppPlatform&) {}

}  // namespace lumory::Updates
