// The GSubprocess realisation of the service process, with small shell scripts as services and
// the default main context driven by the test.
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "gtk/system/gio_service_launcher.h"

namespace lumory::gtk {
namespace {

namespace fs = std::filesystem;

class GioServiceLauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "lumory-launch-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        for (pid_t pid : leftovers) {
            if (alive(pid)) kill(pid, SIGKILL);
        }
        fs::remove_all(folder);
    }

    std::string script(const std::string& name, const std::string& body) {
        std::string path = folder + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }

    // Starts `executable`, gathering its streams and exit; `keepReading` decides each chunk.
    LaunchOutcome start(const std::string& executable, EnvironmentList environment = {},
                        std::function<bool(std::string_view)> keepReading = nullptr) {
        ServiceLaunch launch;
        launch.executable = executable;
        launch.workingDirectory = folder;
        launch.environment = std::move(environment);
        launch.onOutput = [this, keepReading](std::string_view chunk) {
            output.append(chunk);
            return keepReading ? keepReading(chunk) : true;
        };
        launch.onError = [this](std::string_view chunk) {
            error.append(chunk);
            return true;
        };
        launch.onExit = [this](int status) {
            exitStatus = status;
            errorAtExit = error;
        };
        return launcher.launch(std::move(launch));
    }

    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            g_main_context_iteration(nullptr, FALSE);
            g_usleep(1000);
        }
        return true;
    }

    bool exited(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return runUntil([this] { return exitStatus.has_value(); }, timeout);
    }

    // Neither ended nor a zombie: a grandchild left to init may stay unreaped for a while.
    static bool alive(pid_t pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        if (!std::getline(stat, text)) return false;
        auto close = text.rfind(')');
        return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
    }

    GioServiceLauncher launcher;
    std::string folder;
    std::vector<pid_t> leftovers;  // killed whatever the test's outcome
    std::string output;
    std::string error;
    std::string errorAtExit;
    std::optional<int> exitStatus;
};

TEST_F(GioServiceLauncherTest, GivesTheChildOnlyItsOwnEnvironmentAndFolder) {
    setenv("LUMORY_LAUNCH_TEST_LEAK", "1", 1);
    auto outcome = start(script("env.sh", "env\npwd\n"),
                         {{"PATH", "/usr/bin:/bin"}, {"LANG", ""}, {"PORT", "5000"}});
    ASSERT_TRUE(outcome.process) << outcome.errorDescription;
    ASSERT_TRUE(exited());
    EXPECT_NE(output.find("PORT=5000\n"), std::string::npos);
    EXPECT_NE(output.find("LANG=\n"), std::string::npos);
    EXPECT_EQ(output.find("LUMORY_LAUNCH_TEST_LEAK"), std::string::npos);
    EXPECT_NE(output.find("\n" + folder + "\n"), std::string::npos);
    EXPECT_EQ(*exitStatus, 0);
}

// More than a pipe holds, so the last words are still in flight when the child has ended.
TEST_F(GioServiceLauncherTest, ReportsTheExitOnlyAfterTheLastStandardErrorText) {
    std::string path = script("fail.sh",
                              "head -c 300000 /dev/zero | tr '\\0' x >&2\n"
                              "printf 'cannot listen: <port> & more' >&2\nexit 3\n");
    for (int round = 0; round < 5; ++round) {
        error.clear();
        exitStatus.reset();
        auto outcome = start(path);
        ASSERT_TRUE(outcome.process);
        ASSERT_TRUE(exited());
        EXPECT_EQ(*exitStatus, 3);
        EXPECT_EQ(errorAtExit.size(), 300000u + 28u) << "round " << round;
        EXPECT_TRUE(errorAtExit.ends_with("cannot listen: <port> & more")) << "round " << round;
    }
}

TEST_F(GioServiceLauncherTest, AChildThatEndsAtOnceIsReported) {
    for (int round = 0; round < 20; ++round) {
        exitStatus.reset();
        auto outcome = start("/bin/true");
        ASSERT_TRUE(outcome.process);
        ASSERT_TRUE(exited());
        EXPECT_EQ(*exitStatus, 0);
        EXPECT_FALSE(outcome.process->isRunning());
    }
}

TEST_F(GioServiceLauncherTest, ASignalledChildReportsTheSignalNumber) {
    auto outcome = start(script("killed.sh", "kill -KILL $$\n"));
    ASSERT_TRUE(outcome.process);
    ASSERT_TRUE(exited());
    EXPECT_EQ(*exitStatus, 9);
}

