#pragma once

#include <sys/types.h>

#include <string>

namespace lumory::testing {

// A private D-Bus session bus for one test, stopped when the object goes.
class XvfbSessionBus {
public:
    // `serviceFiles` false: nothing can be started on demand (no notification server appears
    // unless a test starts one).
    explicit XvfbSessionBus(bool serviceFiles = true);
    ~XvfbSessionBus();
    XvfbSessionBus(const XvfbSessionBus&) = delete;
    XvfbSessionBus& operator=(const XvfbSessionBus&) = delete;

    bool started() const { return !address_.empty(); }
    const std::string& address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string address_;
    std::string configFolder_;
};

}  // namespace lumory::testing
