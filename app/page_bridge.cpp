#include "page_bridge.h"

#include "app_delegate.h"
#include "window_controls.h"

#include <utility>

namespace lumory {

const std::string_view kMainPageScript = R"JS((() => {
  const post = (name, body) => {
    const handlers = window.webkit && window.webkit.messageHandlers;
    if (handlers && handlers[name]) handlers[name].postMessage(body);
  };
  const placeWindowControls = () => {
    const sidebar = document.getElementById('sidebar');
    if (!sidebar) return;
    const rect = sidebar.getBoundingClientRect();
    post('lumoryDesktopWindowControls', {left: rect.left, top: rect.top});
  };
  requestAnimationFrame(placeWindowControls);
  window.addEventListener('resize', placeWindowControls);
  if (window.visualViewport) window.visualViewport.addEventListener('resize', placeWindowControls);
  document.addEventListener('mousedown', (event) => {
    if (event.button !== 0 || !(event.target instanceof Element)) return;
    const target = event.target;
    if (!target.closest('.workspace-brand, #topbar, .split-pane-header')) return;
    if (target.closest('button, a, input, select, textarea, [contenteditable="true"], ' +
                       '[role="button"], [role="menuitem"], .context-menu')) return;
    post('lumoryDesktopWindowDrag', {action: 'drag'});
    event.preventDefault();
  }, true);
})();)JS";

std::string pageCommandScript(std::string_view word) {
    std::string script = "window.dispatchEvent(new CustomEvent('lumory-desktop-command',{detail:'";
    script += word;
    script += "'}))";
    return script;
}

void AppDelegate::runWebCommand(const std::string& word) {
    if (!connected) return;
    webView->evaluateScript(pageCommandScript(word), [](std::optional<std::string>) {});
}

namespace {

// Both members must be present and numbers; anything else leaves the buttons where they are.
std::optional<std::pair<double, double>> controlsPosition(const nlohmann::json& body) {
    if (!body.is_object()) return std::nullopt;
    auto left = body.find("left");
    auto top = body.find("top");
    if (left == body.end() || top == body.end()) return std::nullopt;
    if (!left->is_number() || !top->is_number()) return std::nullopt;
    return std::pair{left->get<double>(), top->get<double>()};
}

}  // namespace

void AppDelegate::didReceiveScriptMessage(WebView& sender, const std::string& name,
                                          const nlohmann::json& body) {
    if (name == kOverlayHandler) {
        if (!body.is_object()) return;
        auto action = body.find("action");
        if (action == body.end() || !action->is_string()) return;
        const std::string& word = action->get_ref<const std::string&>();
        if (word == "open") {
            openOverlay();
        } else if (word == "close") {
            closeOverlay();
        } else if (word == "clickThrough") {
            auto value = body.find("value");
            setOverlayClickThrough(value != body.end() && value->is_boolean() &&
                                   value->get<bool>());
        }
    } else if (name == kWindowDragHandler) {
        // Only the shell's own two views post this; anything else has no window to move.
        if (overlayWebView && &sender == overlayWebView.get()) {
            if (overlayWindow) overlayWindow->performDrag();
        } else if (&sender == webView.get()) {
            window->performDrag();
        }
    } else if (name == kWindowControlsHandler) {
        if (auto position = controlsPosition(body)) {
            positionWindowControls(position->first, position->second);
        }
    } else if (name == kFlushHandler) {
        if (!awaitingTermination) return;
        auto ok = body.is_object() ? body.find("ok") : body.end();
        if (body.is_object() && ok != body.end() && ok->is_boolean() && ok->get<bool>()) {
            finishTermination(true, std::nullopt);
            return;
        }
        auto error = body.is_object() ? body.find("error") : body.end();
        if (body.is_object() && error != body.end() && error->is_string()) {
            finishTermination(false, error->get<std::string>());
        } else {
            finishTermination(false, std::string(kDefaultSaveError));
        }
    } else if (name == kRemindersHandler) {
        handleReminderMessage(body.is_object() ? body : nlohmann::json::object());
    }
}

void AppDelegate::positionWindowControls(double left, double top) {
    window->placeWindowControls(closeButtonOrigin(left, top, webView->zoom()));
}

}  // namespace lumory
