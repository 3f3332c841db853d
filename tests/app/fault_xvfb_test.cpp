// The real shell against stand-in services that crash, hang, flood or corrupt their streams, never
// send their page or will not stop, and against update feeds that flood, redirect or fail, many
// shells at once on one display. Whatever the peer does, the shell must stay up, answer a quit,
// never leave the service blocked on a full pipe nor running afterwards, keep its memory bounded,
// and end on the page or the failure page that names what happened.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "http/http_test_server.h"
#include "process/child_process.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_input.h"
#include "xvfb/xvfb_shell.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kNodeService = std::string(LUMORY_TEST_SERVICES) + "/fault_service.js";
const std::string kShellService = std::string(LUMORY_TEST_SERVICES) + "/fault_service.sh";
constexpr char kFailureHeadline[] = "Lumory could not open\n";
constexpr char kStopped[] = "The local Lumory service stopped unexpectedly.";
constexpr char kNoPage[] = "The local Lumory service did not send its page.";
constexpr char kKeepsCrashing[] =
    "Lumory's page stopped working several times in a row.\n\n"
    "Choose Reload in the View menu to try again.";

// One launch: which service, the plan it reads, and how the window must end.
struct FaultRun {
    std::string name;
    std::string service;
    std::string plan;
    // Empty: the test page. Otherwise the failure page's message exactly, or (`mustContain`
    // set) the start of it.
    std::string failure;
    std::string mustContain;
    std::string port = "0";
    bool measureMemory = false;
    // The update feed's path on the test feed server; empty for no update check.
    std::string feedPath{};
    // Sent once the service's page is asked for, before it could load: the shell must quit at
    // once. SIGTERM goes to the shell, SIGINT to its whole job, as from a terminal.
    int earlySignal = 0;
};

FaultRun fault(std::string name, std::string service, std::string plan, std::string failure,
               std::string mustContain = "", std::string port = "0") {
    return FaultRun{std::move(name),    std::move(service),     std::move(plan),
                    std::move(failure), std::move(mustContain), std::move(port)};
}

struct Outcome {
    std::string problem;  // empty when the run went as it must
    long peakKilobytes = 0;
    std::chrono::milliseconds quitTook{0};
};

// The feeds the update check is pointed at, and an address no redirect may lead it to.
struct Feeds {
    Feeds() {
        std::string newer = json{{"version", "999.0.0"},
                                 {"url", "https://releases.example.org/lumory-999.0.0.tar.gz"}}
                                .dump();
        feed.answer("/flooding", {200, "application/json", std::string(4096, ' '), 0ms, false,
                                  {}, /*endless=*/true});
        feed.answer("/redirecting", {302, "text/plain", "", 0ms, false,
                                     {{"Location", elsewhere.url("/feed")}}});
        feed.answer("/failing", {500, "application/json", newer});
        elsewhere.answer("/feed", {200, "application/json", newer});
    }

    bool asked(const std::string& path, std::chrono::milliseconds limit) const {
        auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            for (const auto& request : feed.requests()) {
                if (request.path == path) return true;
            }
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(50ms);
        }
    }

    HttpTestServer feed;
    HttpTestServer elsewhere{"127.0.0.2"};
};

bool isTestPage(const json& report) {
    return report.value("event", "") == "load-finished" &&
           report.value("url", "").rfind("http://127.0.0.1:", 0) == 0 &&
           report.value("text", "").find("Fault test page") != std::string::npos;
}

std::string shortened(std::string text) {
    if (text.size() > 300) text = text.substr(0, 300) + "...";
    return text;
}

// Copying the programs and forking the shell, one run at a time: a file open for writing in one
// thread while another forks stays open in that child, and executing it then fails with
// ETXTBSY.
std::mutex launching;

// The shell asked the service for its page (which may never come).
bool isServicePageAsked(const json& report) {
    return report.value("event", "") == "load-request" &&
           report.value("url", "").rfind("http://127.0.0.1:", 0) == 0;
}

