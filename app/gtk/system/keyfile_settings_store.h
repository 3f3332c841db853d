#pragma once

#include <string>

#include "platform/settings_store.h"

namespace lumory::gtk {

// Settings in the group "Defaults" of a key file, rewritten whole and atomically on every
// change. A file that exists but is not a key file is never overwritten; changes are dropped.
class KeyFileSettingsStore : public SettingsStore {
public:
    explicit KeyFileSettingsStore(std::string path) : path_(std::move(path)) {}

    std::optional<bool> boolValue(const std::string& key) const override;
    std::optional<double> doubleValue(const std::string& key) const override;
    std::optional<std::string> stringValue(const std::string& key) const override;
    void setDouble(const std::string& key, double value) override;
    void setString(const std::string& key, const std::string& value) override;

private:
    std::string path_;
};

}  // namespace lumory::gtk
