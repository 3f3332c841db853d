#include "app_delegate.h"

namespace lumory {

// The overlay window arrives with its own code; until then nothing is ever open.

void AppDelegate::openOverlay() {
    if (!serverURL) return;
}

void AppDelegate::closeOverlay() {
    overlayWebView.reset();
    overlayWindow.reset();
    overlayClickThrough = false;
    refreshOverlayMenu();
    overlayStatusItem.reset();
}

void AppDelegate::setOverlayClickThrough(bool value) {
    overlayClickThrough = value;
    if (overlayWindow) overlayWindow->setIgnoresMouseEvents(overlayClickThrough);
    refreshOverlayMenu();
}

void AppDelegate::toggleOverlayClickThrough() {
    setOverlayClickThrough(!overlayClickThrough);
}

void AppDelegate::closeOverlayFromMenu() {
    closeOverlay();
}

void AppDelegate::refreshOverlayMenu() {
    if (!overlayStatusItem) return;
}

}  // namespace lumory
