#pragma once

#include <string_view>

namespace lumory {

// Shown from launch until the service's page loads.
extern const std::string_view kLoadingPage;

}  // namespace lumory
