#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace lumory::testing {

// Waits for `pid` to end for at most `timeout`; its wait status, or -1 when it still runs.
int waitForExit(pid_t pid, std::chrono::milliseconds timeout);

// Ends `pid` politely (SIGTERM), then by force; always reaps it.
void stopProcess(pid_t pid, std::chrono::milliseconds grace);

// Ends `pid` at once (SIGKILL) and reaps it.
void killAndReap(pid_t pid);

// The exit code a wait status stands for, 128 + the signal number for a killed child, as a shell
// reports it.
int exitCodeOf(int status);

// The first line a child writes to `fd`, without its line feed, waiting up to `timeout` for it;
// empty when no whole line came.
std::string readFirstLine(int fd, std::chrono::milliseconds timeout);

// The most memory `pid` has held resident so far (VmHWM) in KiB, or -1 when unknown.
long peakResidentKiB(pid_t pid);

// Process ids whose command line mentions `text`.
std::vector<pid_t> processesMentioning(const std::string& text);

// The children of `parent` whose command line mentions `text` (WebKit's web processes, say).
std::vector<pid_t> childrenMentioning(pid_t parent, const std::string& text);

}  // namespace lumory::testing
