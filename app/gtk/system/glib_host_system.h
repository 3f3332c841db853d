#pragma once

#include "platform/host_system.h"

namespace lumory::gtk {

class GlibHostSystem : public HostSystem {
public:
    std::optional<std::string> environmentValue(const std::string& name) const override;
    std::string homeDirectory() const override;
    std::string temporaryDirectory() const override;
    long processId() const override;
    std::optional<std::string> resourcesDirectory() const override;
    bool isExecutableFile(const std::string& path) const override;
    // The dictionaries Enchant offers, the spell checker WebKitGTK itself uses.
    std::vector<std::string> spellingDictionaries() const override;
};

}  // namespace lumory::gtk
