#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_platform.h"
#include "utf8_stream_decoder.h"

namespace lumory {

inline constexpr std::chrono::milliseconds kStartupTimeout = std::chrono::seconds(20);
inline constexpr std::chrono::seconds kServiceRequestTimeout{60};
// Standard output kept while waiting for a line feed; a longer line is never a ready line.
inline constexpr size_t kLongestReadyLine = 64 * 1024;

enum class TerminateReply { Now, Later };

// The whole native side of the shell. Every operation runs on the main thread; work that comes
// back later (pipes, the child's exit, timers, D-Bus, HTTP) checks that the delegate still exists.
class AppDelegate : public WebViewDelegate, public NotificationCenterDelegate {
public:
    explicit AppDelegate(AppPlatform platform);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Start-up and application answers (app_delegate.cpp).
    void applicationDidFinishLaunching();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
    bool applicationShouldHandleReopen();

    // Menu actions.
    void performMenuAction(const MenuAction& action);
    void runWebCommand(const std::string& word);
    void reloadPage();

    // Local service launch and supervision (service_launch.cpp).
    void startServer();
    void consumeStdout(std::string_view text);
    void connect(const std::string& url);

    // Web view host: navigation policy and panels (navigation_policy.cpp).
    bool isInternal(const std::string& url) const;
    void openOutside(const std::string& url);
    void didFinishNavigation(WebView& sender) override;
    NavigationPolicy decidePolicyForNavigation(WebView& sender, const std::string& url) override;
    void createWebViewWith(WebView& sender, const std::string& url) override;
    void runJavaScriptAlertPanel(WebView& sender, const std::string& message,
                                 std::function<void()> done) override;
    void runJavaScriptConfirmPanel(WebView& sender, const std::string& message,
                                   std::function<void(bool)> done) override;
    void runJavaScriptTextInputPanel(WebView& sender, const std::string& prompt,
                                     const std::string& defaultText,
                                     std::function<void(std::optional<std::string>)> done) override;
    void runOpenPanel(WebView& sender, const OpenPanelParameters& parameters,
                      std::function<void(std::optional<std::vector<std::string>>)> done) override;
    void webContentProcessDidTerminate(WebView& sender) override;

    // Page bridge (page_bridge.cpp).
    void didReceiveScriptMessage(WebView& sender, const std::string& name,
                                 const nlohmann::json& body) override;
    void positionWindowControls(double left, double top);

    // Termination and flush (termination.cpp).
    TerminateReply applicationShouldTerminate();
    void finishTermination(bool allow, std::optional<std::string> error);
    void applicationWillTerminate();
    // Quit, closing the last window, a signal, or the session asking the shell to end.
    void requestTermination();

    // Live overlay and its status item (overlay.cpp).
    void openOverlay();
    void closeOverlay();
    void setOverlayClickThrough(bool value);
    void toggleOverlayClickThrough();
    void closeOverlayFromMenu();
    void refreshOverlayMenu();

    // Reminder bridge (reminders/reminder_bridge.cpp).
    void handleReminderMessage(const nlohmann::json& body);
    void sendReminderResult(const std::optional<std::string>& requestId,
                            const nlohmann::json& payload);
    void sendReminderEvent(std::string_view name, const nlohmann::json& detail);

    // Notification scheduling (reminders/notification_scheduling.cpp).
    void registerReminderCategories();
    void scheduleReminders(nlohmann::json notifications);
    void scheduleTestReminder(bool sound);

    // Notification responses and pending actions (reminders/notification_responses.cpp).
    bool willPresent(const NotificationRequest& notification) override;
    void didReceive(const NotificationResponse& response,
                    std::function<void()> completion) override;
    void snoozeNativeNotification(const NotificationRequest& notification,
                                  const nlohmann::json& reminder, int minutes);
    void queueReminderAction(const nlohmann::json& reminder, const std::string& action,
                             std::optional<int> snoozeMinutes);
    void postPendingReminderAction();
    void deliverPendingReminder();

    // What later operations and tests rely on.
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

    // Main window and service.
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

    // Termination.
    bool awaitingTermination = false;
    std::unique_ptr<WorkItem> terminationTimeout;
    // Counts flushes, so a late evaluation error of an earlier one ends nothing.
    std::uint64_t terminationRequest = 0;
    // Held from a quit request until the shell ends or the page has saved.
    std::unique_ptr<SessionInhibition> logoutInhibition;

    // Overlay. The overlay is open exactly while overlayWindow is set.
    std::unique_ptr<WebView> overlayWebView;
    std::unique_ptr<OverlayWindow> overlayWindow;
    std::unique_ptr<StatusItem> overlayStatusItem;
    // The status item's two actions in the Window menu, for desktops without a status area.
    std::unique_ptr<MenuSection> overlayMenuSection;
    bool overlayClickThrough = false;

    // Reminders.
    std::int64_t reminderGeneration = 0;
    std::optional<std::string> pendingReminderPath;
    std::optional<nlohmann::json> pendingReminderEvent;
    std::optional<nlohmann::json> pendingReminderAction;
};

}  // namespace lumory
