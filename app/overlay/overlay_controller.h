#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "page/page_host.h"
#include "platform/desktop.h"
#include "platform/overlay_window.h"
#include "platform/web_view.h"
#include "service/service_supervisor.h"
#include "weak_handle.h"

namespace lumory {

// The overlay page's only injected script: a press on its `.live-head` bar, outside any control,
// asks for a window drag.
extern const std::string_view kOverlayPageScript;

// The announced address with its query replaced by live=overlay; nothing when it cannot be
// parsed.
std::optional<std::string> overlayAddress(const std::string& serverURL);

// The live overlay: a small window above the others with the service's overlay page, and its
// controls in the desktop's status area and in the Window menu. It is open exactly while
// `overlayWindow` is set.
class OverlayController {
public:
    OverlayController(Desktop& desktop, PageHost& host, const ServiceSupervisor& service);

    void openOverlay();
    void closeOverlay();
    void setOverlayClickThrough(bool value);
    void toggleOverlayClickThrough();
    void closeOverlayFromMenu();
    void refreshOverlayMenu();
    // The overlay's page asked to move its window.
    void beginMoveDrag();

    bool isOverlayView(const WebView& view) const {
        return overlayWebView && &view == overlayWebView.get();
    }

private:
    Desktop& desktop_;
    PageHost& host_;
    const ServiceSupervisor& service_;

    std::unique_ptr<WebView> overlayWebView;
    std::unique_ptr<OverlayWindow> overlayWindow;
    std::unique_ptr<StatusItem> overlayStatusItem;
    // The status item's two actions in the Window menu, for desktops without a status area.
    std::unique_ptr<MenuSection> overlayMenuSection;
    bool overlayClickThrough = false;

    Lifetime<OverlayController> lifetime_{this};
};

}  // namespace lumory
