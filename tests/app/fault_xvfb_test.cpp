// The real shell against stand-in services that crash, hang, flood or corrupt their streams, many
// shells at once on one display. Whatever the service does, the shell must stay up, answer a
// quit, never leave the service blocked on a full pipe, and end on the page or the failure page
// that names what happened.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "process/child_process.h"
#include "xvfb/xvfb_display.h"
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
};

FaultRun fault(std::string name, std::string service, std::string plan, std::string failure,
               std::string mustContain = "", std::string port = "0") {
    return FaultRun{std::move(name),    std::move(service),     std::move(plan),
                    std::move(failure), std::move(mustContain), std::move(port)};
}

struct Outcome {
    std::string problem;  // empty when the run went as it must
    long peakKilobytes = 0;
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

Outcome runOnce(const XvfbDisplay& display, const FaultRun& run) {
    Outcome outcome;
    std::unique_lock lock(launching);
    ShellUnderTest shell(kShell, run.service);
    std::ofstream(shell.root() + "/home/fault-plan") << run.plan << "\n";
    bool started = shell.start(display, {"LUMORY_DESKTOP_PORT=" + run.port});
    lock.unlock();
    if (!started) {
        outcome.problem = "the shell did not start";
        return outcome;
    }
    // Stops at the first page that is either the expected one or a failure page.
    std::string lastPage = "none";  // for the message when no right page comes
    auto end = shell.waitForProbe(
        [&](const json& report) {
            if (report.value("event", "") == "load-finished") lastPage = report.dump();
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
        auto later = shell.waitForProbe(
            [](const json& report) { return report.value("event", "") == "load-finished"; }, 700ms);
        if (later) outcome.problem = "the page changed afterwards to " + later->value("url", "");
    }
    if (shell.waitUntilEnded(0ms) != -1) {
        outcome.problem += " / the shell ended by itself";
        return outcome;
    }
    if (run.measureMemory) outcome.peakKilobytes = peakResidentKiB(shell.pid());
    int status = shell.stop(15s);
    if (status == -1) {
        outcome.problem += " / the shell did not quit within 15 s";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        outcome.problem += " / the shell quit with wait status " + std::to_string(status);
    }
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

    // The slowest runs (the watchdog's twenty seconds) first, so they overlap with the rest.
    std::stable_partition(runs.begin(), runs.end(), [](const FaultRun& run) {
        return run.failure.find("took too long") != std::string::npos ||
               run.failure.find("could not finish") != std::string::npos;
    });
    std::vector<Outcome> outcomes(runs.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int worker = 0; worker < concurrency(); ++worker) {
        workers.emplace_back([&] {
            for (size_t index; (index = next++) < runs.size();) {
                outcomes[index] = runOnce(display, runs[index]);
            }
        });
    }
    for (auto& worker : workers) worker.join();

    long floodPeak = 0;
    long plainPeak = 0;
    for (size_t index = 0; index < runs.size(); ++index) {
        EXPECT_EQ(outcomes[index].problem, "")
            << runs[index].name << " (plan \"" << runs[index].plan << "\", seed " << seed << ")";
        long& peak = runs[index].plan == "plain" ? plainPeak : floodPeak;
        peak = std::max(peak, outcomes[index].peakKilobytes);
    }
    // Reading 100 MB that never ends a line must not keep it: the shell's peak stays within a
    // few megabytes of a launch with a well-behaved service.
    ASSERT_GT(plainPeak, 0);
    EXPECT_LT(floodPeak - plainPeak, 32 * 1024)
        << "peak resident memory " << floodPeak << " kB after a flood, " << plainPeak
        << " kB without";
    std::cout << "fault runs: " << runs.size() << ", seed " << seed << ", peak RSS with flood "
              << floodPeak << " kB, without " << plainPeak << " kB\n";
}

}  // namespace
}  // namespace lumory::testing
