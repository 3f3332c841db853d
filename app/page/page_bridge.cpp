#include "page/page_bridge.h"

namespace lumory {

void PageBridge::attach(WebView& view, std::span<const std::string_view> names) {
    for (std::string_view name : names) view.registerScriptMessageHandler(std::string(name));
}

void PageBridge::detach(WebView& view, std::span<const std::string_view> names) {
    for (std::string_view name : names) view.unregisterScriptMessageHandler(std::string(name));
}

void PageBridge::receive(WebView& sender, const std::string& name,
                         const nlohmann::json& body) const {
    auto handler = handlers_.find(name);
    if (handler != handlers_.end()) handler->second(sender, body);
}

}  // namespace lumory
