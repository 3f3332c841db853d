#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumory {

// The overlay page's only injected script: a press on its `.live-head` bar, outside any control,
// asks for a window drag.
extern const std::string_view kOverlayPageScript;

// The announced address with its query replaced by live=overlay; nothing when it cannot be
// parsed.
std::optional<std::string> overlayAddress(const std::string& serverURL);

}  // namespace lumory
