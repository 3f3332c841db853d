#include "page/page_scripts.h"

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

std::string pageFocusEntryScript(bool forward) {
    // Positive tabindex values come first, in their order, then the rest in document order.
    std::string script = "(() => {const forward = ";
    script += forward ? "true" : "false";
    script += R"JS(;
  const controls = [...document.querySelectorAll(
      'a[href], area[href], button, input, select, textarea, iframe, summary, [tabindex], ' +
      '[contenteditable]')].filter((element) => element.tabIndex >= 0 && !element.disabled &&
      !element.closest('[inert]') && element.getClientRects().length > 0 &&
      getComputedStyle(element).visibility !== 'hidden');
  const ordered = [...controls.filter((element) => element.tabIndex > 0)
                       .sort((a, b) => a.tabIndex - b.tabIndex),
                   ...controls.filter((element) => element.tabIndex === 0)];
  const target = forward ? ordered[0] : ordered[ordered.length - 1];
  if (target) target.focus();
})())JS";
    return script;
}

std::optional<std::string> pageEventScript(std::string_view name, const nlohmann::json& detail) {
    std::string json;
    try {
        json = detail.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    std::string script = "window.dispatchEvent(new CustomEvent('";
    script += name;
    script += "',{detail:" + json + "}))";
    return script;
}

}  // namespace lumory
