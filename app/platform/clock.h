#pragma once

#include <chrono>

namespace lumory {

// Wall-clock time, so tests can move it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point now() const = 0;
};

// Seconds since 1970-01-01 UTC with the fraction kept exact to the microsecond (a plain
// conversion of the nanosecond count rounds at this magnitude).
inline double unixSeconds(std::chrono::system_clock::time_point t) {
    auto whole = std::chrono::floor<std::chrono::seconds>(t);
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(t - whole);
    return static_cast<double>(whole.time_since_epoch().count()) +
           static_cast<double>(micros.count()) / 1e6;
}

}  // namespace lumory
