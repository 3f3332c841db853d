#include "app_delegate.h"

#include "loading_page.h"
#include "page_bridge.h"
#include "updates/updates.h"

namespace lumory {

namespace {

constexpr std::string_view kMainWindowFrameName = "LumoryMainWindow";

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

AppDelegate::~AppDelegate() {
    // Notification answers that come later must not reach a delegate that is gone.
    platform_.notificationCenter.setDelegate(nullptr);
}

void AppDelegate::applicationDidFinishLaunching() {
    registerReminderCategories();

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
    Updates::checkInBackground(platform_);
    platform_.desktop.activate();
}

bool AppDelegate::applicationShouldHandleReopen() {
    window->makeKeyAndOrderFront();
    return true;
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

}  // namespace lumory
