#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/host_system.h"
#include "platform/main_queue.h"
#include "platform/service_process.h"
#include "service/utf8_stream_decoder.h"
#include "weak_handle.h"

namespace lumory {

inline constexpr std::chrono::milliseconds kStartupTimeout = std::chrono::seconds(20);
// Standard output kept while waiting for a line feed; a longer line is never a ready line.
inline constexpr size_t kLongestReadyLine = 64 * 1024;

// Starts the local service, watches its standard streams for the ready line and its exit, and
// says what the main view should show: the announced address, or a failure page.
class ServiceSupervisor {
public:
    struct Events {
        // The service announced `url`; the page is to load it.
        std::function<void(const std::string& url)> connected;
        // The service could not start or stopped; the page is to show `html` instead.
        std::function<void(const std::string& html)> failed;
    };

    ServiceSupervisor(const HostSystem& system, ServiceLauncher& launcher, MainQueue& mainQueue,
                      Events events);

    void startServer();
    // Text the service wrote on its standard output, split into lines.
    void consumeStdout(std::string_view text);
    void connect(const std::string& url);
    void showFailure(std::string_view message);
    // Asks the service to end and waits a moment for it; nothing it reports counts any more.
    void stopService();

    bool isConnected() const { return connected; }
    // The address the service announced, for as long as the shell runs.
    const std::optional<std::string>& announcedServerURL() const { return serverURL; }

private:
    bool receiveStandardOutput(std::string_view chunk);
    bool receiveStandardError(std::string_view chunk);
    void startupTimedOut();
    void serviceEnded(int status);

    const HostSystem& system_;
    ServiceLauncher& launcher_;
    MainQueue& mainQueue_;
    Events events_;

    std::unique_ptr<ServiceProcess> serverProcess;
    std::optional<Utf8StreamDecoder> stdoutPipe;
    std::optional<Utf8StreamDecoder> stderrPipe;
    std::string stdoutBuffer;
    bool stdoutOverlong = false;  // dropping a line longer than kLongestReadyLine
    std::string stderrBuffer;
    std::optional<std::string> serverURL;
    bool connected = false;
    bool stopping = false;
    std::unique_ptr<WorkItem> startupTimeout;

    Lifetime<ServiceSupervisor> lifetime_{this};
};

}  // namespace lumory
