#include "page_bridge.h"

#include "app_delegate.h"

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

void AppDelegate::didReceiveScriptMessage(WebView& sender, const std::string& name,
                                          const nlohmann::json&) {
    // The overlay, window-controls, flush and reminder messages are answered by the overlay,
    // window-controls, termination and reminder code as each lands; until then they are
    // ignored like any message the shell does not know.
    if (name == kWindowDragHandler) {
        if (&sender == webView.get()) window->performDrag();
    }
}

}  // namespace lumory
