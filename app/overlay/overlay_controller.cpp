#include "overlay/overlay_controller.h"

#include <glib.h>

#include "page/page_bridge.h"
#include "page/page_messages.h"

namespace lumory {

namespace {

constexpr std::string_view kOverlayFrameName = "LumoryLiveOverlay";
constexpr std::string_view kOverlayWindowTitle = "Lumory live overlay";
constexpr int kOverlayWidth = 520;
constexpr int kOverlayHeight = 460;
constexpr std::string_view kOverlayQuery = "live=overlay";
constexpr std::chrono::seconds kOverlayLoadTimeout{60};

constexpr std::string_view kStatusTitle = "\u25C9";              // ◉
constexpr std::string_view kStatusTitleClickThrough = "\u25CE";  // ◎
constexpr std::string_view kStatusToolTip = "Lumory live overlay";
constexpr std::string_view kStatusIcon = "org.lumory.Lumory-overlay-symbolic";
constexpr std::string_view kStatusIconClickThrough =
    "org.lumory.Lumory-overlay-click-through-symbolic";
constexpr std::string_view kClickThroughItem = "Click through the overlay";
constexpr std::string_view kCloseOverlayItem = "Close overlay";
// Where no status area exists the same two items stay reachable from the main window.
constexpr std::string_view kFallbackMenu = "Window";

// The check item first, so index 0 is the one whose mark follows click-through.
std::vector<StatusMenuItem> overlayControls(const WeakHandle<OverlayController>& weak,
                                            bool separated) {
    std::vector<StatusMenuItem> items;
    items.push_back({std::string(kClickThroughItem), true, false, [weak] {
                         if (auto* self = weak.get()) self->toggleOverlayClickThrough();
                     }});
    if (separated) items.emplace_back();
    items.push_back({std::string(kCloseOverlayItem), false, false, [weak] {
                         if (auto* self = weak.get()) self->closeOverlayFromMenu();
                     }});
    return items;
}

}  // namespace

const std::string_view kOverlayPageScript = R"JS((() => {
  document.addEventListener('mousedown', (event) => {
    if (event.button !== 0 || !(event.target instanceof Element)) return;
    const target = event.target;
    if (!target.closest('.live-head')) return;
    if (target.closest('button, a, input, select, textarea, [contenteditable="true"]')) return;
    const handlers = window.webkit && window.webkit.messageHandlers;
    if (handlers && handlers.lumoryDesktopWindowDrag) {
      handlers.lumoryDesktopWindowDrag.postMessage({action: 'drag'});
    }
    event.preventDefault();
  }, true);
})();)JS";

// Scheme, user, host, port, path and fragment stay exactly as announced; only the query is
// replaced.
std::optional<std::string> overlayAddress(const std::string& serverURL) {
    if (serverURL.find('\0') != std::string::npos) return std::nullopt;
    constexpr auto kFlags = static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_HAS_PASSWORD);
    g_autoptr(GUri) announced = g_uri_parse(serverURL.c_str(), kFlags, nullptr);
    if (announced == nullptr) return std::nullopt;
    std::string query(kOverlayQuery);
    g_autoptr(GUri) overlay = g_uri_build_with_user(
        kFlags, g_uri_get_scheme(announced), g_uri_get_user(announced),
        g_uri_get_password(announced), g_uri_get_auth_params(announced), g_uri_get_host(announced),
        g_uri_get_port(announced), g_uri_get_path(announced), query.c_str(),
        g_uri_get_fragment(announced));
    g_autofree char* text = g_uri_to_string(overlay);
    if (text == nullptr) return std::nullopt;
    return std::string(text);
}

OverlayController::OverlayController(Desktop& desktop, PageHost& host,
                                     const ServiceSupervisor& service)
    : desktop_(desktop), host_(host), service_(service) {}

void OverlayController::openOverlay() {
    const auto& serverURL = service_.announcedServerURL();
    if (!serverURL) return;
    if (overlayWindow) {
        overlayWindow->present();
        return;
    }

    WebViewConfiguration configuration;
    configuration.persistentWebsiteData = true;
    configuration.zoomAllowed = false;
    configuration.drawsBackground = false;
    overlayWebView = desktop_.createWebView(configuration, host_);
    PageBridge::attach(*overlayWebView, kOverlayMessageHandlers);
    overlayWebView->addUserScript(std::string(kOverlayPageScript));

    OverlayWindowSpec spec;
    spec.title = kOverlayWindowTitle;
    spec.width = kOverlayWidth;
    spec.height = kOverlayHeight;
    overlayWindow = desktop_.createOverlayWindow(spec, *overlayWebView, [weak = lifetime_.weak()] {
        if (auto* self = weak.get()) self->closeOverlay();
    });
    if (!overlayWindow->restoreFrame(std::string(kOverlayFrameName))) overlayWindow->center();
    // A click-through request that came while nothing was open is not carried over: a new
    // overlay always takes clicks, so it can never appear as a window nothing reaches.
    overlayClickThrough = false;
    overlayWindow->present();

    if (auto address = overlayAddress(*serverURL)) {
        overlayWebView->loadUri(*address, kOverlayLoadTimeout,
                                CachePolicy::ReloadIgnoringLocalCache);
    }

    if (!overlayStatusItem) {
        overlayStatusItem = desktop_.createStatusItem();
        if (overlayStatusItem) {
            overlayStatusItem->setTitle(std::string(kStatusTitle));
            overlayStatusItem->setToolTip(std::string(kStatusToolTip));
            overlayStatusItem->setIconName(std::string(kStatusIcon));
            overlayStatusItem->setMenu(overlayControls(lifetime_.weak(), true));
        }
    }
    if (!overlayMenuSection) {
        overlayMenuSection = desktop_.addMenuSection(std::string(kFallbackMenu));
        if (overlayMenuSection) overlayMenuSection->setItems(overlayControls(lifetime_.weak(), false));
    }
    refreshOverlayMenu();
}

void OverlayController::closeOverlay() {
    if (overlayWebView) {
        PageBridge::detach(*overlayWebView, kOverlayMessageHandlers);
        host_.forgetView(*overlayWebView);
    }
    if (overlayWindow) overlayWindow->hide();
    overlayWindow.reset();
    overlayWebView.reset();
    overlayClickThrough = false;
    refreshOverlayMenu();
    overlayStatusItem.reset();
    overlayMenuSection.reset();
}

void OverlayController::setOverlayClickThrough(bool value) {
    overlayClickThrough = value;
    if (overlayWindow) overlayWindow->setClickThrough(overlayClickThrough);
    refreshOverlayMenu();
}

void OverlayController::toggleOverlayClickThrough() {
    setOverlayClickThrough(!overlayClickThrough);
}

void OverlayController::closeOverlayFromMenu() {
    closeOverlay();
}

void OverlayController::refreshOverlayMenu() {
    if (overlayMenuSection) overlayMenuSection->setItemChecked(0, overlayClickThrough);
    if (!overlayStatusItem) return;
    overlayStatusItem->setItemChecked(0, overlayClickThrough);
    overlayStatusItem->setTitle(
        std::string(overlayClickThrough ? kStatusTitleClickThrough : kStatusTitle));
    overlayStatusItem->setIconName(
        std::string(overlayClickThrough ? kStatusIconClickThrough : kStatusIcon));
}

void OverlayController::beginMoveDrag() {
    if (overlayWindow) overlayWindow->beginMoveDrag();
}

}  // namespace lumory
