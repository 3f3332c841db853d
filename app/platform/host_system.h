#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumory {

// What the running system tells the shell about itself and its user.
class HostSystem {
public:
    virtual ~HostSystem() = default;
    virtual std::optional<std::string> environmentValue(const std::string& name) const = 0;
    virtual std::string homeDirectory() const = 0;
    virtual std::string temporaryDirectory() const = 0;
    virtual long processId() const = 0;
    // The folder beside the executable's that holds the service and helpers, if it exists.
    virtual std::optional<std::string> resourcesDirectory() const = 0;
    virtual bool isExecutableFile(const std::string& path) const = 0;
    // The spell-checking dictionaries installed for the user, by language tag ("en_US").
    virtual std::vector<std::string> spellingDictionaries() const = 0;
};

}  // namespace lumory
