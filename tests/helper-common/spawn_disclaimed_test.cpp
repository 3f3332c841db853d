#include "spawn_disclaimed.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "relaunch_child.h"

extern char** environ;

namespace {

struct ChildReport {
    std::string exe;
    std::vector<std::string> args;
    std::set<std::string> env;
};

ChildReport readReport(const std::string& path) {
    ChildReport report;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("exe ", 0) == 0) report.exe = line.substr(4);
        if (line.rfind("arg ", 0) == 0) report.args.push_back(line.substr(4));
        if (line.rfind("env ", 0) == 0) report.env.insert(line.substr(4));
    }
    return report;
}

std::set<std::string> currentEnvironment() {
    std::set<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) entries.insert(*entry);
    return entries;
}

class SpawnDisclaimedTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumory-spawn-XXXXXX";
        int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        reportPath_ = pattern;
        setenv(kReportVariable, reportPath_.c_str(), 1);
        unsetenv(kTestMarker);
        unsetenv(kChildExitVariable);
        gDisclaimResult = 0;
        gDisclaimCalls = 0;
        gDisclaimLastValue = -1;
    }
    void TearDown() override {
        unsetenv(kTestMarker);
        unsetenv(kReportVariable);
        unsetenv("LUMORY_TEST_EXTRA");
        std::remove(reportPath_.c_str());
    }

    static int waitFor(pid_t child) {
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        return status;
    }

    std::string reportPath_;
};

TEST_F(SpawnDisclaimedTest, ChildGetsCallerArgumentsAndEnvironmentFromExecutablePath) {
    setenv("LUMORY_TEST_EXTRA", "with spaces = and \xc3\xa9", 1);
    char arg0[] = "not-the-program-path";
    char arg1[] = "first";
    char arg2[] = "";
    char arg3[] = "two words";
    char* argv[] = {arg0, arg1, arg2, arg3, nullptr};

    std::optional<pid_t> child = lumory::helper::spawnDisclaimed(kTestMarker, 4, argv);
    ASSERT_TRUE(child.has_value());
    EXPECT_EQ(gDisclaimCalls, 1);
    EXPECT_EQ(gDisclaimLastValue, 1);
    int status = waitFor(*child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    ChildReport report = readReport(reportPath_);
    EXPECT_EQ(report.exe, lumory::helper::currentExecutablePath());
    EXPECT_EQ(report.args, (std::vector<std::string>{"not-the-program-path", "first", "", "two words"}));
    // The marker is set in the caller too, so the child's environment is exactly the caller's.
    EXPECT_STREQ(std::getenv(kTestMarker), "1");
    EXPECT_EQ(report.env, currentEnvironment());
    EXPECT_TRUE(report.env.count(std::string(kTestMarker) + "=1"));
    EXPECT_TRUE(report.env.count("LUMORY_TEST_EXTRA=with spaces = and \xc3\xa9"));
}

TEST_F(SpawnDisclaimedTest, MarkerWithAnotherValueIsOverwritten) {
    setenv(kTestMarker, "earlier", 1);
    char arg0[] = "helper";
    char* argv[] = {arg0, nullptr};
    std::optional<pid_t> child = lumory::helper::spawnDisclaimed(kTestMarker, 1, argv);
    ASSERT_TRUE(child.has_value());
    waitFor(*child);
    ChildReport report = readReport(reportPath_);
    EXPECT_TRUE(report.env.count(std::string(kTestMarker) + "=1"));
    EXPECT_FALSE(report.env.count(std::string(kTestMarker) + "=earlier"));
}

TEST_F(SpawnDisclaimedTest, FailingDisclaimSpawnsNothingAndLeavesMarkerUnset) {
    gDisclaimResult = 22;
    char arg0[] = "helper";
    char* argv[] = {arg0, nullptr};
    EXPECT_FALSE(lumory::helper::spawnDisclaimed(kTestMarker, 1, argv).has_value());
    EXPECT_EQ(gDisclaimCalls, 1);
    EXPECT_EQ(std::getenv(kTestMarker), nullptr);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child exists
}

TEST_F(SpawnDisclaimedTest, FailingSpawnReturnsNothingButSetsMarker) {
    char arg0[] = "helper";
    char arg1[] = "an argument that must be freed";
    char* argv[] = {arg0, arg1, nullptr};
    EXPECT_FALSE(lumory::helper::spawnDisclaimed(kTestMarker, 2, argv, "/nonexistent/lumory-helper")
                     .has_value());
    EXPECT_STREQ(std::getenv(kTestMarker), "1");
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST_F(SpawnDisclaimedTest, MissingExecutablePathReturnsNothingWithoutMarker) {
    char arg0[] = "helper";
    char* argv[] = {arg0, nullptr};
    EXPECT_FALSE(lumory::helper::spawnDisclaimed(kTestMarker, 1, argv, "").has_value());
    EXPECT_EQ(std::getenv(kTestMarker), nullptr);
}

}  // namespace
