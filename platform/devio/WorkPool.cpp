// WorkPool: threads started as jobs wait and ended when idle, beyond the one that always stays.
#include "devio/WorkPool.h"

#include <system_error>

namespace qorcam::devio::detail {
namespace {

thread_local const WorkPool* currentPool = nullptr;

} // namespace

WorkPool::WorkPool(std::size_t maxThreads, std::chrono::milliseconds idleExit)
    : maxThreads_(maxThreads == 0 ? 1 : maxThreads), idleExit_(idleExit) {}

WorkPool::~WorkPool() {
    Shutdown();
}

bool WorkPool::Start() {
    std::lock_guard lock(mutex_);
    stopping_ = false;
    return !threads_.empty() || StartThreadLocked();
}

bool WorkPool::StartThreadLocked() {
    try {
        // The new thread waits for mutex_ before it looks at anything, so it
        // is in threads_ before it can retire.
        std::thread thread([this] { Run(); });
        const auto id = thread.get_id();
        threads_.emplace(id, std::move(thread));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void WorkPool::Post(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    // A thread that cannot be had leaves the job to the threads there are.
    if (idle_ < jobs_.size() && threads_.size() < maxThreads_ && !stopping_) StartThreadLocked();
    work_.notify_one();
}

void WorkPool::Run() {
    currentPool = this;
    std::unique_lock lock(mutex_);
    for (;;) {
        while (jobs_.empty() && !stopping_) {
            ++idle_;
            const bool woken = work_.wait_for(lock, idleExit_) == std::cv_status::no_timeout;
            --idle_;
            if (!woken && jobs_.empty() && !stopping_ && threads_.size() > 1) {
                // Ends here; the previous retired thread has ended already or
                // is about to, and this one takes its place to be joined.
                std::thread previous = std::move(retired_);
                const auto self = threads_.find(std::this_thread::get_id());
                retired_ = std::move(self->second);
                threads_.erase(self);
                lock.unlock();
                if (previous.joinable()) previous.join();
                return;
            }
        }
        if (jobs_.empty()) return; // stopping, nothing left to run
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        job = nullptr; // what the job held goes before the lock is taken again
        lock.lock();
    }
}

void WorkPool::Shutdown() {
    std::map<std::thread::id, std::thread> threads;
    std::thread retired;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        threads.swap(threads_);
        retired = std::move(retired_);
        work_.notify_all();
    }
    for (auto& [id, thread] : threads)
        thread.join();
    if (retired.joinable()) retired.join();
}

std::size_t WorkPool::Threads() const {
    std::lock_guard lock(mutex_);
    return threads_.size();
}

bool WorkPool::OnPoolThread() const {
    return currentPool == this;
}

} // namespace qorcam::devio::detail
