#pragma once

#include <chrono>

namespace lumory {

// Wall-clock time, so tests can move it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point now() const = 0;
};

// Seconds since 1970-01-01 UTC, with fractions.
inline double secondsSince1970(std::chrono::system_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

}  // namespace lumory
