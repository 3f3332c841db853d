#pragma once

// Runs a test in a given time zone (through TZ, as the helper honours it) and restores the zone.

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace lumory::cal {

class LocalZone {
public:
    explicit LocalZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalZone() {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    LocalZone(const LocalZone&) = delete;
    LocalZone& operator=(const LocalZone&) = delete;

private:
    std::optional<std::string> saved_;
};

}  // namespace lumory::cal
