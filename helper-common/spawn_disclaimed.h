#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace lumory::helper {

// Starts a second copy of the running executable with the responsibility-disclaim spawn
// attribute, so that the copy becomes its own responsible process. The copy gets the caller's
// arguments (argv[0] included) and environment, with `disclaimFlag` set to "1" to mark it.
// Returns the child's process id, or nothing when the disclaim function is unavailable or any
// step fails; callers then serve in-process. Writes nothing and never ends the process.
std::optional<pid_t> spawnDisclaimed(const char* disclaimFlag, int argc, char* const argv[]);

// The same, spawning `executablePath` instead of the running executable (empty: none known).
std::optional<pid_t> spawnDisclaimed(const char* disclaimFlag, int argc, char* const argv[],
                                     const std::string& executablePath);

// Absolute path of the running executable, or empty when it cannot be resolved.
std::string currentExecutablePath();

}  // namespace lumory::helper
