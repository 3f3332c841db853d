#pragma once

// What the calendar helper's benchmarks share: timing, the helper's memory, and running a phase
// of the benchmark inside a private EDS session.

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "process/line_protocol_process.h"

namespace lumory::bench {

inline double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// A field of /proc/PID/status in MiB ("VmRSS", "VmHWM"), or -1.
inline double processMemoryMiB(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::atof(line.c_str() + field.size() + 1) / 1024;
    }
    return -1;
}

// Runs this program again inside a fresh private EDS session with `arguments`, passing its
// output lines through; false when the run failed.
inline bool runInSession(const char* session, const std::vector<std::string>& arguments,
                         std::chrono::seconds limit) {
    std::vector<std::string> argv = {session, "--limit", std::to_string(limit.count())};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    testsupport::LineProtocolProcess run(argv);
    while (auto line = run.readLine(limit)) std::printf("%s\n", line->c_str());
    auto status = run.waitForExit(std::chrono::seconds(10));
    return status && *status == 0;
}

inline std::string selfPath() {
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return {};
    self[length] = '\0';
    return self;
}

}  // namespace lumory::bench
