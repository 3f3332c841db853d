#pragma once

#include <sys/types.h>

#include <string>

namespace lumory::testing {

// A private D-Bus session bus for one test, stopped when the object goes.
class XvfbSessionBus {
public:
    XvfbSessionBus();
    ~XvfbSessionBus();
    XvfbSessionBus(const XvfbSessionBus&) = delete;
    XvfbSessionBus& operator=(const XvfbSessionBus&) = delete;

    bool started() const { return !address_.empty(); }
    const std::string& address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace lumory::testing
