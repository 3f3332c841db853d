#pragma once

#include <optional>
#include <string>

#include "platform/main_window.h"

namespace lumory {

// Window frames kept across launches in a key file, one group per autosave name.
class WindowFrameStore {
public:
    explicit WindowFrameStore(std::string path) : path_(std::move(path)) {}

    // Nothing when the file, the group or a usable frame is missing.
    std::optional<WindowFrame> load(const std::string& name) const;
    // Keeps the other names' frames; false when the file could not be written.
    bool save(const std::string& name, const WindowFrame& frame) const;

private:
    std::string path_;
};

}  // namespace lumory