TEST_F(GioServiceLauncherTest, TerminateEndsARunningChild) {
    auto outcome = start(script("sleeps.sh", "exec sleep 30\n"));
    ASSERT_TRUE(outcome.process);
    ASSERT_TRUE(outcome.process->isRunning());
    outcome.process->terminate();
    ASSERT_TRUE(exited());
    EXPECT_EQ(*exitStatus, 15);
    EXPECT_FALSE(outcome.process->isRunning());
}

// The refused stream is still drained: far more than a pipe holds follows, and the child must
// get to its end rather than block on a full pipe.
TEST_F(GioServiceLauncherTest, ARefusedChunkEndsThatStreamWhichIsStillDrained) {
    auto outcome = start(script("two.sh",
                                "echo first\nsleep 0.3\necho second\n"
                                "head -c 1000000 /dev/zero\necho done >&2\n"),
                         {}, [](std::string_view) { return false; });
    ASSERT_TRUE(outcome.process);
    ASSERT_TRUE(exited());
    EXPECT_EQ(output, "first\n");
    EXPECT_EQ(errorAtExit, "done\n");
}

TEST_F(GioServiceLauncherTest, StoppedReadingStillDrainsBothPipes) {
    auto outcome = start(script("chatty.sh",
                                "sleep 0.3\nhead -c 1000000 /dev/zero\n"
                                "head -c 1000000 /dev/zero >&2\nexit 4\n"));
    ASSERT_TRUE(outcome.process);
    outcome.process->stopReading();
    ASSERT_TRUE(exited());
    EXPECT_EQ(*exitStatus, 4);
    EXPECT_EQ(output, "");
    EXPECT_EQ(error, "");
}

// A service stuck in a blocked event loop, with a helper that does the same: the group kill is
// the only thing that ends them, and it must reach the helper after its parent is gone.
TEST_F(GioServiceLauncherTest, TheChildLeadsItsOwnGroupAndKillGroupEndsItWithWhatItStarted) {
    auto outcome = start(script("stubborn.sh",
                                "trap '' TERM INT\nsleep 60 &\necho $$ $!\n"
                                "while :; do sleep 1; done\n"));
    ASSERT_TRUE(outcome.process);
    ASSERT_TRUE(runUntil([this] { return output.find('\n') != std::string::npos; },
                         std::chrono::seconds(10)));
    pid_t child = 0;
    pid_t grandchild = 0;
    std::istringstream(output) >> child >> grandchild;
    ASSERT_GT(child, 0);
    ASSERT_GT(grandchild, 0);
    leftovers = {child, grandchild};
    EXPECT_EQ(getpgid(child), child);
    EXPECT_EQ(getpgid(grandchild), child);
    EXPECT_NE(getpgid(child), getpgrp());

    outcome.process->terminate();
    outcome.process->interrupt();
    runUntil([] { return false; }, std::chrono::milliseconds(300));
    ASSERT_TRUE(alive(child) && alive(grandchild)) << "the stand-in should ignore both";

    outcome.process->killGroup();
    ASSERT_TRUE(exited());
    EXPECT_EQ(*exitStatus, SIGKILL);
    EXPECT_TRUE(runUntil([&] { return !alive(grandchild); }, std::chrono::seconds(5)));
    outcome.process->killGroup();  // the group is empty now: nothing else is touched
}

// The shell keeps SIGINT and SIGHUP blocked for itself, and GLib ignores SIGPIPE; the service
// must not inherit either, or Ctrl+C in its own terminal sessions and broken pipes would not
// end it.
TEST_F(GioServiceLauncherTest, TheChildStartsWithNoSignalBlockedOrIgnored) {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGHUP);
    sigset_t before;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &before), 0);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction pipeBefore;
    sigaction(SIGPIPE, &ignore, &pipeBefore);
    auto outcome = start(script("mask.sh", "exec grep -E '^Sig(Blk|Ign)' /proc/self/status\n"));
    sigaction(SIGPIPE, &pipeBefore, nullptr);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ASSERT_TRUE(outcome.process);
    ASSERT_TRUE(exited());
    EXPECT_EQ(output, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST_F(GioServiceLauncherTest, ALaunchThatFailsSaysWhy) {
    std::string path = folder + "/not-executable";
    std::ofstream(path) << "plain text\n";
    auto outcome = start(path);
    EXPECT_FALSE(outcome.process);
    EXPECT_FALSE(outcome.errorDescription.empty());
}

}  // namespace
}  // namespace lumory::gtk
