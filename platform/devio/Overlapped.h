// Overlapped: the completion record of one overlapped device request.
#pragma once

#include "devio/Status.h"
#include "os/Event.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace qorcam::devio {

namespace detail {
class HandleCore;
}

/// Where an overlapped request (DeviceHandle::DeviceIoControl, ReadFile)
/// reports its completion.
///
/// Guarantees:
/// - Starting a request resets the completion event and sets Status() to
///   STATUS_PENDING. When the request completes (at once, later, or by
///   cancellation) the output bytes are already in the caller's buffer and
///   Status(), Information() and OutputBytes() are final before the event is
///   set; the event then stays set (manual reset) until the next request.
/// - The event is a platform/os Event, so it can be waited on with WaitAny
///   together with any other event.
/// - A record may be reused once its request has completed; starting a
///   request on a record whose request is still in flight is refused.
/// - Destroying a record whose request is still in flight cancels that
///   request and forgets it: its completion then touches neither this record
///   nor the output buffer. Not copyable or movable (the service's completion
///   finds it by address).
class Overlapped {
public:
    Overlapped();
    ~Overlapped();
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;

    /// Manual-reset event, set when the request has completed.
    os::Event& CompletionEvent() { return event_; }

    /// STATUS_PENDING while the request is in flight, then its final status
    /// (STATUS_CANCELLED for a cancelled request).
    NtStatus Status() const { return status_.load(std::memory_order_acquire); }
    /// The byte count the service reported for the request.
    std::uint64_t Information() const { return information_.load(std::memory_order_acquire); }
    /// How many bytes of output the service wrote into the caller's buffer
    /// (for a region output: 0, the bytes are in the region already). May
    /// differ from Information(): a service may write an answer and report 0.
    std::uint64_t OutputBytes() const { return outputBytes_.load(std::memory_order_acquire); }
    bool IsPending() const { return Status() == STATUS_PENDING; }

    /// For a record whose completions are only ever taken through
    /// GetOverlappedResult: its event is from now on neither reset nor set
    /// (two system calls fewer a request).
    void LeaveEventAlone() { silent_ = true; }

private:
    friend class detail::HandleCore;
    friend class DeviceHandle;

    os::Event event_;
    std::atomic<NtStatus> status_{STATUS_SUCCESS};
    std::atomic<std::uint64_t> information_{0};
    std::atomic<std::uint64_t> outputBytes_{0};
    // The handle that last carried a request of this record and the id of
    // that request; set only by the thread that starts a request.
    std::shared_ptr<detail::HandleCore> core_;
    std::uint64_t id_ = 0;
    // The handle's own record of its synchronous calls: nobody waits on its
    // event, so it is neither reset nor set (two system calls fewer a call).
    bool silent_ = false;
};

} // namespace qorcam::devio
