// NamedMutex: a mutex shared between processes that survives a dead owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "os/Waitable.h"

namespace qorcam::os {

/// Outcome of locking a NamedMutex.
enum class LockResult {
    Acquired,  ///< the caller now owns the mutex
    OwnerDied, ///< the caller now owns it; the previous owner died holding it
               ///< (the data it guards may be half written) and the mutex
               ///< has already been marked consistent again
    Timeout,   ///< not obtained within the time-out
    Failed,    ///< invalid mutex or system error; not owned
};

/// True for the two results that leave the caller owning the mutex.
inline bool Owns(LockResult r) {
    return r == LockResult::Acquired || r == LockResult::OwnerDied;
}

/// A named mutex shared by every process under the same runtime root, owned
/// by one thread at a time (the owning thread may lock it again; each Lock
/// needs one Unlock).
///
/// Guarantees: a thread or process that dies while owning the mutex never
/// leaves it held: the next locker gets OwnerDied, already owning a usable
/// mutex, and normal Acquired results follow. Lives in `<run>/user/<uid>/<name>.mutex`
/// with the same last-user lifetime as SharedMemory. A new mutex is not owned.
class NamedMutex {
public:
    NamedMutex() = default;
    /// Creates the mutex or opens the existing one of that name.
    explicit NamedMutex(std::string_view name);
    ~NamedMutex();
    NamedMutex(NamedMutex&& other) noexcept;
    NamedMutex& operator=(NamedMutex&& other) noexcept;
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    bool IsValid() const { return state_ != nullptr; }
    bool AlreadyExisted() const { return existed_; }
    int Error() const { return error_; }

    /// Waits up to timeoutMs (kInfinite: no limit, 0: just try).
    LockResult Lock(std::uint32_t timeoutMs = kInfinite);
    LockResult TryLock() { return Lock(0); }
    /// Releases one level of ownership; false when the caller is not the owner.
    bool Unlock();

    /// Gives up this handle. A mutex that a thread still holds through this
    /// handle stays held (its mapping is kept until the process ends) and is
    /// reported as OwnerDied to the next locker once that thread ends.
    void Close();

private:
    struct State;
    State* state_ = nullptr;
    // Locks taken through this object and not yet released: a mutex still
    // held at Close stays mapped (see Close) so that its owner's death is seen.
    std::atomic<std::uint32_t> held_{0};
    int fd_ = -1;
    bool existed_ = false;
    int error_ = 0;
    std::string path_;
};

/// Holds a NamedMutex for a scope; owns() tells whether the lock was obtained.
class NamedMutexLock {
public:
    explicit NamedMutexLock(NamedMutex& mutex, std::uint32_t timeoutMs = kInfinite)
        : mutex_(mutex), result_(mutex.Lock(timeoutMs)) {}
    ~NamedMutexLock() {
        if (Owns(result_)) mutex_.Unlock();
    }
    NamedMutexLock(const NamedMutexLock&) = delete;
    NamedMutexLock& operator=(const NamedMutexLock&) = delete;

    bool owns() const { return Owns(result_); }
    LockResult result() const { return result_; }

private:
    NamedMutex& mutex_;
    LockResult result_;
};

} // namespace qorcam::os
