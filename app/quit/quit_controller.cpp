#include "quit/quit_controller.h"

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
constexpr std::string_view kServiceStoppedTitle = "The Lumory service stopped before your note was saved";
constexpr std::string_view kServiceStoppedDetail =
    "Its text is still in the window: copy what you want to keep, then quit.";
constexpr std::string_view kKeepWindowOpenButton = "Keep Window Open";
constexpr std::string_view kQuitAnywayButton = "Quit Anyway";

}  // namespace

QuitController::QuitController(Desktop& desktop, MainQueue& mainQueue, Dialogs& dialogs,
                               MainWindowController& window, PageHost& page,
                               const ServiceSupervisor& service)
    : desktop_(desktop),
      mainQueue_(mainQueue),
      dialogs_(dialogs),
      window_(window),
      page_(page),
      service_(service) {}

// A later answer comes through finishTermination, which ends the event loop when it allows.
void QuitController::requestTermination() {
    if (terminating) return;
    if (applicationShouldTerminate() == TerminateReply::Now) desktop_.quit();
}

QuitController::TerminateReply QuitController::applicationShouldTerminate() {
    // The loading and failure pages hold nothing to save, and a page that never loaded (or
    // whose service is gone) cannot answer.
    if (!service_.isConnected() || !page_.servicePageLoaded()) return TerminateReply::Now;
    if (awaitingTermination) return TerminateReply::Later;
    awaitingTermination = true;
    std::uint64_t request = ++terminationRequest;
    // Logging out now would end the shell before the page has saved.
    logoutInhibition = desktop_.inhibitLogout(std::string(kSavingReason));

    page_.mainView().evaluateJavascript(
        std::string(kFlushScript),
        [weak = lifetime_.weak(), request](std::optional<std::string> error) {
            auto* self = weak.get();
            if (!self || !error) return;
            // An error left over from an earlier flush ends nothing now.
            if (self->terminationRequest != request) return;
            self->finishTermination(false, std::move(error));
        });
    // An evaluation that failed at once has already ended this flush.
    if (awaitingTermination) {
        terminationTimeout = mainQueue_.schedule(kFlushWait, [weak = lifetime_.weak()] {
            if (auto* self = weak.get()) {
                self->finishTermination(false, std::string(kFlushTooSlowError));
            }
        });
    }
    return TerminateReply::Later;
}

void QuitController::flushAnswered(const FlushAnswer& answer) {
    if (!awaitingTermination) return;
    if (answer.ok) {
        finishTermination(true, std::nullopt);
    } else {
        finishTermination(false, answer.error);
    }
}

void QuitController::finishTermination(bool allow, std::optional<std::string> error) {
    // Only the first of the page's answer, an evaluation error and the time-out counts.
    if (!awaitingTermination) return;
    awaitingTermination = false;
    if (terminationTimeout) {
        terminationTimeout->cancel();
        terminationTimeout.reset();
    }
    if (allow) {
        // The logout stays held back until the service has stopped.
        desktop_.quit();
        return;
    }
    // The note is still unsaved: a session ending now would close the window and lose it. The
    // session keeps waiting until the next quit saves the note or the user ends the session
    // from the session's own dialog (GNOME goes on logging out once no inhibition is left).
    logoutInhibition = desktop_.inhibitLogout(std::string(kSaveFailedMessage));
    if (!error) return;

    // Hidden or minimised, the window would leave the user wondering why Lumory still runs.
    window_.present();
    MessageDialogSpec dialog;
    dialog.text = kSaveFailedMessage;
    dialog.secondaryText = *error;
    dialog.buttons = {std::string(kKeepWorkingButton)};
    dialogs_.showMessageDialog(dialog, [](DialogResponse) {});
}

void QuitController::serviceStoppedWhileSaving() {
    if (!awaitingTermination) return;
    awaitingTermination = false;
    if (terminationTimeout) {
        terminationTimeout->cancel();
        terminationTimeout.reset();
    }
    // As after a failed save, the session must not end the shell with the text unsaved.
    logoutInhibition = desktop_.inhibitLogout(std::string(kSaveFailedMessage));
    window_.present();
    MessageDialogSpec dialog;
    dialog.text = kServiceStoppedTitle;
    dialog.secondaryText = kServiceStoppedDetail;
    dialog.buttons = {std::string(kKeepWindowOpenButton), std::string(kQuitAnywayButton)};
    dialogs_.showMessageDialog(dialog, [weak = lifetime_.weak()](DialogResponse response) {
        auto* self = weak.get();
        if (self && response.button == 1) self->desktop_.quit();
    });
}

void QuitController::shutdown() {
    terminating = true;
    if (terminationTimeout) terminationTimeout->cancel();
}

}  // namespace lumory