// What is left of the shell's tree once it quit: the service and whatever it started.
std::string leftovers(const ShellUnderTest& shell) {
    auto deadline = std::chrono::steady_clock::now() + 2s;
    std::vector<pid_t> left;
    while (!(left = processesMentioning(shell.root())).empty() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    std::string names;
    for (pid_t pid : left) names += " " + std::to_string(pid);
    return names;
}

// Checks that the shell ended by itself with status 0 and left nothing behind.
void expectCleanEnd(Outcome& outcome, const ShellUnderTest& shell, int status,
                    std::chrono::milliseconds limit) {
    if (status == -1) {
        outcome.problem += " / the shell did not quit within " + std::to_string(limit.count()) +
                           " ms";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        outcome.problem += " / the shell quit with wait status " + std::to_string(status);
    } else if (std::string left = leftovers(shell); !left.empty()) {
        outcome.problem += " / still running afterwards:" + left;
    }
}

// Quits while the service's page is still on its way.
Outcome quitBeforeThePage(ShellUnderTest& shell, const FaultRun& run) {
    Outcome outcome;
    auto asked = shell.waitForProbe(isServicePageAsked, 30s);
    if (!asked) {
        outcome.problem = "the service's page was never asked for";
        return outcome;
    }
    std::this_thread::sleep_for(1s);
    auto sent = std::chrono::steady_clock::now();
    kill(run.earlySignal == SIGINT ? -shell.pid() : shell.pid(), run.earlySignal);
    int status = shell.waitUntilEnded(5s);
    outcome.quitTook = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - sent);
    expectCleanEnd(outcome, shell, status, 5s);
    return outcome;
}

Outcome runOnce(const XvfbDisplay& display, const FaultRun& run, const Feeds& feeds) {
    Outcome outcome;
    std::unique_lock lock(launching);
    ShellUnderTest shell(kShell, run.service);
    std::ofstream(shell.root() + "/home/fault-plan") << run.plan << "\n";
    std::vector<std::string> environment = {"LUMORY_DESKTOP_PORT=" + run.port};
    if (!run.feedPath.empty()) {
        environment.push_back("LUMORY_UPDATE_FEED=" + feeds.feed.url(run.feedPath));
    }
    bool started = shell.start(display, environment);
    lock.unlock();
    if (!started) {
        outcome.problem = "the shell did not start";
        return outcome;
    }
    if (run.earlySignal != 0) return quitBeforeThePage(shell, run);
    // Every report passes through here, so an update prompt is seen whenever it comes.
    bool prompted = false;
    auto seen = [&](const json& report) {
        if (report.value("event", "") == "dialog") prompted = true;
        return report.value("event", "") == "load-finished";
    };
    // Stops at the first page that is either the expected one or a failure page.
    std::string lastPage = "none";  // for the message when no right page comes
    auto end = shell.waitForProbe(
        [&](const json& report) {
            if (!seen(report)) return false;
            lastPage = report.dump();
            return run.failure.empty() ? isTestPage(report) || isFailurePage(report)
                                       : isFailurePage(report);
        },
        60s);
    auto text = end ? end->value("text", "") : std::string();
    std::string message = text.substr(std::min(text.size(), sizeof kFailureHeadline - 1));
    if (!end) {
        outcome.problem = "no page within 60 s; the last page loaded: " + shortened(lastPage);
    } else if (run.failure.empty() && !isTestPage(*end)) {
        outcome.problem = "failure page instead of the page: " + shortened(message);
    } else if (!run.failure.empty() && run.mustContain.empty() && message != run.failure) {
        outcome.problem = "wrong failure page: " + shortened(message);
    } else if (!run.mustContain.empty() && (message.rfind(run.failure, 0) != 0 ||
                                            message.find(run.mustContain) == std::string::npos)) {
        outcome.problem = "wrong failure page: " + shortened(message);
    }
    // The window stays on it: nothing replaces it a moment later.
    if (outcome.problem.empty()) {
        auto later = shell.waitForProbe(seen, 700ms);
        if (later) outcome.problem = "the page changed afterwards to " + later->value("url", "");
    }
    // The check has asked and had its answer by the time a prompt could show.
    if (!run.feedPath.empty()) {
        if (!feeds.asked(run.feedPath, 40s)) outcome.problem += " / the feed was never asked";
        shell.waitForProbe(seen, 1500ms);
        if (prompted) outcome.problem += " / an update was offered";
    }
    if (shell.waitUntilEnded(0ms) != -1) {
        outcome.problem += " / the shell ended by itself";
        return outcome;
    }
    if (run.measureMemory) outcome.peakKilobytes = peakResidentKiB(shell.pid());
    auto asked = std::chrono::steady_clock::now();
    int status = shell.stop(15s);
    outcome.quitTook = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - asked);
    expectCleanEnd(outcome, shell, status, 15s);
    if (!outcome.problem.empty()) {
        outcome.problem += "\n    shell stderr: " + shortened(shell.standardError());
    }
    return outcome;
}

