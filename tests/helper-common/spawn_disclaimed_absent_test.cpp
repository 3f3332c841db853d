#include <sys/wait.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "helper_role.h"
#include "spawn_disclaimed.h"

namespace {

constexpr const char* kMarker = "LUMORY_TEST_ABSENT_DISCLAIMED";

// This program does not export the disclaim function, as no Linux system does.
TEST(SpawnDisclaimedAbsent, NothingSpawnedAndMarkerNotSet) {
    unsetenv(kMarker);
    char arg0[] = "helper";
    char* argv[] = {arg0, nullptr};
    EXPECT_FALSE(lumory::helper::spawnDisclaimed(kMarker, 1, argv).has_value());
    EXPECT_EQ(std::getenv(kMarker), nullptr);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);

    EXPECT_FALSE(lumory::helper::relaunchDisclaimedAndWait(kMarker, false, 1, argv).has_value());
    EXPECT_EQ(std::getenv(kMarker), nullptr);
}

}  // namespace
