#pragma once

#include <optional>
#include <string>

namespace lumory {

// The user's own settings of the shell, kept across launches. A value stored with another type
// reads as absent.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<bool> boolValue(const std::string& key) const = 0;
    virtual std::optional<double> doubleValue(const std::string& key) const = 0;
    virtual std::optional<std::string> stringValue(const std::string& key) const = 0;
    virtual void setDouble(const std::string& key, double value) = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;
};

}  // namespace lumory