// Every kind of fault, with the moment and sizes drawn from `random`.
std::vector<FaultRun> plannedRuns(std::mt19937& random) {
    auto seconds = [&](int lowMs, int highMs) {
        std::ostringstream text;
        text << std::uniform_int_distribution<int>(lowMs, highMs)(random) / 1000.0;
        return text.str();
    };
    std::vector<FaultRun> runs;
    auto add = [&](int count, auto make) {
        for (int index = 0; index < count; ++index) runs.push_back(make(index));
    };
    std::string statusNine = "The local Lumory service stopped unexpectedly (status 9).";
    // Killed or thrown at a random moment, before or after the ready line.
    for (const char* when : {"before-ready", "after-ready"}) {
        add(6, [&](int) {
            return fault(std::string("crash silently ") + when, kNodeService,
                         std::string("crash ") + when + " silent " + seconds(0, 400), statusNine);
        });
        add(5, [&](int) {
            return fault(std::string("crash saying why ") + when, kNodeService,
                         std::string("crash ") + when + " says-why " + seconds(0, 400),
                         std::string(kStopped) + "\n\nfault: about to be killed");
        });
        add(5, [&](int) {
            return fault(std::string("crash by exception ") + when, kNodeService,
                         std::string("crash ") + when + " throws " + seconds(0, 400),
                         std::string(kStopped) + "\n\n", "Error: fault: thrown on purpose");
        });
    }
    // Hung: the start-up watchdog reports it, with what the service said if anything.
    add(3, [&](int index) {
        std::string port = std::to_string(43100 + index);
        return fault("hang silently", kShellService, "hang silent",
                     "Lumory took too long to start. Port " + port + " may already be in use.", "",
                     port);
    });
    add(3, [&](int) {
        return fault("hang saying why", kShellService, "hang says-why",
                     "Lumory could not finish starting.\n\nfault: stuck on start-up");
    });
    // Bytes that are not UTF-8, then far more than a pipe holds: the service must get to exit.
    add(6, [&](int index) {
        return fault("not UTF-8 on standard output", kShellService,
                     "bad-stdout " + std::to_string(256 + 256 * index),
                     "The local Lumory service stopped unexpectedly (status 4).");
    });
    add(6, [&](int index) {
        return fault("not UTF-8 on standard error", kShellService,
                     "bad-stderr " + std::to_string(256 + 256 * index),
                     std::string(kStopped) + "\n\nfault: before the bad byte");
    });
    add(6, [&](int index) {
        return fault("not UTF-8 on standard error, then ready", kNodeService,
                     "bad-stderr-then-ready " + std::to_string(512 + 256 * index), "");
    });
    add(12, [&](int) {
        return fault(
            "ready line byte by byte", kNodeService,
            "byte-by-byte " + std::to_string(std::uniform_int_distribution<int>(0, 8)(random)), "");
    });
    add(3, [&](int) {
        FaultRun run = fault("100 MB without a line feed", kNodeService, "flood 100", "");
        run.measureMemory = true;
        return run;
    });
    add(6, [&](int) {
        return fault("both pipes closed, then exit", kShellService,
                     "close-pipes both-exit " + seconds(0, 300),
                     "The local Lumory service stopped unexpectedly (status 5).");
    });
    add(6, [&](int) {
        return fault("standard output closed, then exit", kShellService,
                     "close-pipes stdout-only " + seconds(0, 300),
                     std::string(kStopped) + "\n\nfault: no standard output");
    });
    add(2, [&](int index) {
        std::string port = std::to_string(43200 + index);
        return fault("both pipes closed, still running", kShellService, "close-pipes both-live",
                     "Lumory took too long to start. Port " + port + " may already be in use.", "",
                     port);
    });
    add(6, [&](int) {
        return fault("ready line for nothing, then exit", kShellService,
                     "ready-unserved " + seconds(0, 600),
                     "The local Lumory service stopped unexpectedly (status 0).");
    });
    add(6, [&](int) {
        return fault("ready line, then exit", kNodeService, "ready-then-exit " + seconds(0, 600),
                     "The local Lumory service stopped unexpectedly (status 0).");
    });
    add(4, [&](int) {
        FaultRun run = fault("well-behaved", kNodeService, "plain", "");
        run.measureMemory = true;
        return run;
    });
    // Takes the connection and never answers: the failure page once the page load's bound
    // passed, and a quit before then is not held up by a page that cannot save.
    add(2, [&](int) {
        return fault("page never sent", kNodeService, "page-never-answers", kNoPage);
    });
    for (int signal : {SIGTERM, SIGINT}) {
        add(signal == SIGTERM ? 2 : 1, [&](int) {
            FaultRun run = fault(std::string("quit before the page came, by ") +
                                     (signal == SIGTERM ? "SIGTERM" : "SIGINT to the job"),
                                 kNodeService, "page-never-answers", "");
            run.earlySignal = signal;
            return run;
        });
    }
    add(2, [&](int) {
        FaultRun run = fault("NUL on standard error, then 100 MB of log", kNodeService,
                             "nul-stderr-flood 100", "");
        run.measureMemory = true;
        return run;
    });
    // Stopped only by the group's SIGKILL, helper and all.
    add(3, [&](int) {
        return fault("ignores SIGTERM and SIGINT, with a helper", kNodeService, "stubborn", "");
    });
    // One run per feed: each waits for its own path to be asked.
    for (const char* feed : {"flooding", "redirecting", "failing"}) {
        FaultRun run = fault(std::string("a ") + feed + " update feed", kNodeService, "plain", "");
        run.feedPath = std::string("/") + feed;
        run.measureMemory = std::string(feed) == "flooding";
        runs.push_back(run);
    }
    return runs;
}

