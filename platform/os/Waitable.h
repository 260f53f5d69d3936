// Waitable: the common face of every object that WaitAny can wait on.
#pragma once

#include <cstdint>

namespace qorcam::os {

/// Time-out value that means "wait without a time limit".
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

/// An object that can be signalled and waited for, alone or together with
/// others in WaitAny. Local events, named events shared between processes,
/// semaphores and thread ends are all Waitables, so one WaitAny can mix them.
///
/// Guarantees: PollFd() stays valid and unchanged for the object's life and
/// becomes readable whenever the object is signalled; TryAcquire() never
/// blocks and, for objects that reset on a successful wait, lets exactly one
/// of several racing waiters win each signal.
class Waitable {
public:
    virtual ~Waitable() = default;

    /// A descriptor that poll() reports readable while the object may be
    /// signalled (a readable descriptor is a hint; TryAcquire decides).
    virtual int PollFd() const = 0;

    /// Completes a wait without blocking: true when the object was signalled
    /// and, for auto-reset objects, has now been consumed by this caller.
    virtual bool TryAcquire() = 0;

    /// Waits until the object is signalled (and consumes it when it resets
    /// on a wait). Returns false on time-out or when the object is invalid.
    bool Wait(std::uint32_t timeoutMs = kInfinite);
};

} // namespace qorcam::os
