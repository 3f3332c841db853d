#include "relaunch_child.h"

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

extern char** environ;

int gDisclaimResult = 0;
int gDisclaimCalls = 0;
int gDisclaimLastValue = -1;

// Found by dlsym on the running program because the test is linked with -rdynamic.
extern "C" __attribute__((visibility("default"), used)) int responsibility_spawnattrs_setdisclaim(
    posix_spawnattr_t* /*attributes*/, int disclaim) {
    ++gDisclaimCalls;
    gDisclaimLastValue = disclaim;
    return gDisclaimResult;
}

namespace {

// Report format: "exe <path>", then "arg <value>" per argument, then "env <entry>" per entry.
int runAsChild(int argc, char** argv) {
    if (const char* reportPath = std::getenv(kReportVariable)) {
        if (FILE* report = std::fopen(reportPath, "w")) {
            char exe[4096] = {};
            ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
            std::fprintf(report, "exe %s\n", length > 0 ? exe : "");
            for (int i = 0; i < argc; ++i) std::fprintf(report, "arg %s\n", argv[i]);
            for (char** entry = environ; *entry != nullptr; ++entry)
                std::fprintf(report, "env %s\n", *entry);
            std::fclose(report);
        }
    }
    const char* exitWith = std::getenv(kChildExitVariable);
    if (exitWith != nullptr && std::strcmp(exitWith, "kill") == 0) raise(SIGKILL);
    return exitWith != nullptr ? std::atoi(exitWith) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv(kTestMarker) != nullptr) return runAsChild(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
