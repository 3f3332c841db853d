// Benchmarks of lumory-cal, run by hand:
//   calendar_helper_bench [REQUESTS] [--baseline OTHER_LUMORY_CAL]
// - requests per second of {"id":N,"cmd":"status"} through the real helper over a pipe, beside
//   the same lines echoed by cat (the pipe's own cost);
// - time from spawn to the ready notice with a cold EDS (fresh session) and a warm one, beside a
//   bare EDS connection (registry, personal calendar and task list) made the same way.
// - with --baseline, spawn to ready of this build and another one (an earlier build, say),
//   started by turns in one warm session, 15 pairs.
// Each measurement that needs EDS runs inside its own private session (eds_session.sh).

#include <libecal/libecal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../bench_report.h"
#include "process/line_protocol_process.h"

namespace {

using lumory::testsupport::LineProtocolProcess;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kWarmRuns = 5;
constexpr int kComparedPairs = 15;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// One process's start: spawn to ready notice (helper) or a bare connection (this program).
double helperStartOnce(const std::string& path = LUMORY_CAL_PATH) {
    const auto start = Clock::now();
    LineProtocolProcess helper({path}, {"LUMORY_DESKTOP=1"});
    auto ready = helper.readLine(60s);
    const double elapsed = millisecondsSince(start);
    if (!ready || ready->find("fullAccess") == std::string::npos) {
        std::fprintf(stderr, "no ready notice with full access: %s\n", ready ? ready->c_str() : "-");
        std::exit(1);
    }
    helper.closeInput();
    helper.waitForExit(10s);
    return elapsed;
}

double bareConnectionOnce() {
    const auto start = Clock::now();
    ESourceRegistry* registry = e_source_registry_new_sync(nullptr, nullptr);
    if (registry == nullptr) std::exit(1);
    for (auto [uid, type] : {std::pair{"system-calendar", E_CAL_CLIENT_SOURCE_TYPE_EVENTS},
                             std::pair{"system-task-list", E_CAL_CLIENT_SOURCE_TYPE_TASKS}}) {
        ESource* source = e_source_registry_ref_source(registry, uid);
        EClient* client = source != nullptr
            ? e_cal_client_connect_sync(source, type, static_cast<guint32>(-1), nullptr, nullptr)
            : nullptr;
        if (client == nullptr) std::exit(1);
        g_object_unref(client);
        g_object_unref(source);
    }
    const double elapsed = millisecondsSince(start);
    g_object_unref(registry);
    return elapsed;
}

// Inside a session: the first start is cold, the rest warm. Prints "cold warm".
int startPhase(const std::string& what, const char* self) {
    std::vector<double> times;
    for (int run = 0; run <= kWarmRuns; ++run) {
        if (what == "helper") {
            times.push_back(helperStartOnce());
        } else {
            // A process of its own each time, as the helper gets.
            LineProtocolProcess bare({self, "--phase", "bare-once"});
            auto line = bare.readLine(60s);
            if (!line) return 1;
            times.push_back(std::stod(*line));
        }
    }
    std::printf("%.1f %.1f\n", times[0], median({times.begin() + 1, times.end()}));
    return 0;
}

// Inside a warm session: this build and `baseline` started by turns. Prints the two medians and
// the quartiles of each.
int comparePhase(const std::string& baseline) {
    helperStartOnce();
    helperStartOnce(baseline);
    std::vector<double> ours, theirs;
    for (int pair = 0; pair < kComparedPairs; ++pair) {
        if (pair % 2 == 0) {
            ours.push_back(helperStartOnce());
            theirs.push_back(helperStartOnce(baseline));
        } else {
            theirs.push_back(helperStartOnce(baseline));
            ours.push_back(helperStartOnce());
        }
    }
    auto quartile = [](std::vector<double> values, double q) {
        std::sort(values.begin(), values.end());
        return values[static_cast<size_t>(q * (values.size() - 1))];
    };
    std::printf("%.1f %.1f %.1f %.1f %.1f %.1f\n", median(ours), quartile(ours, 0.25),
                quartile(ours, 0.75), median(theirs), quartile(theirs, 0.25),
                quartile(theirs, 0.75));
    return 0;
}

// Requests per second through a line program that answers every line.
double linesPerSecond(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      int requests, bool skipReady) {
    LineProtocolProcess program(argv, env);
    if (skipReady && !program.readLine(60s)) std::exit(1);
    std::string batch;
    for (int n = 0; n < requests; ++n)
        batch += "{\"id\":" + std::to_string(n) + ",\"cmd\":\"status\"}\n";
    const auto start = Clock::now();
    std::thread writer([&] {
        program.writeRaw(batch);
        program.closeInput();
    });
    int replies = 0;
    while (replies < requests && program.readLine(30s)) ++replies;
    const double seconds = millisecondsSince(start) / 1000.0;
    writer.join();
    if (replies != requests) {
        std::fprintf(stderr, "%d replies for %d requests\n", replies, requests);
        std::exit(1);
    }
    return requests / seconds;
}

int throughputPhase(int requests) {
    const double cat = linesPerSecond({"/bin/cat"}, {}, requests, false);
    const double helper = linesPerSecond({LUMORY_CAL_PATH}, {"LUMORY_DESKTOP=1"}, requests, true);
    std::printf("%.0f %.0f\n", helper, cat);
    return 0;
}

// Runs this program in a fresh private EDS session and returns its one output line.
std::string inSession(const char* self, const std::string& phase, int requests = 0) {
    std::vector<std::string> argv = {LUMORY_EDS_SESSION, "--limit", "600", self, "--phase", phase};
    if (requests > 0) argv.push_back(std::to_string(requests));
    LineProtocolProcess run(argv);
    auto line = run.readLine(600s);
    if (!line) {
        std::fprintf(stderr, "phase %s gave no result\n", phase.c_str());
        std::exit(1);
    }
    return *line;
}

}  // namespace

