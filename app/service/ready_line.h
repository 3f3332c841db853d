#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumory {

// The address a ready line announces ({"event":"ready","url":...}), or nothing when the line is
// anything else or the address is not one GUri accepts.
std::optional<std::string> announcedAddress(std::string_view line);

}  // namespace lumory
