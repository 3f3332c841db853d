#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "page/page_host.h"
#include "page/page_messages.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/main_queue.h"
#include "service/service_supervisor.h"
#include "window/main_window_controller.h"
#include "weak_handle.h"

namespace lumory {

// Quitting: the service's page is asked to save first, and the shell stays open when it cannot.
// Every way of quitting comes here: the menu, closing the window, a signal, the session ending.
class QuitController {
public:
    QuitController(Desktop& desktop, MainQueue& mainQueue, Dialogs& dialogs,
                   MainWindowController& window, PageHost& page, const ServiceSupervisor& service);

    void requestTermination();
    void flushAnswered(const FlushAnswer& answer);
    // The service ended while the page was saving: nothing can save the note any more.
    void serviceStoppedWhileSaving();
    // The shell is ending now: nothing waits for the page any more and the session may go on.
    void shutdown();
    void releaseLogout() { logoutInhibition.reset(); }

    bool isAwaitingTermination() const { return awaitingTermination; }

private:
    enum class TerminateReply { Now, Later };
    TerminateReply applicationShouldTerminate();
    void finishTermination(bool allow, std::optional<std::string> error);

    Desktop& desktop_;
    MainQueue& mainQueue_;
    Dialogs& dialogs_;
    MainWindowController& window_;
    PageHost& page_;
    const ServiceSupervisor& service_;

    bool terminating = false;
    bool awaitingTermination = false;
    std::unique_ptr<WorkItem> terminationTimeout;
    // Counts flushes, so a late evaluation error of an earlier one ends nothing.
    std::uint64_t terminationRequest = 0;
    // Held from a quit request until the shell ends or the page has saved.
    std::unique_ptr<SessionInhibition> logoutInhibition;

    Lifetime<QuitController> lifetime_{this};
};

}  // namespace lumory
