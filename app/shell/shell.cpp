#include "shell/shell.h"

#include "page/spelling_languages.h"
#include "service/failure_page.h"

namespace lumory {

Shell::Shell(ShellPlatform platform)
    : platform_(platform),
      service_(platform.system, platform.serviceLauncher, platform.mainQueue,
               {.connected =
                    [this](const std::string& url) {
                        page_.showServicePage(url);
                        reminderActions_.postPendingReminderAction();
                    },
                .failed =
                    [this](const std::string& html) {
                        // A page in the middle of saving keeps its text on screen.
                        if (quit_.isAwaitingTermination()) {
                            quit_.serviceStoppedWhileSaving();
                        } else {
                            page_.showDocument(html);
                        }
                    }}),
      page_(platform.desktop, platform.dialogs, platform.mainQueue, bridge_, service_),
      window_(platform.desktop),
      quit_(platform.desktop, platform.mainQueue, platform.dialogs, window_, page_, service_),
      overlay_(platform.desktop, page_, service_),
      scheduler_(platform.notificationCenter, platform.clock),
      reminders_(platform.notificationCenter, scheduler_, platform.mainQueue, page_),
      reminderActions_(platform.http, platform.mainQueue, service_),
      responder_(platform.notificationCenter, platform.clock, platform.mainQueue,
                 {platform.desktop, window_, page_, service_, reminders_, reminderActions_}),
      updates_({platform.http, platform.settings, platform.clock, platform.system,
                platform.mainQueue, platform.dialogs, platform.desktop}) {
    registerPageMessages();
    page_.setLoadFinishedHandler([this] { responder_.deliverPendingReminder(); });
    page_.setPageDidNotLoadHandler([this] { service_.showFailure(kPageDidNotLoadMessage); });
}

Shell::~Shell() {
    // Notification answers that come later must not reach a responder that is gone.
    platform_.notificationCenter.setDelegate(nullptr);
}

void Shell::registerPageMessages() {
    bridge_.handle<FlushAnswer>(kFlushHandler, [this](WebView&, FlushAnswer answer) {
        quit_.flushAnswered(answer);
    });
    bridge_.handle<ReminderRequest>(kRemindersHandler, [this](WebView&, ReminderRequest request) {
        reminders_.handleReminderMessage(std::move(request));
    });
    // Only the shell's own two views post this; anything else has no window to move.
    bridge_.handle<WindowDragRequest>(kWindowDragHandler, [this](WebView& sender, auto) {
        if (overlay_.isOverlayView(sender)) {
            overlay_.beginMoveDrag();
        } else if (&sender == page_.mainViewIfCreated()) {
            window_.beginMoveDrag();
        }
    });
    bridge_.handle<WindowControlsPosition>(
        kWindowControlsHandler, [this](WebView&, WindowControlsPosition position) {
            window_.positionWindowControls(position.left, position.top,
                                           page_.mainView().zoom());
        });
    bridge_.handle<OverlayRequest>(kOverlayHandler, [this](WebView&, OverlayRequest request) {
        switch (request.action) {
            case OverlayRequest::Action::Open:
                overlay_.openOverlay();
                break;
            case OverlayRequest::Action::Close:
                overlay_.closeOverlay();
                break;
            case OverlayRequest::Action::ClickThrough:
                overlay_.setOverlayClickThrough(request.value);
                break;
        }
    });
}

void Shell::start() {
    scheduler_.registerReminderCategories(responder_);
    platform_.desktop.setMenuBar(buildMenuBar(), [weak = lifetime_.weak()](const MenuAction& action) {
        if (auto* self = weak.get()) self->performMenuAction(action);
    });
    platform_.desktop.setSpellCheckingLanguages(
        spellCheckingLanguages(platform_.system, platform_.settings));
    page_.createMainView();
    window_.open(page_.mainView(), [weak = lifetime_.weak()] {
        if (auto* self = weak.get()) self->quit();
    });
    page_.showLoadingPage();
    service_.startServer();
    updates_.checkInBackground();
    platform_.desktop.activate();
}

void Shell::activateAgain() {
    window_.present();
}

void Shell::quit() {
    quit_.requestTermination();
}

void Shell::shutdown() {
    quit_.shutdown();
    page_.detachMainView();
    overlay_.closeOverlay();
    service_.stopService();
    quit_.releaseLogout();
}

void Shell::performMenuAction(const MenuAction& action) {
    if (auto* command = std::get_if<PageCommand>(&action)) {
        page_.runWebCommand(command->word);
        return;
    }
    if (std::holds_alternative<ReloadPage>(action)) {
        page_.reloadPage();
        return;
    }
    WebView& view = page_.mainView();
    switch (std::get<StandardAction>(action)) {
        case StandardAction::About:
            platform_.desktop.showAboutDialog();
            break;
        case StandardAction::Quit:
            quit();
            break;
        case StandardAction::Hide:
        case StandardAction::Minimize:
            window_.minimize();
            break;
        case StandardAction::Zoom:
            window_.toggleMaximized();
            break;
        case StandardAction::ToggleFullScreen:
            window_.toggleFullScreen();
            break;
        case StandardAction::BringAllToFront:
            window_.present();
            break;
        case StandardAction::Undo:
            view.executeEditingCommand(EditingCommand::Undo);
            break;
        case StandardAction::Redo:
            view.executeEditingCommand(EditingCommand::Redo);
            break;
        case StandardAction::Cut:
            view.executeEditingCommand(EditingCommand::Cut);
            break;
        case StandardAction::Copy:
            view.executeEditingCommand(EditingCommand::Copy);
            break;
        case StandardAction::Paste:
            view.executeEditingCommand(EditingCommand::Paste);
            break;
        case StandardAction::SelectAll:
            view.executeEditingCommand(EditingCommand::SelectAll);
            break;
    }
}

}  // namespace lumory
