#include "worker_pool.h"

namespace lumory::cal {

WorkerPool::WorkerPool(std::size_t maxThreads) : maxThreads(maxThreads == 0 ? 1 : maxThreads) {}

WorkerPool::~WorkerPool() {
    shutDown();
}

bool WorkerPool::post(std::function<void()> job) {
    std::lock_guard guard(lock);
    if (stopping) return false;
    jobs.push_back(std::move(job));
    if (idle == 0 && threads.size() < maxThreads)
        threads.emplace_back([this] { run(); });
    else
        wake.notify_one();
    return true;
}

void WorkerPool::shutDown() {
    std::vector<std::thread> running;
    {
        std::lock_guard guard(lock);
        stopping = true;
        running.swap(threads);
    }
    wake.notify_all();
    for (auto& thread : running) thread.join();
}

void WorkerPool::run() {
    std::unique_lock guard(lock);
    for (;;) {
        ++idle;
        wake.wait(guard, [this] { return stopping || !jobs.empty(); });
        --idle;
        if (jobs.empty()) return;  // stopping, nothing left to run
        auto job = std::move(jobs.front());
        jobs.pop_front();
        guard.unlock();
        try {
            job();
        } catch (...) {
            // A job answers for its own failures; one that throws must not end the process.
        }
        guard.lock();
    }
}

}  // namespace lumory::cal
