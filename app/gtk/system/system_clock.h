#pragma once

#include "platform/clock.h"

namespace lumory::gtk {

class SystemClock : public Clock {
public:
    std::chrono::system_clock::time_point now() const override {
        return std::chrono::system_clock::now();
    }
};

}  // namespace lumory::gtk
