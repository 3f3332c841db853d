#include "page/loading_page.h"

namespace lumory {

const std::string_view kLoadingPage =
    "<!doctype html><html><head><meta charset=\"utf-8\">"
    "<meta name=\"color-scheme\" content=\"light dark\"><style>"
    "body{margin:0;min-height:100vh;display:grid;place-items:center;"
    "background:light-dark(#f7f8fa,#111827);color:light-dark(#081b42,#f4f6fb);"
    "font:500 14px -apple-system,BlinkMacSystemFont,sans-serif}"
    "main{display:flex;align-items:center;gap:12px}"
    "i{width:9px;height:9px;border-radius:50%;background:#fe5b02;"
    "box-shadow:0 0 0 5px color-mix(in srgb,#fe5b02 15%,transparent);"
    "animation:pulse 1.1s ease-in-out infinite alternate}"
    "@keyframes pulse{to{opacity:.35;transform:scale(.75)}}"
    "</style></head><body><main><i></i><span>Opening Lumory...</span></main></body></html>";

}  // namespace lumory