int main(int argc, char* argv[]) {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return 1;
    self[length] = '\0';

    if (argc >= 3 && std::string(argv[1]) == "--phase") {
        const std::string phase = argv[2];
        if (phase == "bare-once") {
            std::printf("%.3f\n", bareConnectionOnce());
            return 0;
        }
        if (phase == "throughput") return throughputPhase(argc > 3 ? std::atoi(argv[3]) : 200000);
        if (phase == "compare" && argc > 3) return comparePhase(argv[3]);
        return startPhase(phase, self);
    }

    int requests = 200000;
    std::string baseline;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--baseline" && i + 1 < argc)
            baseline = argv[++i];
        else
            requests = std::max(1000, std::atoi(argv[i]));
    }
    double helperRate = 0, catRate = 0;
    std::sscanf(inSession(self, "throughput", requests).c_str(), "%lf %lf", &helperRate, &catRate);
    double helperCold = 0, helperWarm = 0, bareCold = 0, bareWarm = 0;
    std::sscanf(inSession(self, "helper").c_str(), "%lf %lf", &helperCold, &helperWarm);
    std::sscanf(inSession(self, "bare").c_str(), "%lf %lf", &bareCold, &bareWarm);

    std::printf("status requests through a pipe (%d):\n", requests);
    std::printf("  lumory-cal   %10.0f per second\n", helperRate);
    std::printf("  cat          %10.0f lines per second (baseline)\n", catRate);
    std::printf("  ratio        %10.2f of the bare pipe\n", helperRate / catRate);
    std::printf("spawn to ready notice, ms (median of %d warm runs):\n", kWarmRuns);
    std::printf("               %8s %8s\n", "cold", "warm");
    std::printf("  lumory-cal   %8.1f %8.1f\n", helperCold, helperWarm);
    std::printf("  bare EDS     %8.1f %8.1f (baseline: registry, calendar, task list)\n",
                bareCold, bareWarm);
    std::printf("  ratio        %8.2f %8.2f\n", helperCold / bareCold, helperWarm / bareWarm);
    using lumory::bench::reportFigure;
    reportFigure("calendar helper status requests", "per s", {helperRate}, {catRate});
    reportFigure("calendar helper spawn to ready, cold", "ms", {helperCold}, {bareCold});
    reportFigure("calendar helper spawn to ready, warm", "ms", {helperWarm}, {bareWarm});
    if (!baseline.empty()) {
        std::vector<std::string> argv = {LUMORY_EDS_SESSION, "--limit", "600",   self,
                                         "--phase",          "compare", baseline};
        LineProtocolProcess run(argv);
        auto line = run.readLine(600s);
        double ours = 0, ours25 = 0, ours75 = 0, theirs = 0, theirs25 = 0, theirs75 = 0;
        if (!line || std::sscanf(line->c_str(), "%lf %lf %lf %lf %lf %lf", &ours, &ours25, &ours75,
                                 &theirs, &theirs25, &theirs75) != 6) {
            std::fprintf(stderr, "the comparison gave no result\n");
            return 1;
        }
        std::printf("spawn to ready, warm, %d pairs by turns, ms (median, quartiles):\n",
                    kComparedPairs);
        std::printf("  this build   %8.1f  [%.1f, %.1f]\n", ours, ours25, ours75);
        std::printf("  baseline     %8.1f  [%.1f, %.1f] (%s)\n", theirs, theirs25, theirs75,
                    baseline.c_str());
        std::printf("  ratio        %8.2f\n", ours / theirs);
    }
    return 0;
}
