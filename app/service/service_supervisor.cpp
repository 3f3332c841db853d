#include "service/service_supervisor.h"

#include <thread>

#include "service/failure_page.h"
#include "service/ready_line.h"
#include "service/service_environment.h"
#include "service/standard_error_tail.h"

namespace lumory {

namespace {

constexpr std::chrono::seconds kServiceStopGrace{1};
constexpr std::chrono::milliseconds kInterruptGrace{500};
constexpr std::chrono::milliseconds kServiceStopPoll{20};

}  // namespace

ServiceSupervisor::ServiceSupervisor(const HostSystem& system, ServiceLauncher& launcher,
                                     MainQueue& mainQueue, Events events)
    : system_(system), launcher_(launcher), mainQueue_(mainQueue), events_(std::move(events)) {}

void ServiceSupervisor::startServer() {
    auto resources = system_.resourcesDirectory();
    if (!resources) {
        showFailure(kResourcesMissingMessage);
        return;
    }
    std::string executable = pathInside(*resources, kServiceExecutableName);
    if (!system_.isExecutableFile(executable)) {
        showFailure(kServiceMissingMessage);
        return;
    }

    stdoutPipe.emplace();
    stderrPipe.emplace();

    ServiceLaunch launch;
    launch.executable = executable;
    launch.workingDirectory = system_.homeDirectory();
    launch.environment = buildServiceEnvironment(system_, *resources);
    launch.onOutput = [weak = lifetime_.weak()](std::string_view chunk) {
        auto* self = weak.get();
        return self && self->receiveStandardOutput(chunk);
    };
    launch.onError = [weak = lifetime_.weak()](std::string_view chunk) {
        auto* self = weak.get();
        return self && self->receiveStandardError(chunk);
    };
    launch.onExit = [weak = lifetime_.weak()](int status) {
        if (auto* self = weak.get()) self->serviceEnded(status);
    };

    LaunchOutcome outcome = launcher_.launch(std::move(launch));
    if (!outcome.process) {
        showFailure(messageWithDetail(kLaunchFailedMessage, outcome.errorDescription));
        return;
    }
    serverProcess = std::move(outcome.process);
    startupTimeout = mainQueue_.schedule(kStartupTimeout, [weak = lifetime_.weak()] {
        if (auto* self = weak.get()) self->startupTimedOut();
    });
}

// The text before bytes that are not UTF-8 still counts; after them the stream is declined,
// and the launcher keeps draining it so the service never blocks on a full pipe.
bool ServiceSupervisor::receiveStandardOutput(std::string_view chunk) {
    if (!stdoutPipe) return false;
    consumeStdout(stdoutPipe->decode(chunk));
    return !stdoutPipe->ended();
}

bool ServiceSupervisor::receiveStandardError(std::string_view chunk) {
    if (!stderrPipe) return false;
    appendKeepingTail(stderrBuffer, stderrPipe->decode(chunk));
    return !stderrPipe->ended();
}

void ServiceSupervisor::consumeStdout(std::string_view text) {
    // The rest of a line too long to be a ready line is dropped up to its line feed.
    if (stdoutOverlong) {
        size_t lineFeed = text.find('\n');
        if (lineFeed == std::string_view::npos) return;
        text.remove_prefix(lineFeed + 1);
        stdoutOverlong = false;
    }
    // Only the new text can hold a line feed: a service that never ends its line costs one
    // pass over each chunk, not one over everything buffered.
    size_t searchFrom = stdoutBuffer.size();
    stdoutBuffer.append(text);
    size_t lineStart = 0;
    size_t lineFeed;
    while ((lineFeed = stdoutBuffer.find('\n', searchFrom)) != std::string::npos) {
        std::string_view line(stdoutBuffer.data() + lineStart, lineFeed - lineStart);
        lineStart = searchFrom = lineFeed + 1;
        if (line.size() > kLongestReadyLine) continue;
        if (auto address = announcedAddress(line)) connect(*address);
    }
    stdoutBuffer.erase(0, lineStart);
    if (stdoutBuffer.size() > kLongestReadyLine) {
        stdoutBuffer.clear();
        stdoutBuffer.shrink_to_fit();
        stdoutOverlong = true;
    }
}

void ServiceSupervisor::connect(const std::string& url) {
    if (connected) return;
    connected = true;
    serverURL = url;
    if (startupTimeout) startupTimeout->cancel();
    if (events_.connected) events_.connected(url);
}

void ServiceSupervisor::startupTimedOut() {
    if (connected) return;
    std::string tail = trimmed(stderrBuffer);
    if (!tail.empty()) {
        showFailure(messageWithDetail(kStartFailedMessage, tail));
    } else {
        // Names the port the service was actually given, not always the default one.
        std::string message(kStartTooSlowMessagePrefix);
        message += chosenServicePort(system_);
        message += kStartTooSlowMessageSuffix;
        showFailure(message);
    }
}

void ServiceSupervisor::serviceEnded(int status) {
    if (stopping) return;
    std::string tail = trimmed(stderrBuffer);
    if (!tail.empty()) {
        showFailure(messageWithDetail(kServiceStoppedMessage, tail));
    } else {
        showFailure(std::string(kServiceStoppedStatusPrefix) + std::to_string(status) + ").");
    }
}

void ServiceSupervisor::showFailure(std::string_view message) {
    connected = false;
    if (startupTimeout) startupTimeout->cancel();
    if (events_.failed) events_.failed(failurePage(message));
}

namespace {

// Polls until the process has ended or `grace` has passed; true when it ended.
bool endsWithin(const ServiceProcess& process, std::chrono::milliseconds grace) {
    auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kServiceStopPoll);
        if (!process.isRunning()) return true;
    }
    return false;
}

}  // namespace

// SIGTERM, then SIGINT, then SIGKILL for whatever is left of the service's process group.
// Blocks the main thread for at most the two grace periods: the shell is exiting anyway.
void ServiceSupervisor::stopService() {
    stopping = true;
    if (startupTimeout) startupTimeout->cancel();
    if (!serverProcess) return;
    serverProcess->stopReading();
    if (serverProcess->isRunning()) {
        serverProcess->terminate();
        if (!endsWithin(*serverProcess, kServiceStopGrace)) {
            serverProcess->interrupt();
            endsWithin(*serverProcess, kInterruptGrace);
        }
    }
    // Helpers the service started and left behind go with it.
    serverProcess->killGroup();
}

}  // namespace lumory
