#pragma once

#include "platform/main_queue.h"

namespace lumory::gtk {

// The main queue as the default GLib main context.
class GtkMainQueue : public MainQueue {
public:
    void post(std::function<void()> work) override;
    std::unique_ptr<WorkItem> schedule(std::chrono::milliseconds delay,
                                       std::function<void()> work) override;
};

}  // namespace lumory::gtk
