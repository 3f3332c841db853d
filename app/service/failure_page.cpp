#include "service/failure_page.h"

namespace lumory {

namespace {

constexpr std::string_view kFailurePageHead =
    "<!doctype html><html><head><meta charset=\"utf-8\">"
    "<meta name=\"color-scheme\" content=\"light dark\"><style>"
    "body{margin:0;min-height:100vh;display:grid;place-items:center;"
    "background:light-dark(#f7f8fa,#111827);color:light-dark(#081b42,#f4f6fb);"
    "font:14px -apple-system,BlinkMacSystemFont,sans-serif}"
    "main{width:min(560px,calc(100vw - 64px))}"
    "b{display:block;margin-bottom:10px;font-size:18px}"
    "pre{white-space:pre-wrap;line-height:1.5;color:light-dark(#536179,#b8c0ce)}"
    "</style></head><body><main><b>Lumory could not open</b><pre>";
constexpr std::string_view kFailurePageTail = "</pre></main>";

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

std::string messageWithDetail(std::string_view headline, std::string_view detail) {
    std::string message(headline);
    message += "\n\n";
    message += detail;
    return message;
}

std::string escapeHtmlText(std::string_view text) {
    std::string escaped(text);
    replaceAll(escaped, "&", "&amp;");
    replaceAll(escaped, "<", "&lt;");
    replaceAll(escaped, ">", "&gt;");
    return escaped;
}

std::string failurePage(std::string_view message) {
    std::string page(kFailurePageHead);
    page += escapeHtmlText(message);
    page += kFailurePageTail;
    return page;
}

}  // namespace lumory
