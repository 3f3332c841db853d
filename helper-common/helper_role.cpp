#include "helper_role.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "spawn_disclaimed.h"

namespace lumory::helper {

bool hostedByDesktopEnvironment() {
    const char* value = std::getenv("LUMORY_DESKTOP");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

std::optional<int> relaunchDisclaimedAndWait(const char* disclaimFlag, bool hostedByDesktop,
                                             int argc, char* const argv[]) {
    if (hostedByDesktop) return std::nullopt;
    if (std::getenv(disclaimFlag) != nullptr) return std::nullopt;

    std::optional<pid_t> child = spawnDisclaimed(disclaimFlag, argc, argv);
    if (!child) return std::nullopt;

    int status = 0;
    while (waitpid(*child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

int exitCodePassingChildCode(int waitStatus) {
    return (waitStatus & 0x7f) == 0 ? (waitStatus >> 8) & 0xff : 1;
}

int exitCodeSuccessOrFailure(int waitStatus) { return waitStatus == 0 ? 0 : 1; }

}  // namespace lumory::helper
