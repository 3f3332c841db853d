#include "main_loop_thread.h"

#include <chrono>

namespace lumory::testing {

MainLoopThread::MainLoopThread(std::function<bool()> setUp, std::function<void()> tearDown)
    : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
    thread_ = std::thread([this, setUp = std::move(setUp), tearDown = std::move(tearDown)] {
        g_main_context_push_thread_default(context_);
        const bool serve = setUp();
        {
            std::lock_guard lock(mutex_);
            ready_ = true;
        }
        setUp_.notify_all();
        if (serve) g_main_loop_run(loop_);
        tearDown();
        g_main_context_pop_thread_default(context_);
    });
    std::unique_lock lock(mutex_);
    setUp_.wait_for(lock, std::chrono::seconds(10), [this] { return ready_; });
}

MainLoopThread::~MainLoopThread() {
    // Through the context, so that a loop not yet running when this is called still stops.
    g_main_context_invoke(
        context_,
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

}  // namespace lumory::testing
