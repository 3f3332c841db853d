#pragma once

// A thread of a test's own running a GLib main context of its own, for a server that must answer
// while the test's thread blocks or runs its own loop.

#include <glib.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace lumory::testing {

class MainLoopThread {
public:
    // Runs `setUp` on the new thread, with the context as that thread's default, and returns
    // once it has (ten seconds at most). When `setUp` gave true the context's loop runs there
    // until this object goes; `tearDown` runs last on the same thread either way.
    MainLoopThread(std::function<bool()> setUp, std::function<void()> tearDown);
    ~MainLoopThread();
    MainLoopThread(const MainLoopThread&) = delete;
    MainLoopThread& operator=(const MainLoopThread&) = delete;

    // A source attached to it runs on the thread.
    GMainContext* context() const { return context_; }

private:
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    std::mutex mutex_;
    std::condition_variable setUp_;
    bool ready_ = false;
    std::thread thread_;
};

}  // namespace lumory::testing
