#pragma once

#include "overlay/overlay_controller.h"
#include "page/page_bridge.h"
#include "page/page_host.h"
#include "quit/quit_controller.h"
#include "reminders/notification_responder.h"
#include "reminders/reminder_actions.h"
#include "reminders/reminder_bridge.h"
#include "reminders/reminder_scheduler.h"
#include "service/service_supervisor.h"
#include "shell/menu_bar.h"
#include "shell/shell_platform.h"
#include "updates/update_checker.h"
#include "window/main_window_controller.h"
#include "weak_handle.h"

namespace lumory {

// The shell's composition root: builds each feature, wires them together and routes the
// application's own moments (start, a second launch, quit, the end) to them. Everything runs
// on the main thread.
class Shell {
public:
    explicit Shell(ShellPlatform platform);
    ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    void start();
    // The application was launched again while it runs: the window comes forward.
    void activateAgain();
    // Quit, closing the last window, a signal, or the session asking the shell to end.
    void quit();
    // The event loop has ended; the final clean-up.
    void shutdown();

    ServiceSupervisor& service() { return service_; }
    PageHost& page() { return page_; }
    QuitController& quitController() { return quit_; }
    OverlayController& overlay() { return overlay_; }
    ReminderActions& reminderActions() { return reminderActions_; }
    NotificationResponder& notificationResponder() { return responder_; }
    updates::UpdateChecker& updateChecker() { return updates_; }

private:
    void registerPageMessages();
    void performMenuAction(const MenuAction& action);

    ShellPlatform platform_;
    PageBridge bridge_;
    ServiceSupervisor service_;
    PageHost page_;
    MainWindowController window_;
    QuitController quit_;
    OverlayController overlay_;
    ReminderScheduler scheduler_;
    ReminderBridge reminders_;
    ReminderActions reminderActions_;
    NotificationResponder responder_;
    updates::UpdateChecker updates_;
    // For what the desktop calls back later (menus, the window's close button).
    Lifetime<Shell> lifetime_{this};
};

}  // namespace lumory