int concurrency() {
    const char* value = std::getenv("LUMORY_FAULT_SHELLS");
    int count = value ? std::atoi(value) : 0;
    return count > 0 ? count : 6;
}

TEST(ShellFaultsTest, NoServiceFaultTakesTheShellDownOrLeavesItOnTheWrongPage) {
    XvfbDisplay display;
    ASSERT_TRUE(display.started()) << "Xvfb did not start";
    unsigned seed = std::random_device{}();
    if (const char* fixed = std::getenv("LUMORY_FAULT_SEED"))
        seed = std::strtoul(fixed, nullptr, 10);
    std::mt19937 random(seed);
    std::vector<FaultRun> runs = plannedRuns(random);
    std::shuffle(runs.begin(), runs.end(), random);
    ASSERT_GE(runs.size(), 100u);
    RecordProperty("seed", std::to_string(seed));

    // The slowest runs (twenty seconds of the watchdog or the page load) first, so they overlap
    // with the rest.
    std::stable_partition(runs.begin(), runs.end(), [](const FaultRun& run) {
        return run.failure.find("took too long") != std::string::npos ||
               run.failure.find("could not finish") != std::string::npos ||
               run.failure == kNoPage;
    });
    Feeds feeds;
    ASSERT_FALSE(feeds.elsewhere.url("/").empty()) << "nothing could listen on 127.0.0.2";
    std::vector<Outcome> outcomes(runs.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int worker = 0; worker < concurrency(); ++worker) {
        workers.emplace_back([&] {
            for (size_t index; (index = next++) < runs.size();) {
                outcomes[index] = runOnce(display, runs[index], feeds);
            }
        });
    }
    for (auto& worker : workers) worker.join();

    // The most memory and the longest quit for each kind of run.
    std::map<std::string, long> peaks;
    std::map<std::string, std::chrono::milliseconds> quits;
    for (size_t index = 0; index < runs.size(); ++index) {
        EXPECT_EQ(outcomes[index].problem, "")
            << runs[index].name << " (plan \"" << runs[index].plan << "\", seed " << seed << ")";
        if (runs[index].measureMemory) {
            peaks[runs[index].name] =
                std::max(peaks[runs[index].name], outcomes[index].peakKilobytes);
        }
        quits[runs[index].name] = std::max(quits[runs[index].name], outcomes[index].quitTook);
    }
    EXPECT_TRUE(feeds.elsewhere.requests().empty()) << "a redirect led the update check away";
    // What a peer floods the shell with must not be kept: the shell's peak stays within a few
    // megabytes of a launch with a well-behaved service.
    long plainPeak = peaks["well-behaved"];
    ASSERT_GT(plainPeak, 0);
    std::cout << "fault runs: " << runs.size() << ", seed " << seed << "\n";
    for (const auto& [name, peak] : peaks) {
        EXPECT_LT(peak - plainPeak, 32 * 1024)
            << "peak resident memory " << peak << " kB with " << name << ", " << plainPeak
            << " kB with a well-behaved service";
        std::cout << "  peak RSS, " << name << ": " << peak << " kB\n";
    }
    for (const auto& [name, took] : quits) {
        std::cout << "  longest quit, " << name << ": " << took.count() << " ms\n";
    }
}

