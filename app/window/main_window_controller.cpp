#include "window/main_window_controller.h"

#include "window/window_controls.h"

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

void MainWindowController::open(WebView& content, std::function<void()> closeRequested) {
    window = desktop_.createMainWindow(mainWindowSpec(), content, std::move(closeRequested));
    window->restoreFrame(std::string(kMainWindowFrameName));
    window->center();
    window->present();
}

void MainWindowController::present() {
    if (window) window->present();
}

void MainWindowController::minimize() {
    if (window) window->minimize();
}

void MainWindowController::toggleMaximized() {
    if (window) window->toggleMaximized();
}

void MainWindowController::toggleFullScreen() {
    if (window) window->toggleFullScreen();
}

void MainWindowController::beginMoveDrag() {
    if (window) window->beginMoveDrag();
}

void MainWindowController::positionWindowControls(double left, double top, double zoom) {
    if (window) window->placeWindowControls(closeButtonOrigin(left, top, zoom));
}

}  // namespace lumory
