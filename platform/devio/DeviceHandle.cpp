// DeviceHandle: the Windows-style device calls over one connection to a service.
#include "devio/DeviceHandle.h"

#include "devio/HandleCore.h"
#include "devio/Request.h"

#include <thread>

namespace qorcam::devio {

DeviceHandle::DeviceHandle() = default;

DeviceHandle::~DeviceHandle() {
    Close();
}

std::shared_ptr<detail::HandleCore> DeviceHandle::Core() const {
    std::lock_guard lock(coreMutex_);
    return core_;
}

NtStatus DeviceHandle::Open(std::string_view name) {
    std::lock_guard lock(coreMutex_);
    if (core_ && core_->IsOpen()) return STATUS_INVALID_HANDLE;
    NtStatus status = STATUS_UNSUCCESSFUL;
    auto core = detail::HandleCore::Connect(name, &status);
    if (core) {
        if (core_) core_->Close();
        core_ = std::move(core);
    }
    return status;
}

bool DeviceHandle::IsOpen() const {
    const auto core = Core();
    return core && core->IsOpen();
}

void DeviceHandle::Close() {
    if (const auto core = Core()) core->Close();
}

NtStatus DeviceHandle::Start(std::uint32_t kind, std::uint32_t code, const void* input,
                             std::size_t inputLength, void* output, std::size_t outputLength,
                             const RegionSpan* region, Overlapped& overlapped, bool posted) {
    const auto core = Core();
    if (!core) return STATUS_INVALID_HANDLE;
    return core->Submit(core, kind, code, input, inputLength, output, outputLength, region, overlapped, false,
                        posted);
}

NtStatus DeviceHandle::DeviceIoControl(std::uint32_t code, const void* input, std::size_t inputLength,
                                       void* output, std::size_t outputLength, std::uint64_t* bytesReturned) {
    const auto core = Core();
    if (!core) {
        if (bytesReturned != nullptr) *bytesReturned = 0;
        return STATUS_INVALID_HANDLE;
    }
    // The connection's spare silent records serve its synchronous calls (each
    // returns only once its request has completed): no event is made, reset,
    // set and closed per call.
    auto overlapped = core->TakeRecord();
    // Only the final status counts here: the service skips the "pending" answer.
    NtStatus status = core->Submit(core, static_cast<std::uint32_t>(RequestKind::DeviceControl), code, input,
                                   inputLength, output, outputLength, nullptr, *overlapped, true);
    if (status == STATUS_PENDING) status = GetOverlappedResult(*overlapped, nullptr, true);
    if (bytesReturned != nullptr) *bytesReturned = overlapped->Information();
    core->GiveBack(std::move(overlapped));
    return status;
}

NtStatus DeviceHandle::DeviceIoControl(std::uint32_t code, const void* input, std::size_t inputLength,
                                       void* output, std::size_t outputLength, Overlapped& overlapped) {
    return Start(static_cast<std::uint32_t>(RequestKind::DeviceControl), code, input, inputLength, output,
                 outputLength, nullptr, overlapped);
}

NtStatus DeviceHandle::DeviceIoControl(std::uint32_t code, const void* input, std::size_t inputLength,
                                       const RegionSpan& output, Overlapped& overlapped) {
    return Start(static_cast<std::uint32_t>(RequestKind::DeviceControl), code, input, inputLength, nullptr, 0,
                 &output, overlapped);
}

NtStatus DeviceHandle::PostDeviceIoControl(std::uint32_t code, const void* input, std::size_t inputLength,
                                           void* output, std::size_t outputLength, Overlapped& overlapped) {
    return Start(static_cast<std::uint32_t>(RequestKind::DeviceControl), code, input, inputLength, output,
                 outputLength, nullptr, overlapped, true);
}

NtStatus DeviceHandle::PostDeviceIoControl(std::uint32_t code, const void* input, std::size_t inputLength,
                                           const RegionSpan& output, Overlapped& overlapped) {
    return Start(static_cast<std::uint32_t>(RequestKind::DeviceControl), code, input, inputLength, nullptr, 0,
                 &output, overlapped, true);
}

void DeviceHandle::PostDeviceIoControls(std::span<PostedRequest> requests) {
    const auto core = Core();
    if (!core) {
        for (PostedRequest& request : requests)
            request.status = STATUS_INVALID_HANDLE;
        return;
    }
    core->SubmitPosted(core, static_cast<std::uint32_t>(RequestKind::DeviceControl), requests);
}

NtStatus DeviceHandle::ReadFile(void* output, std::size_t length, Overlapped& overlapped) {
    return Start(static_cast<std::uint32_t>(RequestKind::Read), 0, nullptr, 0, output, length, nullptr,
                 overlapped);
}

NtStatus DeviceHandle::ReadFile(const RegionSpan& output, Overlapped& overlapped) {
    return Start(static_cast<std::uint32_t>(RequestKind::Read), 0, nullptr, 0, nullptr, 0, &output,
                 overlapped);
}

NtStatus DeviceHandle::GetOverlappedResult(Overlapped& overlapped, std::uint64_t* bytes, bool wait) {
    // The record knows the connection its request went on, which may be an
    // earlier one of this handle.
    if (!overlapped.core_) {
        if (bytes != nullptr) *bytes = overlapped.Information();
        return overlapped.Status();
    }
    return overlapped.core_->Result(overlapped, bytes, wait);
}

NtStatus DeviceHandle::GetOverlappedResult(Overlapped& overlapped, std::uint64_t* bytes,
                                           const std::atomic<bool>& stop) {
    if (!overlapped.core_) {
        if (bytes != nullptr) *bytes = overlapped.Information();
        return overlapped.Status();
    }
    return overlapped.core_->Result(overlapped, bytes, stop);
}

NtStatus DeviceHandle::GetOverlappedResult(Overlapped& overlapped, std::uint64_t* bytes,
                                           const std::atomic<bool>& stop,
                                           std::chrono::steady_clock::time_point deadline) {
    if (!overlapped.core_) {
        if (bytes != nullptr) *bytes = overlapped.Information();
        return overlapped.Status();
    }
    return overlapped.core_->Result(overlapped, bytes, stop, deadline);
}

void DeviceHandle::WakeWaiters() {
    if (const auto core = Core()) core->WakeWaiters();
}

NtStatus DeviceHandle::CancelIo() {
    const auto core = Core();
    if (!core || !core->IsOpen()) return STATUS_INVALID_HANDLE;
    core->CancelThread(std::this_thread::get_id());
    return STATUS_SUCCESS;
}

NtStatus DeviceHandle::CancelIoEx(Overlapped& overlapped) {
    const auto core = overlapped.core_;
    return core && overlapped.IsPending() && core->Cancel(overlapped) ? STATUS_SUCCESS : STATUS_NOT_FOUND;
}

NtStatus DeviceHandle::RegisterRegion(const Region& region, std::uint32_t* regionId) {
    const auto core = Core();
    if (!core) return STATUS_INVALID_HANDLE;
    return core->RegisterRegion(region, regionId);
}

NtStatus DeviceHandle::UnregisterRegion(std::uint32_t regionId) {
    const auto core = Core();
    if (!core) return STATUS_INVALID_HANDLE;
    return core->UnregisterRegion(regionId);
}

} // namespace qorcam::devio
