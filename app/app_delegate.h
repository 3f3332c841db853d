#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "desktop.h"
#include "host_system.h"
#include "main_queue.h"
#include "service_process.h"
#include "utf8_stream_decoder.h"

namespace lumory {

inline constexpr std::chrono::milliseconds kStartupTimeout = std::chrono::seconds(20);
inline constexpr std::chrono::seconds kServiceRequestTimeout{60};
// Standard output kept while waiting for a line feed; a longer line is never a ready line.
inline constexpr size_t kLongestReadyLine = 64 * 1024;

// The platform pieces the delegate works through.
struct AppPlatform {
    Desktop& desktop;
    ServiceLauncher& serviceLauncher;
    MainQueue& mainQueue;
    const HostSystem& system;
};

enum class TerminateReply { Now, Later };

// The whole native side of the shell. Every operation runs on the main thread; work that comes
// back later (pipes, the child's exit, timers) checks that the delegate still exists.
class AppDelegate : public WebViewDelegate {
public:
    explicit AppDelegate(AppPlatform platform);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Application answers.
    void applicationDidFinishLaunching();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
    bool applicationShouldHandleReopen();
    TerminateReply applicationShouldTerminate();
    void applicationWillTerminate();
    // Quit, closing the last window, or the session asking the shell to end.
    void requestTermination();

    // Menu actions.
    void performMenuAction(const MenuAction& action);
    void runWebCommand(const std::string& word);
    void reloadPage();

    // Local service launch and supervision.
    void startServer();
    void consumeStdout(std::string_view text);
    void connect(const std::string& url);

    // WebViewDelegate.
    void didReceiveScriptMessage(WebView& sender, const std::string& name,
                                 const nlohmann::json& body) override;
    void didFinishNavigation(WebView& sender) override;

    // What later operations rely on: true exactly while the service's page has been requested.
    bool isConnected() const { return connected; }
    const std::optional<std::string>& announcedServerURL() const { return serverURL; }

private:
    std::weak_ptr<AppDelegate*> weakSelf() const { return self_; }
    void windowCloseRequested();
    void showFailure(std::string_view message);
    bool receiveStandardOutput(std::string_view chunk);
    bool receiveStandardError(std::string_view chunk);
    void startupTimedOut();
    void serviceEnded(int status);
    void stopService();

    AppPlatform platform_;
    // Expires with the delegate; callbacks that outlive it hold only a weak reference.
    std::shared_ptr<AppDelegate*> self_;

    std::unique_ptr<MainWindow> window;
    std::unique_ptr<WebView> webView;
    std::unique_ptr<ServiceProcess> serverProcess;
    std::optional<Utf8StreamDecoder> stdoutPipe;
    std::optional<Utf8StreamDecoder> stderrPipe;
    std::string stdoutBuffer;
    bool stdoutOverlong = false;  // dropping a line longer than kLongestReadyLine
    std::string stderrBuffer;
    std::optional<std::string> serverURL;
    bool connected = false;
    bool terminating = false;
    std::unique_ptr<WorkItem> startupTimeout;
    bool awaitingTermination = false;
    std::unique_ptr<WorkItem> terminationTimeout;
    std::int64_t reminderGeneration = 0;
    std::optional<std::string> pendingReminderPath;
    std::optional<nlohmann::json> pendingReminderEvent;
    std::optional<nlohmann::json> pendingReminderAction;
    bool overlayClickThrough = false;
};

}  // namespace lumory
