#pragma once

#include <functional>
#include <memory>

#include "platform/desktop.h"
#include "platform/main_window.h"
#include "platform/web_view.h"

namespace lumory {

// The main window around the main web view: its size, its saved frame, the standard window
// actions of the menus and the window buttons the shell draws over the page.
class MainWindowController {
public:
    explicit MainWindowController(Desktop& desktop) : desktop_(desktop) {}

    // Opens the window around `content`, where it was last left (else centred), in front.
    // `closeRequested` runs when the user asks to close it.
    void open(WebView& content, std::function<void()> closeRequested);

    void present();
    void minimize();
    void toggleMaximized();
    void toggleFullScreen();
    void beginMoveDrag();
    // The page reported its sidebar's corner at (left, top) CSS pixels, at `zoom`.
    void positionWindowControls(double left, double top, double zoom);

private:
    Desktop& desktop_;
    std::unique_ptr<MainWindow> window;
};

}  // namespace lumory
