#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace lumory {

// A delayed piece of work on the main queue that can be called off before it runs.
class WorkItem {
public:
    virtual ~WorkItem() = default;
    // Idempotent; cancelling an item that already ran does nothing.
    virtual void cancel() = 0;
};

// The main thread's queue: everything the delegate does runs from here.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void post(std::function<void()> work) = 0;
    // The returned item cancels the work when destroyed before it ran.
    virtual std::unique_ptr<WorkItem> schedule(std::chrono::milliseconds delay,
                                               std::function<void()> work) = 0;
};

}  // namespace lumory
