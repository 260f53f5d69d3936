// DeviceHandle: a client's open handle to a device served by a service program.
#pragma once

#include "devio/Overlapped.h"
#include "devio/Region.h"
#include "devio/Status.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>

namespace qorcam::devio {

/// A part of a registered region that receives a request's output in place:
/// the service writes there directly and the client reads it with no copy.
struct RegionSpan {
    std::uint32_t region = 0; ///< id from DeviceHandle::RegisterRegion
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

/// One request of DeviceHandle::PostDeviceIoControls: a control code, its
/// input, and its output room (the region span when `region` is set, else
/// the caller's buffer); `status` receives the outcome.
struct PostedRequest {
    std::uint32_t code = 0;
    const void* input = nullptr;
    std::size_t inputLength = 0;
    void* output = nullptr;
    std::size_t outputLength = 0;
    const RegionSpan* region = nullptr;
    Overlapped* overlapped = nullptr;
    NtStatus status = STATUS_PENDING;
};

/// One open handle to a device: one connection to the service's socket.
///
/// Requests carry a control code, input bytes and an output room (a buffer
/// of the caller, or a span of a registered region). The service completes
/// each at once or pends it; the call tells which, exactly:
/// - a call returns STATUS_PENDING when the service pended the request; its
///   completion arrives later in the Overlapped record;
/// - any other return value is the final status of a request that completed
///   at once (its output, byte count and event are already set), or of a
///   request the handle refused without sending it.
///
/// Guarantees:
/// - The caller's output buffer is written only while its request is in
///   flight, and never beyond the length given with it; nothing the service
///   sends can make the handle write elsewhere.
/// - CancelIo cancels the requests that the calling thread started on this
///   handle; Close (and the destructor) cancels every request of the handle
///   and returns only when each has completed, cancelled ones with
///   STATUS_CANCELLED. After that the caller may free every buffer.
/// - A service that stops cancels every request in flight (STATUS_CANCELLED);
///   when its process dies instead, every request in flight completes here
///   with STATUS_DEVICE_NOT_CONNECTED (nothing writes into its buffers or
///   regions any more), and so does every later request.
/// - Every method is safe from any thread, also while other threads wait in
///   GetOverlappedResult or have requests in flight.
class DeviceHandle {
public:
    DeviceHandle();
    ~DeviceHandle();
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

    /// Opens a device by name (see DevicePath): STATUS_SUCCESS;
    /// STATUS_OBJECT_NAME_INVALID for a name that maps to no path;
    /// STATUS_OBJECT_NAME_NOT_FOUND when nothing serves it;
    /// STATUS_INVALID_HANDLE when this handle is already open;
    /// STATUS_INSUFFICIENT_RESOURCES when no socket or thread can be had.
    NtStatus Open(std::string_view name);
    bool IsOpen() const;
    /// Cancels every request of the handle, waits until each has completed
    /// (a bounded time for a service that does not answer; then they are
    /// completed with STATUS_CANCELLED here) and closes the connection. A
    /// closed handle may be opened again.
    void Close();

    /// Synchronous request: returns its final status once it has completed.
    /// bytesReturned (optional) receives the byte count the service reported.
    NtStatus DeviceIoControl(std::uint32_t code, const void* input, std::size_t inputLength, void* output,
                             std::size_t outputLength, std::uint64_t* bytesReturned = nullptr);

    /// Overlapped request; output and output bytes land in the caller's
    /// buffer, which must stay valid until the request has completed.
    NtStatus DeviceIoControl(std::uint32_t code, const void* input, std::size_t inputLength, void* output,
                             std::size_t outputLength, Overlapped& overlapped);

    /// Overlapped request whose output room is a span of a registered region.
    NtStatus DeviceIoControl(std::uint32_t code, const void* input, std::size_t inputLength,
                             const RegionSpan& output, Overlapped& overlapped);

    /// Overlapped request sent without waiting for the service's first
    /// answer: returns STATUS_PENDING once it is sent (or the status of a
    /// request the handle refused without sending it). Its result, also one
    /// the service gives at once, arrives only in the Overlapped record.
    /// Saves a round trip where the caller learns of the result there anyway.
    NtStatus PostDeviceIoControl(std::uint32_t code, const void* input, std::size_t inputLength, void* output,
                                 std::size_t outputLength, Overlapped& overlapped);
    NtStatus PostDeviceIoControl(std::uint32_t code, const void* input, std::size_t inputLength,
                                 const RegionSpan& output, Overlapped& overlapped);

    /// Several requests posted as PostDeviceIoControl posts one, in their
    /// order, written to the service at once: it reads them in one go rather
    /// than waking for each. Each one's status is as PostDeviceIoControl
    /// would return it; a refused one is not sent and leaves the others be
    /// (one without a record: STATUS_INVALID_PARAMETER).
    void PostDeviceIoControls(std::span<PostedRequest> requests);

    /// Overlapped read of up to length bytes into the caller's buffer.
    NtStatus ReadFile(void* output, std::size_t length, Overlapped& overlapped);
    /// Overlapped read straight into a span of a registered region.
    NtStatus ReadFile(const RegionSpan& output, Overlapped& overlapped);

    /// The result of an overlapped request: its final status (bytes receives
    /// the reported byte count), or STATUS_PENDING when it is still in flight
    /// and wait is false. With wait true, returns only once it has completed.
    NtStatus GetOverlappedResult(Overlapped& overlapped, std::uint64_t* bytes, bool wait);
    /// Waits as GetOverlappedResult with wait true, but returns
    /// STATUS_PENDING once stop is true; whoever sets stop calls WakeWaiters.
    /// The waiting thread reads its completion from the socket itself.
    NtStatus GetOverlappedResult(Overlapped& overlapped, std::uint64_t* bytes, const std::atomic<bool>& stop);
    /// The same, returning STATUS_PENDING also once deadline has passed.
    NtStatus GetOverlappedResult(Overlapped& overlapped, std::uint64_t* bytes, const std::atomic<bool>& stop,
                                 std::chrono::steady_clock::time_point deadline);
    /// Makes every thread waiting in this handle look at its stop flag again.
    void WakeWaiters();

    /// Asks the service to cancel every request the calling thread has in
    /// flight on this handle; each then completes with STATUS_CANCELLED (or
    /// with its own result, when it was completing anyway). Returns at once.
    NtStatus CancelIo();
    /// Asks the service to cancel the one request of this record, whichever
    /// thread started it; it then completes as CancelIo says. Returns at once:
    /// STATUS_NOT_FOUND when the record has no request in flight.
    NtStatus CancelIoEx(Overlapped& overlapped);

    /// Hands the region's memory to the service once, by descriptor; the id
    /// names it in RegionSpan. The region must outlive the requests that use
    /// it; the service keeps its own mapping.
    NtStatus RegisterRegion(const Region& region, std::uint32_t* regionId);
    /// Forgets a region; requests already in flight into it still complete.
    NtStatus UnregisterRegion(std::uint32_t regionId);

private:
    NtStatus Start(std::uint32_t kind, std::uint32_t code, const void* input, std::size_t inputLength,
                   void* output, std::size_t outputLength, const RegionSpan* region, Overlapped& overlapped,
                   bool posted = false);

    std::shared_ptr<detail::HandleCore> Core() const;

    mutable std::mutex coreMutex_;
    std::shared_ptr<detail::HandleCore> core_;
};

} // namespace qorcam::devio
