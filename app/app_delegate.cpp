#include "app_delegate.h"

#include <thread>

#include "loading_page.h"
#include "page_bridge.h"

namespace lumory {

namespace {

constexpr std::string_view kMainWindowFrameName = "LumoryMainWindow";
constexpr auto kServiceStopGrace = std::chrono::seconds(1);
constexpr auto kServiceStopPoll = std::chrono::milliseconds(20);

MainWindowSpec mainWindowSpec() {
    MainWindowSpec spec;
    spec.title = "Lumory";
    spec.width = 1440;
    spec.height = 900;
    spec.minimumWidth = 900;
    spec.minimumHeight = 620;
    spec.titleVisible = false;
    spec.titleBarVisible = false;
    return spec;
}

}  // namespace

AppDelegate::AppDelegate(AppPlatform platform)
    : platform_(platform), self_(std::make_shared<AppDelegate*>(this)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    // Reminder notifications register their category first, once the reminders arrive.

    platform_.desktop.setMenuBar(buildMenuBar(), [weak = weakSelf()](const MenuAction& action) {
        if (auto self = weak.lock()) (*self)->performMenuAction(action);
    });

    webView = platform_.desktop.createWebView(WebViewConfiguration{}, *this);
    for (std::string_view name : kMainMessageHandlers) {
        webView->addScriptMessageHandler(std::string(name));
    }
    webView->addUserScript(std::string(kMainPageScript));

    window = platform_.desktop.createMainWindow(mainWindowSpec(), *webView, [weak = weakSelf()] {
        if (auto self = weak.lock()) (*self)->windowCloseRequested();
    });
    window->setFrameAutosaveName(std::string(kMainWindowFrameName));
    window->center();
    window->makeKeyAndOrderFront();

    webView->loadHtmlString(std::string(kLoadingPage));
    startServer();
    // The update check starts here once it exists.
    platform_.desktop.activate();
}

bool AppDelegate::applicationShouldHandleReopen() {
    window->makeKeyAndOrderFront();
    return true;
}

TerminateReply AppDelegate::applicationShouldTerminate() {
    // Asking the page to save first comes with the flush; until then quitting is immediate.
    return TerminateReply::Now;
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

void AppDelegate::performMenuAction(const MenuAction& action) {
    if (auto* command = std::get_if<PageCommand>(&action)) {
        runWebCommand(command->word);
        return;
    }
    if (std::holds_alternative<ReloadPage>(action)) {
        reloadPage();
        return;
    }
    switch (std::get<StandardAction>(action)) {
        case StandardAction::About:
            platform_.desktop.showAboutPanel();
            break;
        case StandardAction::Quit:
            requestTermination();
            break;
        case StandardAction::Hide:
        case StandardAction::Minimize:
            window->miniaturize();
            break;
        case StandardAction::Zoom:
            window->zoom();
            break;
        case StandardAction::ToggleFullScreen:
            window->toggleFullScreen();
            break;
        case StandardAction::BringAllToFront:
            window->makeKeyAndOrderFront();
            break;
        case StandardAction::Undo:
            webView->performEditingCommand(EditingCommand::Undo);
            break;
        case StandardAction::Redo:
            webView->performEditingCommand(EditingCommand::Redo);
            break;
        case StandardAction::Cut:
            webView->performEditingCommand(EditingCommand::Cut);
            break;
        case StandardAction::Copy:
            webView->performEditingCommand(EditingCommand::Copy);
            break;
        case StandardAction::Paste:
            webView->performEditingCommand(EditingCommand::Paste);
            break;
        case StandardAction::SelectAll:
            webView->performEditingCommand(EditingCommand::SelectAll);
            break;
    }
}

void AppDelegate::reloadPage() {
    if (connected) webView->reload();
}

void AppDelegate::didFinishNavigation(WebView&) {
    // Pending reminders are delivered from here once reminders exist.
}

}  // namespace lumory
