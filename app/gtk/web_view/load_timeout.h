#pragma once

#include <webkit2/webkit2.h>

#include <chrono>

namespace lumory::gtk {

// WebKitGTK has no per-request time-out: a load that has not been answered in time is stopped.
class LoadTimeout {
public:
    explicit LoadTimeout(WebKitWebView* view) : view_(view) {}
    ~LoadTimeout() { cancel(); }
    LoadTimeout(const LoadTimeout&) = delete;
    LoadTimeout& operator=(const LoadTimeout&) = delete;

    // Stops the view's load once `timeout` has passed, unless cancelled before; replaces the
    // time-out of an earlier load.
    void start(std::chrono::seconds timeout);
    void cancel();

private:
    WebKitWebView* view_;
    guint source_ = 0;
};

}  // namespace lumory::gtk
