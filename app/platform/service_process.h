#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumory {

using EnvironmentList = std::vector<std::pair<std::string, std::string>>;

// What the delegate asks for when it starts the local service. The callbacks run on the main
// queue, each stream's chunks in the order they were read.
struct ServiceLaunch {
    std::string executable;
    std::string workingDirectory;
    // Replaces the child's environment entirely; stdin is inherited, stdout and stderr piped.
    // The child leads a process group of its own, so a terminal's Ctrl+C or hang-up reaches
    // the shell alone.
    EnvironmentList environment;
    // Each chunk of bytes read from the stream; returning false declines the rest of it: no
    // more calls, though the stream is still drained to its end so the child never blocks on
    // it. End of file stops it without a call.
    std::function<bool(std::string_view)> onOutput;
    std::function<bool(std::string_view)> onError;
    // The child ended: its exit status, or the signal number when a signal ended it.
    std::function<void(int status)> onExit;
};

class ServiceProcess {
public:
    virtual ~ServiceProcess() = default;
    virtual bool isRunning() const = 0;
    virtual void terminate() = 0;  // SIGTERM
    virtual void interrupt() = 0;  // SIGINT
    // SIGKILL to the service and to everything left in its process group (the helpers it
    // started), so nothing the shell started outlives it.
    virtual void killGroup() = 0;
    // No further chunks are delivered; the pipes are still drained.
    virtual void stopReading() = 0;
};

struct LaunchOutcome {
    std::unique_ptr<ServiceProcess> process;  // empty when the launch failed
    std::string errorDescription;             // the system's words for the failure
};

class ServiceLauncher {
public:
    virtual ~ServiceLauncher() = default;
    virtual LaunchOutcome launch(ServiceLaunch request) = 0;
};

}  // namespace lumory
