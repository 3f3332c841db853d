#include "service/ready_line.h"

#include <glib.h>

#include <nlohmann/json.hpp>

#include "json_fields.h"

namespace lumory {

namespace {

// A NUL inside would make the address checked here differ from the one loaded.
bool isValidUrl(const std::string& text) {
    return text.find('\0') == std::string::npos &&
           g_uri_is_valid(text.c_str(), G_URI_FLAGS_NONE, nullptr);
}

}  // namespace

std::optional<std::string> announcedAddress(std::string_view line) {
    auto value = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded() || stringField(value, "event") != "ready") return std::nullopt;
    auto address = stringField(value, "url");
    if (!address || !isValidUrl(*address)) return std::nullopt;
    return address;
}

}  // namespace lumory
