#pragma once

#include <string>

#include "platform/geometry.h"

namespace lumory {

struct MainWindowSpec {
    std::string title;
    int width = 0;
    int height = 0;
    int minimumWidth = 0;
    int minimumHeight = 0;
    bool titleVisible = false;
    // The page fills the window; dragging is left to the page's own drag areas.
    bool titleBarVisible = false;
};

struct WindowFrame {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class MainWindow {
public:
    virtual ~MainWindow() = default;
    // Restores the frame saved under `name` and keeps saving it there from now on.
    virtual void restoreFrame(const std::string& name) = 0;
    virtual void center() = 0;
    virtual void present() = 0;
    virtual void minimize() = 0;
    virtual void toggleMaximized() = 0;
    virtual void toggleFullScreen() = 0;
    // Lets the user move the window with the primary button pressed in the page; does nothing
    // unless that button is held down.
    virtual void beginMoveDrag() = 0;
    // Moves the window buttons the shell draws over its page so that the close button's
    // top-left corner sits at `closeOrigin`, in the web view's pixels.
    virtual void placeWindowControls(Point closeOrigin) = 0;
};

}  // namespace lumory
