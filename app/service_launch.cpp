#include "app_delegate.h"

#include <glib.h>

#include "failure_page.h"
#include "service_environment.h"
#include "standard_error_tail.h"

namespace lumory {

namespace {

// A NUL inside would make the address checked here differ from the one loaded.
bool isValidUrl(const std::string& text) {
    return text.find('\0') == std::string::npos &&
           g_uri_is_valid(text.c_str(), G_URI_FLAGS_NONE, nullptr);
}

// The address of a ready line, or nothing when the line is anything else.
std::optional<std::string> announcedAddress(std::string_view line) {
    auto value = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded() || !value.is_object()) return std::nullopt;
    auto event = value.find("event");
    if (event == value.end() || !event->is_string() || event->get<std::string>() != "ready") {
        return std::nullopt;
    }
    auto url = value.find("url");
    if (url == value.end() || !url->is_string()) return std::nullopt;
    std::string address = url->get<std::string>();
    if (!isValidUrl(address)) return std::nullopt;
    return address;
}

}  // namespace

void AppDelegate::startServer() {
    auto resources = platform_.system.resourcesDirectory();
    if (!resources) {
        showFailure(kResourcesMissingMessage);
        return;
    }
    std::string executable = pathInside(*resources, kServiceExecutableName);
    if (!platform_.system.isExecutableFile(executable)) {
        showFailure(kServiceMissingMessage);
        return;
    }

    stdoutPipe.emplace();
    stderrPipe.emplace();

    ServiceLaunch launch;
    launch.executable = executable;
    launch.workingDirectory = platform_.system.homeDirectory();
    launch.environment = buildServiceEnvironment(platform_.system, *resources);
    launch.onOutput = [weak = weakSelf()](std::string_view chunk) {
        auto self = weak.lock();
        return self && (*self)->receiveStandardOutput(chunk);
    };
    launch.onError = [weak = weakSelf()](std::string_view chunk) {
        auto self = weak.lock();
        return self && (*self)->receiveStandardError(chunk);
    };
    launch.onExit = [weak = weakSelf()](int status) {
        if (auto self = weak.lock()) (*self)->serviceEnded(status);
    };

    LaunchOutcome outcome = platform_.serviceLauncher.launch(std::move(launch));
    if (!outcome.process) {
        showFailure(messageWithDetail(kLaunchFailedMessage, outcome.errorDescription));
        return;
    }
    serverProcess = std::move(outcome.process);
    startupTimeout = platform_.mainQueue.schedule(kStartupTimeout, [weak = weakSelf()] {
        if (auto self = weak.lock()) (*self)->startupTimedOut();
    });
}

// The text before bytes that are not UTF-8 still counts; after them the stream is declined,
// and the launcher keeps draining it so the service never blocks on a full pipe.
bool AppDelegate::receiveStandardOutput(std::string_view chunk) {
    if (!stdoutPipe) return false;
    consumeStdout(stdoutPipe->decode(chunk));
    return !stdoutPipe->ended();
}

bool AppDelegate::receiveStandardError(std::string_view chunk) {
    if (!stderrPipe) return false;
    appendKeepingTail(stderrBuffer, stderrPipe->decode(chunk));
    return !stderrPipe->ended();
}

void AppDelegate::consumeStdout(std::string_view text) {
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

void AppDelegate::connect(const std::string& url) {
    if (connected) return;
    connected = true;
    serverURL = url;
    if (startupTimeout) startupTimeout->cancel();
    webView->loadRequest(url, kServiceRequestTimeout);
    webView->focus();
    postPendingReminderAction();
}

void AppDelegate::startupTimedOut() {
    if (connected) return;
    std::string tail = trimmed(stderrBuffer);
    if (!tail.empty()) {
        showFailure(messageWithDetail(kStartFailedMessage, tail));
    } else {
        // Names the port the service was actually given, not always the default one.
        std::string message(kStartTooSlowMessagePrefix);
        message += chosenServicePort(platform_.system);
        message += kStartTooSlowMessageSuffix;
        showFailure(message);
    }
}

void AppDelegate::serviceEnded(int status) {
    if (terminating) return;
    std::string tail = trimmed(stderrBuffer);
    if (!tail.empty()) {
        showFailure(messageWithDetail(kServiceStoppedMessage, tail));
    } else {
        showFailure(std::string(kServiceStoppedStatusPrefix) + std::to_string(status) + ").");
    }
}

void AppDelegate::showFailure(std::string_view message) {
    connected = false;
    if (startupTimeout) startupTimeout->cancel();
    webView->loadHtmlString(failurePage(message));
}

}  // namespace lumory
