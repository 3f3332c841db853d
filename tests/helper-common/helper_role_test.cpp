#include "helper_role.h"

#include <sys/wait.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "relaunch_child.h"

namespace {

using lumory::helper::exitCodePassingChildCode;
using lumory::helper::exitCodeSuccessOrFailure;
using lumory::helper::hostedByDesktopEnvironment;
using lumory::helper::relaunchDisclaimedAndWait;

class HelperRoleTest : public testing::Test {
protected:
    void SetUp() override {
        unsetenv(kTestMarker);
        unsetenv(kReportVariable);
        unsetenv("LUMORY_DESKTOP");
        gDisclaimResult = 0;
        gDisclaimCalls = 0;
    }
    void TearDown() override {
        unsetenv(kTestMarker);
        unsetenv(kChildExitVariable);
        unsetenv("LUMORY_DESKTOP");
    }

    // Runs the decision as a helper's start-up would, with a child that exits as told.
    std::optional<int> relaunchWithChildExit(const char* exitWith) {
        setenv(kChildExitVariable, exitWith, 1);
        char arg0[] = "helper";
        char* argv[] = {arg0, nullptr};
        return relaunchDisclaimedAndWait(kTestMarker, hostedByDesktopEnvironment(), 1, argv);
    }
};

TEST_F(HelperRoleTest, HostedOnlyWhenDesktopVariableIsExactlyOne) {
    EXPECT_FALSE(hostedByDesktopEnvironment());
    for (const char* notHosted : {"", "true", "1 ", " 1", "01", "yes"}) {
        setenv("LUMORY_DESKTOP", notHosted, 1);
        EXPECT_FALSE(hostedByDesktopEnvironment()) << '"' << notHosted << '"';
    }
    setenv("LUMORY_DESKTOP", "1", 1);
    EXPECT_TRUE(hostedByDesktopEnvironment());
}

TEST_F(HelperRoleTest, HostedOrMarkedProcessServesItselfWithoutSpawning) {
    setenv("LUMORY_DESKTOP", "1", 1);
    EXPECT_FALSE(relaunchWithChildExit("0").has_value());
    EXPECT_EQ(gDisclaimCalls, 0);

    setenv("LUMORY_DESKTOP", "true", 1);
    setenv(kTestMarker, "", 1);  // present with an empty value still marks the child
    EXPECT_FALSE(relaunchWithChildExit("0").has_value());
    EXPECT_EQ(gDisclaimCalls, 0);
}

TEST_F(HelperRoleTest, ParentWaitsAndMapsTheChildsEnd) {
    std::optional<int> status = relaunchWithChildExit("3");
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(gDisclaimCalls, 1);
    EXPECT_EQ(exitCodePassingChildCode(*status), 3);
    EXPECT_EQ(exitCodeSuccessOrFailure(*status), 1);

    unsetenv(kTestMarker);
    status = relaunchWithChildExit("kill");
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(exitCodePassingChildCode(*status), 1);
    EXPECT_EQ(exitCodeSuccessOrFailure(*status), 1);

    unsetenv(kTestMarker);
    status = relaunchWithChildExit("0");
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(exitCodePassingChildCode(*status), 0);
    EXPECT_EQ(exitCodeSuccessOrFailure(*status), 0);
}

TEST_F(HelperRoleTest, FailedRelaunchServesInProcess) {
    gDisclaimResult = 1;
    EXPECT_FALSE(relaunchWithChildExit("0").has_value());
    EXPECT_EQ(gDisclaimCalls, 1);
}

}  // namespace
