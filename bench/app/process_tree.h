#pragma once

// What a process and all its descendants cost, read from /proc: CPU time, context switches of
// every thread, and memory with shared pages counted once (PSS).

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace lumory::bench {

// The process and its descendants, found through every process's parent in /proc.
inline std::vector<pid_t> processTree(pid_t root) {
    namespace fs = std::filesystem;
    std::vector<std::pair<pid_t, pid_t>> parents;  // (pid, parent)
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
        if (pid <= 0) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        if (!std::getline(stat, text)) continue;
        auto close = text.rfind(')');
        if (close == std::string::npos || close + 2 >= text.size()) continue;
        std::istringstream rest(text.substr(close + 2));
        char state;
        pid_t parent = 0;
        rest >> state >> parent;
        parents.emplace_back(pid, parent);
    }
    std::vector<pid_t> tree = {root};
    for (size_t index = 0; index < tree.size(); ++index) {
        for (auto [pid, parent] : parents) {
            if (parent == tree[index]) tree.push_back(pid);
        }
    }
    return tree;
}

// The process's short name (the field in parentheses of its stat file).
inline std::string processName(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    auto open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return "?";
    return text.substr(open + 1, close - open - 1);
}

// utime + stime of the whole process (its ended threads included), in clock ticks.
inline long long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return 0;
    auto close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return 0;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    // Fields after the name start at 3 (state); utime is 14 and stime 15.
    for (int index = 3; index <= 15 && rest >> field; ++index) {
        if (index == 14) utime = std::atoll(field.c_str());
        if (index == 15) stime = std::atoll(field.c_str());
    }
    return utime + stime;
}

// A "Key:   123 kB"-style field of a /proc status-like file; -1 when absent.
inline long long procField(const std::string& path, const std::string& key) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(key, 0) == 0 && line.size() > key.size() && line[key.size()] == ':')
            return std::atoll(line.c_str() + key.size() + 1);
    }
    return -1;
}

// Voluntary plus involuntary context switches of each live thread of the process, by thread id.
inline std::map<pid_t, long long> threadSwitches(pid_t pid) {
    namespace fs = std::filesystem;
    std::map<pid_t, long long> switches;
    std::error_code error;
    for (const auto& entry :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::string status = (entry.path() / "status").string();
        long long voluntary = procField(status, "voluntary_ctxt_switches");
        long long involuntary = procField(status, "nonvoluntary_ctxt_switches");
        if (voluntary < 0 || involuntary < 0) continue;
        switches[std::atoi(entry.path().filename().c_str())] = voluntary + involuntary;
    }
    return switches;
}

// The tree's memory with each shared page split between its users, in kB.
inline long long treeProportionalKilobytes(pid_t root) {
    long long total = 0;
    for (pid_t pid : processTree(root)) {
        total += std::max(0LL, procField("/proc/" + std::to_string(pid) + "/smaps_rollup", "Pss"));
    }
    return total;
}

// Resident kB of the process's mappings of files whose path contains `name` (a library's code and
// data as mapped, not the objects it allocated on the heap).
inline long long mappedResidentKilobytes(pid_t pid, const std::string& name) {
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
    std::string line;
    bool inside = false;
    long long total = 0;
    while (std::getline(smaps, line)) {
        // Mapping headers start with an address range; their fields start with a capital.
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
            line.find('-') < line.find(' ')) {
            inside = line.find(name) != std::string::npos;
        } else if (inside && line.rfind("Rss:", 0) == 0) {
            total += std::atoll(line.c_str() + 4);
        }
    }
    return total;
}

// A snapshot of the tree's counters; the difference of two gives what it did in between.
struct TreeCounters {
    std::map<pid_t, long long> ticks;                          // by process
    std::map<pid_t, std::string> names;                        // by process
    std::map<pid_t, std::map<pid_t, long long>> switches;      // by process, then thread

    static TreeCounters read(pid_t root) {
        TreeCounters counters;
        for (pid_t pid : processTree(root)) {
            counters.ticks[pid] = cpuTicks(pid);
            counters.names[pid] = processName(pid);
            counters.switches[pid] = threadSwitches(pid);
        }
        return counters;
    }
};

// What one process of the tree did between two snapshots; processes and threads that started in
// between count from zero, those that ended are lost (their last counts are not readable).
struct ProcessActivity {
    std::string name;
    double cpuMs = 0;
    long long wakeUps = 0;
};

inline std::map<pid_t, ProcessActivity> activityBetween(const TreeCounters& before,
                                                        const TreeCounters& after) {
    const double msPerTick = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::map<pid_t, ProcessActivity> activity;
    for (const auto& [pid, ticks] : after.ticks) {
        ProcessActivity& process = activity[pid];
        process.name = after.names.at(pid);
        auto earlier = before.ticks.find(pid);
        process.cpuMs = (ticks - (earlier == before.ticks.end() ? 0 : earlier->second)) * msPerTick;
        auto earlierThreads = before.switches.find(pid);
        for (const auto& [tid, count] : after.switches.at(pid)) {
            long long start = 0;
            if (earlierThreads != before.switches.end()) {
                auto thread = earlierThreads->second.find(tid);
                if (thread != earlierThreads->second.end()) start = thread->second;
            }
            process.wakeUps += count - start;
        }
    }
    return activity;
}

}  // namespace lumory::bench
