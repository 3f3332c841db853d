#pragma once

#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/web_view.h"

namespace lumory {

// The table from script-message handler name to the feature that answers it. Each message is
// decoded once, into the handler's own type; one that does not decode goes nowhere.
class PageBridge {
public:
    // `Message` has `static std::optional<Message> decode(const nlohmann::json&)`.
    template <typename Message>
    void handle(std::string_view name, std::function<void(WebView& sender, Message)> handler) {
        handlers_[std::string(name)] = [handler = std::move(handler)](WebView& sender,
                                                                      const nlohmann::json& body) {
            if (auto message = Message::decode(body)) handler(sender, std::move(*message));
        };
    }

    // Lets the page of `view` post to these handlers, registered in this order.
    static void attach(WebView& view, std::span<const std::string_view> names);
    static void detach(WebView& view, std::span<const std::string_view> names);

    void receive(WebView& sender, const std::string& name, const nlohmann::json& body) const;

private:
    std::map<std::string, std::function<void(WebView&, const nlohmann::json&)>, std::less<>>
        handlers_;
};

}  // namespace lumory
