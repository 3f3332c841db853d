#include <thread>

#include "app_delegate.h"
#include "page_bridge.h"

namespace lumory {

namespace {

constexpr std::string_view kFlushScript = "window.dispatchEvent(new Event('lumory-desktop-flush'))";
constexpr auto kFlushWait = std::chrono::seconds(5);
constexpr std::string_view kFlushTooSlowError =
    "Saving took too long. Lumory is still open so no edits are lost.";
constexpr std::string_view kSaveFailedMessage = "Lumory could not save before quitting";
constexpr std::string_view kKeepWorkingButton = "Keep Working";
// What the session shows the user while logging out waits for the shell.
constexpr std::string_view kSavingReason = "Saving your note";

constexpr auto kServiceStopGrace = std::chrono::seconds(1);
constexpr auto kServiceStopPoll = std::chrono::milliseconds(20);

}  // namespace

TerminateReply AppDelegate::applicationShouldTerminate() {
    // The loading and failure pages hold nothing to save.
    if (!connected) return TerminateReply::Now;
    if (awaitingTermination) return TerminateReply::Later;
    awaitingTermination = true;
    std::uint64_t request = ++terminationRequest;
    // Logging out now would end the shell before the page has saved.
    logoutInhibition = platform_.desktop.inhibitLogout(std::string(kSavingReason));

    webView->evaluateScript(std::string(kFlushScript),
                            [weak = weakSelf(), request](std::optional<std::string> error) {
                                auto self = weak.lock();
                                if (!self || !error) return;
                                // An error left over from an earlier flush ends nothing now.
                                if ((*self)->terminationRequest != request) return;
                                (*self)->finishTermination(false, std::move(error));
                            });
    // An evaluation that failed at once has already ended this flush.
    if (awaitingTermination) {
        terminationTimeout = platform_.mainQueue.schedule(kFlushWait, [weak = weakSelf()] {
            if (auto self = weak.lock()) {
                (*self)->finishTermination(false, std::string(kFlushTooSlowError));
            }
        });
    }
    return TerminateReply::Later;
}

void AppDelegate::finishTermination(bool allow, std::optional<std::string> error) {
    // Only the first of the page's answer, an evaluation error and the time-out counts.
    if (!awaitingTermination) return;
    awaitingTermination = false;
    if (terminationTimeout) {
        terminationTimeout->cancel();
        terminationTimeout.reset();
    }
    if (allow) {
        // The logout stays held back until the service has stopped.
        platform_.desktop.terminate();
        return;
    }
    // The note is still unsaved: a session ending now would close the window and lose it. The
    // session keeps waiting until the next quit saves the note or the user ends the session
    // from the session's own dialog (GNOME goes on logging out once no inhibition is left).
    logoutInhibition = platform_.desktop.inhibitLogout(std::string(kSaveFailedMessage));
    if (!error) return;

    // Hidden or minimised, the window would leave the user wondering why Lumory still runs.
    window->makeKeyAndOrderFront();
    AlertSpec alert;
    alert.messageText = kSaveFailedMessage;
    alert.informativeText = *error;
    alert.buttons = {std::string(kKeepWorkingButton)};
    platform_.alerts.beginSheet(alert, [](AlertResponse) {});
}

void AppDelegate::windowCloseRequested() {
    if (applicationShouldTerminateAfterLastWindowClosed()) requestTermination();
}

// A later answer comes through finishTermination, which ends the event loop when it allows.
void AppDelegate::requestTermination() {
    if (terminating) return;
    if (applicationShouldTerminate() == TerminateReply::Now) platform_.desktop.terminate();
}

void AppDelegate::applicationWillTerminate() {
    terminating = true;
    if (startupTimeout) startupTimeout->cancel();
    if (terminationTimeout) terminationTimeout->cancel();
    if (webView) {
        for (std::string_view name : kMainMessageHandlers) {
            webView->removeScriptMessageHandler(std::string(name));
        }
    }
    closeOverlay();
    stopService();
    logoutInhibition.reset();
}

// Blocks the main thread for at most the grace period: the shell is exiting anyway.
void AppDelegate::stopService() {
    if (!serverProcess) return;
    serverProcess->stopReading();
    if (!serverProcess->isRunning()) return;
    serverProcess->terminate();
    auto deadline = std::chrono::steady_clock::now() + kServiceStopGrace;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kServiceStopPoll);
        if (!serverProcess->isRunning()) return;
    }
    serverProcess->interrupt();
}

}  // namespace lumory
