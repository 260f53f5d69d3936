// Thread: an owned thread of execution with a scheduling priority.
#pragma once

#include "os/Event.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <pthread.h>
#include <string>

namespace qorcam::os {

/// Scheduling priority of a thread, from lowest to highest.
enum class ThreadPriority {
    Idle,
    Lowest,
    BelowNormal,
    Normal,
    AboveNormal,
    Highest,
    TimeCritical, ///< real-time (SCHED_FIFO) where permitted
};

/// A thread that this object owns.
///
/// Guarantees: Start runs the function exactly once on a new thread; the
/// destructor joins a started thread (so the function must return on its own,
/// typically when an Event it waits on is set). A priority that the process
/// may not take is replaced by the nearest one it may take: TimeCritical
/// becomes the highest nice level allowed, and never makes Start fail.
/// FinishedEvent() is a manual-reset event set when the function has
/// returned, usable in WaitAny.
class Thread {
public:
    /// name: at most 15 characters are shown by the system (longer names are cut).
    explicit Thread(std::string name = {});
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    /// Starts fn on a new thread at the given priority. False when a thread
    /// was already started by this object or the system refused a thread.
    bool Start(std::function<void()> fn, ThreadPriority priority = ThreadPriority::Normal);

    /// Changes the priority of the running thread; returns the priority in
    /// effect afterwards (see the class comment for substitutes).
    ThreadPriority SetPriority(ThreadPriority priority);
    ThreadPriority Priority() const { return priority_.load(); }

    /// Waits for the function to return; false on time-out.
    bool Wait(std::uint32_t timeoutMs) { return finished_.Wait(timeoutMs); }
    /// Waits without a limit and releases the thread. Safe to call twice.
    void Join();
    /// Called on the thread itself, by an owner that is going away while the
    /// function still runs (it can't wait for itself): the thread is detached
    /// and owns this object from now on, and deletes it once the function
    /// returns. The caller gives up its pointer and touches it no more.
    void ReleaseToThread();

    bool IsStarted() const { return started_; }
    bool IsFinished() const { return finished_.IsSet(); }
    /// System thread id of the thread (0 until it runs).
    std::uint32_t Id() const { return tid_.load(); }
    Waitable& FinishedEvent() { return finished_; }

    /// System thread id of the calling thread.
    static std::uint32_t CurrentId();
    /// Applies a priority to the calling thread; returns the one in effect.
    static ThreadPriority SetCurrentPriority(ThreadPriority priority);

private:
    static void* Entry(void* self);

    std::string name_;
    std::function<void()> fn_;
    pthread_t handle_{};
    bool started_ = false;
    bool joined_ = false;
    bool ownedByThread_ = false; // written and read by the thread alone
    std::atomic<std::uint32_t> tid_{0};
    std::atomic<ThreadPriority> priority_{ThreadPriority::Normal};
    Event running_{ResetMode::Manual};
    Event finished_{ResetMode::Manual};
};

} // namespace qorcam::os
