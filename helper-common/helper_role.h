#pragma once

#include <optional>

namespace lumory::helper {

// True exactly when LUMORY_DESKTOP is the one-character string "1".
bool hostedByDesktopEnvironment();

// The start-up decision both helpers share. Unless hosted by the desktop or already marked as
// the re-launched child, re-launches this executable disclaimed and waits for the child.
// Returns the child's raw wait status when this process was the parent (it must then exit
// without serving), or nothing when this process serves the requests itself.
std::optional<int> relaunchDisclaimedAndWait(const char* disclaimFlag, bool hostedByDesktop,
                                             int argc, char* const argv[]);

// Exit status of the calendar helper's parent: the child's exit code when it exited normally,
// 1 otherwise (killed by a signal).
int exitCodePassingChildCode(int waitStatus);

// Exit status of the audio helper's parent: 0 only when the raw wait status is 0.
int exitCodeSuccessOrFailure(int waitStatus);

}  // namespace lumory::helper
