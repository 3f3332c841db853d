#pragma once

// A few threads that run posted jobs, owned by whoever posts them: the destructor runs what is
// queued and joins every thread, so no job outlives its owner.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace lumory::cal {

class WorkerPool {
public:
    explicit WorkerPool(std::size_t maxThreads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs `job` on one of the threads, started on demand up to the limit; jobs beyond it wait
    // their turn. Returns false, and drops the job, once the pool is shutting down.
    bool post(std::function<void()> job);
    // Runs what is queued, then joins the threads; later posts are refused. Not from a job.
    void shutDown();

private:
    void run();

    const std::size_t maxThreads;
    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    std::vector<std::thread> threads;
    std::size_t idle = 0;
    bool stopping = false;
};

}  // namespace lumory::cal
