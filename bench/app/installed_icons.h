// The shell under a benchmark gets the icons an install puts beside it, so that it loads what an
// installed shell loads (GTK picks the window's icon from them).
#pragma once

#include <filesystem>
#include <string>

namespace lumory::bench {

inline void addInstalledIcons(const std::string& root) {
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(root) / "share");
    fs::copy(LUMORY_BUILD_ICONS, fs::path(root) / "share" / "icons",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

}  // namespace lumory::bench
