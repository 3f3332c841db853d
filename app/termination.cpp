#include <thread>

#include "app_delegate.h"
#include "page_bridge.h"

namespace lumory {

namespace {

constexpr auto kServiceStopGrace = std::chrono::seconds(1);
constexpr auto kServiceStopPoll = std::chrono::milliseconds(20);

}  // namespace

TerminateReply AppDelegate::applicationShouldTerminate() {
    // Asking the page to save first comes with the flush; until then quitting is immediate.
    return TerminateReply::Now;
}

void AppDelegate::finishTermination(bool, std::optional<std::string>) {
    // Only a flush under way can be finished, and none is started yet.
    if (!awaitingTermination) return;
}

void AppDelegate::windowCloseRequested() {
    if (applicationShouldTerminateAfterLastWindowClosed()) requestTermination();
}

void AppDelegate::requestTermination() {
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
