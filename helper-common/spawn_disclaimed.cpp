#include "spawn_disclaimed.h"

#include <dlfcn.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace lumory::helper {

namespace {

constexpr const char* kDisclaimSymbol = "responsibility_spawnattrs_setdisclaim";

using SetDisclaim = int (*)(posix_spawnattr_t*, int);

}  // namespace

std::string currentExecutablePath() {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return {};
        if (static_cast<size_t>(length) < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<pid_t> spawnDisclaimed(const char* disclaimFlag, int argc, char* const argv[]) {
    return spawnDisclaimed(disclaimFlag, argc, argv, currentExecutablePath());
}

std::optional<pid_t> spawnDisclaimed(const char* disclaimFlag, int argc, char* const argv[],
                                     const std::string& executablePath) {
    void* handle = dlopen(nullptr, RTLD_NOW);
    if (handle == nullptr) return std::nullopt;

    auto setDisclaim = reinterpret_cast<SetDisclaim>(dlsym(handle, kDisclaimSymbol));
    if (setDisclaim == nullptr) {
        dlclose(handle);
        return std::nullopt;
    }

    posix_spawnattr_t attributes;
    std::memset(&attributes, 0, sizeof attributes);
    if (posix_spawnattr_init(&attributes) != 0) {
        dlclose(handle);
        return std::nullopt;
    }
    if (setDisclaim(&attributes, 1) != 0) {
        posix_spawnattr_destroy(&attributes);
        dlclose(handle);
        return std::nullopt;
    }
    if (executablePath.empty()) {
        posix_spawnattr_destroy(&attributes);
        dlclose(handle);
        return std::nullopt;
    }

    setenv(disclaimFlag, "1", 1);

    std::vector<char*> arguments;
    arguments.reserve(static_cast<size_t>(argc) + 1);
    for (int i = 0; i < argc; ++i) arguments.push_back(strdup(argv[i]));
    arguments.push_back(nullptr);

    pid_t child = 0;
    int spawned = posix_spawn(&child, executablePath.c_str(), nullptr, &attributes,
                              arguments.data(), environ);

    // Fixed clean-up order: argument copies, attributes, loader handle.
    for (char* argument : arguments) free(argument);
    posix_spawnattr_destroy(&attributes);
    dlclose(handle);

    if (spawned != 0) return std::nullopt;
    return child;
}

}  // namespace lumory::helper