// One shell on a display of its own, for faults that need the keyboard.
class ShellFaultOnItsOwnDisplayTest : public ::testing::Test {
protected:
    void start(const std::string& plan) {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        std::ofstream(shell.root() + "/home/fault-plan") << plan << "\n";
        ASSERT_TRUE(shell.start(display, {"LUMORY_DESKTOP_PORT=0"}));
    }
    // Gives the window the keyboard and presses `keys` together.
    bool press(const std::vector<std::string>& keys) {
        XvfbInput input(display.name());
        if (!input.connected()) return false;
        input.click(1, 400, 300);
        return input.chord(keys);
    }

    XvfbDisplay display;
    ShellUnderTest shell{kShell, kNodeService};
};

// A web process that keeps dying: the shell reloads, then waits, then gives up on the page until
// the user asks for it again.
TEST_F(ShellFaultOnItsOwnDisplayTest, APageWhoseWebProcessKeepsDyingGivesUpUntilReload) {
    start("plain");
    ASSERT_TRUE(shell.waitForProbe(isTestPage, 30s)) << shell.standardError();

    std::optional<json> page;
    for (int crash = 1; crash <= 3; ++crash) {
        std::vector<pid_t> webProcesses = childrenMentioning(shell.pid(), "WebKitWebProcess");
        ASSERT_FALSE(webProcesses.empty()) << "crash " << crash;
        for (pid_t pid : webProcesses) kill(pid, SIGKILL);
        page = shell.waitForProbe(
            [](const json& report) { return report.value("event", "") == "load-finished"; }, 20s);
        ASSERT_TRUE(page) << "crash " << crash << ": " << shell.standardError();
        if (crash < 3) {
            ASSERT_TRUE(isTestPage(*page)) << "crash " << crash << ": " << page->dump();
        }
    }
    ASSERT_TRUE(isFailurePage(*page)) << page->dump();
    EXPECT_EQ(page->value("text", "").substr(sizeof kFailureHeadline - 1), kKeepsCrashing);

    ASSERT_TRUE(press({"Control_L", "r"}));
    EXPECT_TRUE(shell.waitForProbe(isTestPage, 20s)) << "Reload did not bring the page back";
    int status = shell.stop(15s);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The window of a page that never comes still takes the quit shortcut, and quits at once.
TEST_F(ShellFaultOnItsOwnDisplayTest, CtrlQQuitsAtOnceWhileThePageNeverComes) {
    start("page-never-answers");
    ASSERT_TRUE(shell.waitForProbe(isServicePageAsked, 30s));
    auto pressed = std::chrono::steady_clock::now();
    ASSERT_TRUE(press({"Control_L", "q"}));
    int status = shell.waitUntilEnded(5s);
    ASSERT_NE(status, -1) << "the shell is still waiting for a page that cannot save";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::cout << "Ctrl+Q before the page came: quit in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - pressed)
                     .count()
              << " ms\n";
}

}  // namespace
}  // namespace lumory::testing
