#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace lumory {

// Reading one member of a JSON object that came from outside (the page, the service, a feed):
// a member that is missing, or of another type, or an `object` that is not an object at all,
// reads as absent.

inline const nlohmann::json* jsonField(const nlohmann::json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

inline std::optional<std::string> stringField(const nlohmann::json& object,
                                              std::string_view key) {
    const nlohmann::json* value = jsonField(object, key);
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

inline std::optional<bool> boolField(const nlohmann::json& object, std::string_view key) {
    const nlohmann::json* value = jsonField(object, key);
    if (value == nullptr || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

inline std::optional<double> numberField(const nlohmann::json& object, std::string_view key) {
    const nlohmann::json* value = jsonField(object, key);
    if (value == nullptr || !value->is_number()) return std::nullopt;
    return value->get<double>();
}

inline const nlohmann::json* objectField(const nlohmann::json& object, std::string_view key) {
    const nlohmann::json* value = jsonField(object, key);
    return value != nullptr && value->is_object() ? value : nullptr;
}

inline const nlohmann::json* arrayField(const nlohmann::json& object, std::string_view key) {
    const nlohmann::json* value = jsonField(object, key);
    return value != nullptr && value->is_array() ? value : nullptr;
}

}  // namespace lumory
