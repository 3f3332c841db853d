#pragma once

#include <optional>
#include <string>

namespace lumory {

// True when `url` has exactly the announced address's scheme, host and port, as written (no
// case folding, no default ports): only the service's own pages stay in the shell.
bool isInternal(const std::string& url, const std::optional<std::string>& serverURL);

// Schemes a page may navigate to inside its view.
bool opensInView(const std::string& url);
// Schemes handed to the desktop's handler; anything else goes nowhere.
bool opensOutside(const std::string& url);

}  // namespace lumory
