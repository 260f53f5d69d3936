// WorkPool: a few threads that run the jobs of a device server, as many as are busy at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace qorcam::devio::detail {

/// Runs posted jobs on its own threads, oldest first.
///
/// Guarantees: one thread is kept from Start to Shutdown; more are started
/// only while every thread is busy and jobs wait (at most maxThreads), and
/// a thread beyond the first ends after idleExit without a job, so a pool
/// that is not working holds one thread. Post never blocks and never runs
/// the job on the calling thread. Shutdown runs every job posted before it,
/// then joins all threads; it must not be called from a job.
class WorkPool {
public:
    WorkPool(std::size_t maxThreads, std::chrono::milliseconds idleExit);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    /// Starts the first thread; false when no thread can be had.
    bool Start();
    void Post(std::function<void()> job);
    void Shutdown();

    /// Threads currently running.
    std::size_t Threads() const;
    /// True on one of this pool's threads.
    bool OnPoolThread() const;

private:
    void Run();
    bool StartThreadLocked();

    const std::size_t maxThreads_;
    const std::chrono::milliseconds idleExit_;
    mutable std::mutex mutex_;
    std::condition_variable work_;
    std::deque<std::function<void()>> jobs_;
    std::map<std::thread::id, std::thread> threads_;
    std::thread retired_; // the last thread that ended while idle, joined by the next
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

} // namespace qorcam::devio::detail
