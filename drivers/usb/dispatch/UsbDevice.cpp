// UsbDevice: device-control dispatch, ownership, the command thread, the event reader and stream reads.
#include "UsbDevice.h"

#include "U3vPackets.h"
#include "UsbDeviceControl.h"

#include "os/WaitAny.h"
#include "os/Waitable.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>

namespace qorcam::usbdrv {

using namespace devio;

namespace {

inline constexpr NtStatus STATUS_IO_TIMEOUT = 0xC00000B5;
inline constexpr NtStatus STATUS_DATA_OVERRUN = 0xC000003C;
inline constexpr NtStatus STATUS_NOT_SUPPORTED = 0xC00000BB;
inline constexpr NtStatus STATUS_DEVICE_BUSY = 0x80000011;

/// Buffers the camera asks the service to make larger than this are refused.
inline constexpr std::uint32_t kMaxBufferSize = 16u << 20;
/// How long a cancelled read waits for its transfers before it completes anyway.
inline constexpr std::uint32_t kCancelWaitMs = 30000;

std::uint32_t Input32(std::span<const std::uint8_t> input, std::size_t offset) {
    return GetLe32(input, offset);
}

void Put32(std::span<std::uint8_t> out, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace

NtStatus ToNtStatus(usb::Status status) {
    switch (status) {
    case usb::Status::Success:
        return STATUS_SUCCESS;
    case usb::Status::Timeout:
        return STATUS_IO_TIMEOUT;
    case usb::Status::Cancelled:
        return STATUS_CANCELLED;
    case usb::Status::NoDevice:
        return STATUS_DEVICE_NOT_CONNECTED;
    case usb::Status::Overflow:
        return STATUS_DATA_OVERRUN;
    case usb::Status::InvalidParameter:
        return STATUS_INVALID_PARAMETER;
    case usb::Status::Busy:
        return STATUS_DEVICE_BUSY;
    case usb::Status::NotSupported:
        return STATUS_NOT_SUPPORTED;
    case usb::Status::Stall:
    case usb::Status::IoError:
        break;
    }
    return STATUS_UNSUCCESSFUL;
}

// ---------------------------------------------------------------------------
// The control pipes of this device as the command channel sees them.

class UsbDevice::AckPort final : public CommandPort {
public:
    AckPort(UsbDevice& device, const RequestPtr& request)
        : device_(device), request_(request),
          cancelWake_(std::make_shared<os::Event>(os::ResetMode::Manual)) {}

    /// Set by the request's cancellation; shared, since a cancel routine may outlive the command.
    const std::shared_ptr<os::Event>& CancelWake() const { return cancelWake_; }

    NtStatus Send(std::span<const std::uint8_t> packet, std::uint32_t timeoutMs) override {
        std::vector<std::uint8_t> bytes(packet.begin(), packet.end());
        std::size_t moved = 0;
        return ToNtStatus(device_.device_->BulkTransfer(device_.pipes_.controlOut, bytes, timeoutMs, moved));
    }
    bool AckReadPending() override { return !device_.ackDone_.IsSet(); }
    NtStatus PostAckRead() override {
        UsbDevice& d = device_;
        d.ackDone_.Reset();
        const usb::Status submitted = d.device_->SubmitBulk(
            d.pipes_.controlIn, d.ackBuffer_, 0,
            [&d](usb::Status status, std::size_t transferred) {
                d.ackStatus_ = status;
                d.ackLength_ = transferred;
                d.ackDone_.Set();
            },
            &d.ackTransfer_);
        if (submitted != usb::Status::Success) d.ackDone_.Set();
        return ToNtStatus(submitted);
    }
    Wake WaitAck(std::uint32_t timeoutMs) override {
        const int woken = os::WaitAny({cancelWake_.get(), &device_.ackDone_}, timeoutMs);
        if (woken == 0) return Wake::Cancelled;
        if (woken == 1) return Wake::Ack;
        return Wake::Timeout;
    }
    NtStatus AckStatus() override { return ToNtStatus(device_.ackStatus_.load()); }
    std::span<const std::uint8_t> AckBytes() override {
        return std::span<const std::uint8_t>(device_.ackBuffer_)
            .first(std::min(device_.ackLength_.load(), device_.ackBuffer_.size()));
    }
    bool Cancelled() override { return request_->IsCancelled() || device_.released_.load(); }

private:
    UsbDevice& device_;
    RequestPtr request_;
    std::shared_ptr<os::Event> cancelWake_;
};

// ---------------------------------------------------------------------------

UsbDevice::UsbDevice(std::unique_ptr<usb::Device> device, UsbParameters parameters)
    : device_(std::move(device)), parameters_(parameters) {}

UsbDevice::~UsbDevice() {
    Release();
    if (server_) server_->Stop(); // every connection closes; registrations give up their processes
    server_.reset();
    commandStop_.Set();
    commandThread_.Join();
    StopEventReader();
    CancelAckRead();
    FailQueued();
    device_->SetRemovalHandler([] {});
    device_.reset(); // waits for the completions still running, while everything they use is here
}

NtStatus UsbDevice::PrepareHardware() {
    usb::DeviceDescriptor descriptor;
    usb::Status status = device_->GetDeviceDescriptor(descriptor);
    if (status != usb::Status::Success) return ToNtStatus(status);
    std::vector<std::uint8_t> configuration;
    status = device_->GetConfigurationDescriptor(configuration);
    if (status != usb::Status::Success) return ToNtStatus(status);
    if (const auto index = FindDeviceGuidIndex(configuration); index && *index != 0) {
        std::u16string text;
        if (device_->GetStringDescriptor(*index, text) == usb::Status::Success) guid_ = text;
    }
    const auto parsed = usb::ParseConfiguration(configuration);
    if (!parsed) return STATUS_INSUFFICIENT_RESOURCES;
    pipes_ = FindPipes(*parsed);
    if (!pipes_.Complete()) return STATUS_INSUFFICIENT_RESOURCES;
    status = device_->Claim();
    if (status != usb::Status::Success) return ToNtStatus(status);

    {
        std::lock_guard lock(mutex_);
        ackWaitFloorMs_ = parameters_.cmdTimeoutMs;
        ownerAckTimeoutMs_ = parameters_.cmdTimeoutMs;
        commandBufferSize_ = std::max<std::uint32_t>(pipes_.controlOutMaxPacket, 24);
        ackBufferSize_ = std::max<std::uint32_t>(pipes_.controlInMaxPacket, kU3vShortAckSize);
        eventTransferSize_ = std::max<std::uint32_t>(pipes_.eventMaxPacket, kU3vHeaderSize);
    }
    ackBuffer_.assign(ackBufferSize_, 0);
    device_->SetRemovalHandler([this] { Release(); });
    if (!commandThread_.Start([this] { CommandLoop(); })) return STATUS_INSUFFICIENT_RESOURCES;
    StartEventReader();
    prepared_ = true;
    return STATUS_SUCCESS;
}

NtStatus UsbDevice::Serve(const std::filesystem::path& socketPath) {
    server_ = std::make_unique<DeviceServer>([this](const RequestPtr& request) { Dispatch(request); });
    return server_->Start(socketPath);
}

void UsbDevice::Release() {
    if (released_.exchange(true)) return;
    eventStop_.Set();
    commandWork_.Set();
    FailQueued();
}

void UsbDevice::FailQueued() {
    for (RequestQueue* queue : {&commandQueue_, &eventQueue_, &streamQueue_, &messageQueue_})
        for (const auto& request : queue->TakeAll())
            request->Complete(STATUS_DEVICE_NOT_CONNECTED);
    for (const auto& request : processIdQueue_.TakeAll()) {
        ProcessGone(*request);
        request->Complete(STATUS_DEVICE_NOT_CONNECTED);
    }
}

// ---------------------------------------------------------------------------
// Dispatch.

void UsbDevice::Dispatch(const RequestPtr& request) {
    if (released_.load() || !prepared_.load()) {
        request->Complete(STATUS_DEVICE_NOT_CONNECTED);
        return;
    }
    if (request->Kind() == RequestKind::Read) {
        StartRead(request); // checks the caller's right to the stream
        return;
    }
    DeviceControl(request);
}

bool UsbDevice::MayUseStream(const Request& request, bool ownerNeeded) const {
    std::lock_guard lock(mutex_);
    return MayUseStreamLocked(request, ownerNeeded);
}

bool UsbDevice::MayUseStreamLocked(const Request& request, bool ownerNeeded) const {
    if (request.Caller().IsRoot()) return true;
    if (owner_ == 0) return !ownerNeeded;
    return request.UserId() == ownerUser_;
}

void UsbDevice::DenyForeignQueued() {
    std::uint32_t owner = 0, user = 0;
    {
        std::lock_guard lock(mutex_);
        owner = owner_;
        user = ownerUser_;
    }
    const auto foreign = [owner, user](const Request& r) {
        return !r.Caller().IsRoot() && (owner == 0 || r.UserId() != user);
    };
    for (RequestQueue* queue : {&eventQueue_, &streamQueue_})
        for (const auto& request : queue->TakeAll(foreign))
            request->Complete(STATUS_ACCESS_DENIED);
}

void UsbDevice::DeviceControl(const RequestPtr& request) {
    const auto input = request->Input();
    const std::size_t out = request->OutputLength();
    const std::uint32_t caller = request->ProcessId();
    auto needs = [&](std::size_t in, std::size_t output) {
        if (input.size() >= in && out >= output) return true;
        request->Complete(STATUS_BUFFER_TOO_SMALL);
        return false;
    };

    switch (request->Code()) {
    case IOCTL_USB_GetVersion: {
        if (!needs(0, sizeof(UsbVersionAnswer))) return;
        Put32(request->Output(), 0, kUsbInterfaceVersion);
        Put32(request->Output(), 4, 0);
        request->Complete(STATUS_SUCCESS, sizeof(UsbVersionAnswer));
        return;
    }
    case IOCTL_USB_GetControllerName:
        // No USB stack beneath answers this here; the caller's buffer stays as it was.
        if (!needs(0, kUsbControllerNameSize)) return;
        request->Complete(STATUS_SUCCESS, 0, 0);
        return;
    case IOCTL_USB_GetDeviceInfo: {
        if (!needs(0, sizeof(UsbDeviceInfoRecord))) return;
        auto output = request->Output();
        Put32(output, 0, pipes_.controlOutMaxPacket);
        // 12 characters and the terminating zero; a longer GUID string is cut.
        const std::size_t characters = std::min<std::size_t>(guid_.size(), 12);
        for (std::size_t i = 0; i < 13; ++i) {
            const char16_t c = i < characters ? guid_[i] : u'\0';
            output[4 + 2 * i] = static_cast<std::uint8_t>(c);
            output[5 + 2 * i] = static_cast<std::uint8_t>(c >> 8);
        }
        request->Complete(STATUS_SUCCESS, sizeof(UsbDeviceInfoRecord),
                          offsetof(UsbDeviceInfoRecord, reserved));
        return;
    }
    case IOCTL_USB_SetCmdTimeout:
        if (!needs(sizeof(UsbCmdTimeout), 0)) return;
        SetCmdTimeout(Input32(input, 0), caller, Input32(input, 4));
        request->Complete(STATUS_SUCCESS);
        return;
    case IOCTL_USB_SetMaxSize:
        if (!needs(sizeof(UsbMaxSizes), 0)) return;
        // Sizes are set while the camera is listed, before anyone opens it;
        // once it is open, only its user changes them.
        if (!MayUseStream(*request, false)) {
            request->Complete(STATUS_ACCESS_DENIED);
            return;
        }
        request->Complete(SetMaxSize(input));
        return;
    case IOCTL_USB_ProcessId:
        if (!needs(4, 0)) return;
        RegisterProcess(request, Input32(input, 0));
        return;
    case IOCTL_USB_DeviceOpen: {
        if (!needs(4, 0)) return;
        const NtStatus status = DeviceOpen(Input32(input, 0), caller, request->UserId());
        if (status == STATUS_SUCCESS) DenyForeignReads();
        request->Complete(status);
        return;
    }
    case IOCTL_USB_DeviceClose: {
        if (!needs(4, 0)) return;
        const NtStatus status = DeviceClose(Input32(input, 0), caller);
        if (status == STATUS_SUCCESS) DenyForeignReads();
        request->Complete(status);
        return;
    }
    case IOCTL_USB_SetStreamInfo:
        if (!needs(sizeof(UsbStreamSetup), 0)) return;
        request->Complete(SetStreamInfo(input, caller));
        return;
    case IOCTL_USB_SendCmd:
        if (!needs(kUsbCmdRequestMinimum, 0)) return;
        SendCmd(request);
        return;
    case IOCTL_USB_GetEvent:
    case IOCTL_USB_GetStream:
        // Events and images of an open camera go to its user only.
        if (!MayUseStream(*request, true)) {
            request->Complete(STATUS_ACCESS_DENIED);
            return;
        }
        (request->Code() == IOCTL_USB_GetEvent ? eventQueue_ : streamQueue_).Pend(request);
        // The owner changed between the check and the queueing: that change's sweep may have missed it.
        if (!MayUseStream(*request, true)) DenyForeignQueued();
        if (released_.load()) FailQueued();
        return;
    case IOCTL_USB_SetMessageEnable:
        // The level is kept but this service writes no trace messages.
        if (!needs(4, 0)) return;
        messageLevel_ = Input32(input, 0);
        request->Complete(STATUS_SUCCESS);
        return;
    case IOCTL_USB_GetMessage:
        if (!needs(0, kUsbMessageBufferSize)) return;
        messageQueue_.Pend(request);
        if (released_.load()) FailQueued();
        return;
    case IOCTL_USB_ResetStreamPipe:
        if (!MayUseStream(*request, false)) {
            request->Complete(STATUS_ACCESS_DENIED);
            return;
        }
        device_->ResetPipe(pipes_.stream);
        request->Complete(STATUS_SUCCESS);
        return;
    default:
        request->Complete(STATUS_INVALID_DEVICE_REQUEST);
        return;
    }
}

bool UsbDevice::RegisteredLocked(std::uint32_t processId) const {
    for (const auto& [request, id] : processes_)
        if (id == processId) return true;
    return false;
}

void UsbDevice::RegisterProcess(const RequestPtr& request, std::uint32_t processId) {
    // A process registers itself only: another one's id would let it give up that process's camera.
    if (processId != request->ProcessId()) {
        request->Complete(STATUS_UNSUCCESSFUL);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        processes_.emplace(request.get(), processId);
    }
    const auto gone = [this](const RequestPtr& cancelled) {
        if (ProcessGone(*cancelled)) DenyForeignReads();
    };
    if (!processIdQueue_.Pend(request, gone)) {
        gone(request);
        return;
    }
    if (released_.load()) FailQueued();
}

bool UsbDevice::ProcessGone(const Request& request) {
    std::lock_guard lock(mutex_);
    const auto entry = processes_.find(&request);
    if (entry == processes_.end()) return false;
    const bool owned = entry->second == owner_;
    if (owned) {
        owner_ = 0;
        ownerAckTimeoutMs_ = parameters_.cmdTimeoutMs;
        ackWaitFloorMs_ = parameters_.cmdTimeoutMs;
    }
    processes_.erase(entry);
    return owned;
}

NtStatus UsbDevice::DeviceOpen(std::uint32_t processId, std::uint32_t caller, std::uint32_t user) {
    std::lock_guard lock(mutex_);
    if (owner_ != 0) return STATUS_USB_DEVICE_OWNED;
    if (processId != caller || !RegisteredLocked(processId)) return STATUS_UNSUCCESSFUL;
    owner_ = processId;
    ownerUser_ = user;
    layout_.payloadSize = 0;
    layout_.leaderOffset = 0;
    layout_.trailerOffset = 0;
    ownerAckTimeoutMs_ = parameters_.cmdTimeoutMs;
    return STATUS_SUCCESS;
}

NtStatus UsbDevice::DeviceClose(std::uint32_t processId, std::uint32_t caller) {
    std::lock_guard lock(mutex_);
    if (owner_ == 0) return STATUS_USB_DEVICE_OWNED;
    if (processId != caller || !RegisteredLocked(processId) || processId != owner_)
        return STATUS_UNSUCCESSFUL;
    owner_ = 0;
    return STATUS_SUCCESS;
}

NtStatus UsbDevice::SetStreamInfo(std::span<const std::uint8_t> input, std::uint32_t caller) {
    std::lock_guard lock(mutex_);
    if (owner_ == 0) return STATUS_USB_DEVICE_OWNED;
    const std::uint32_t processId = Input32(input, 0);
    if (processId != owner_ || processId != caller) return STATUS_UNSUCCESSFUL;
    layout_.set = true;
    layout_.payloadSize = Input32(input, 4);
    layout_.leaderOffset = Input32(input, 8);
    layout_.trailerOffset = Input32(input, 12);
    layout_.transferSize = Input32(input, 16);
    layout_.transferCount = Input32(input, 20);
    layout_.final1Size = Input32(input, 24);
    layout_.final2Size = Input32(input, 28);
    return STATUS_SUCCESS;
}

void UsbDevice::SetCmdTimeout(std::uint32_t processId, std::uint32_t caller, std::uint32_t milliseconds) {
    std::lock_guard lock(mutex_);
    if (owner_ == 0 || processId != owner_ || processId != caller) return;
    ownerAckTimeoutMs_ = milliseconds == 0xFFFFFFFF ? parameters_.cmdTimeoutMs : milliseconds;
}

NtStatus UsbDevice::SetMaxSize(std::span<const std::uint8_t> input) {
    const std::uint32_t floor = Input32(input, 0);
    const std::uint32_t command = Input32(input, 4);
    const std::uint32_t ack = Input32(input, 8);
    const std::uint32_t event = Input32(input, 12);
    bool raiseAck = false;
    bool raiseEvent = false;
    {
        std::lock_guard lock(mutex_);
        if (floor > ackWaitFloorMs_) ackWaitFloorMs_ = floor;
        if (command > commandBufferSize_) {
            if (command > kMaxBufferSize) return STATUS_INSUFFICIENT_RESOURCES;
            commandBufferSize_ = command;
        }
        raiseAck = ack > ackBufferSize_;
        raiseEvent = event > eventTransferSize_;
        if ((raiseAck && ack > kMaxBufferSize) || (raiseEvent && event > kMaxBufferSize))
            return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (raiseAck) {
        const NtStatus status = RebuildAckBuffer(ack);
        if (!NtSuccess(status)) return status;
    }
    if (raiseEvent) {
        std::lock_guard restart(eventMutex_);
        StopEventReader();
        {
            std::lock_guard lock(mutex_);
            eventTransferSize_ = event;
        }
        if (!released_.load()) StartEventReader();
    }
    return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Command channel.

void UsbDevice::SendCmd(const RequestPtr& request) {
    const auto input = request->Input();
    const std::uint32_t operation = Input32(input, 4);
    const std::uint16_t length = GetLe16(input, 16);
    if (operation == kUsbCmdWriteMemory || operation == kUsbCmdWriteMemoryNoAck) {
        {
            std::lock_guard lock(mutex_);
            const std::uint32_t processId = Input32(input, 0);
            if (owner_ == 0 || processId != owner_ || processId != request->ProcessId()) {
                request->Complete(STATUS_UNSUCCESSFUL);
                return;
            }
        }
        if (input.size() < length + 20u || request->OutputLength() < 4) {
            request->Complete(STATUS_BUFFER_TOO_SMALL);
            return;
        }
    } else if (operation == kUsbCmdReadMemory) {
        if (request->OutputLength() < length + 4u) {
            request->Complete(STATUS_BUFFER_TOO_SMALL);
            return;
        }
    } else {
        request->Complete(STATUS_INVALID_PARAMETER);
        return;
    }
    commandQueue_.Pend(request);
    commandWork_.Set();
    if (released_.load()) FailQueued();
}

void UsbDevice::CommandLoop() {
    for (;;) {
        if (os::WaitAny({&commandStop_, &commandWork_}, os::kInfinite) != 1) return;
        // The users of the camera take turns: one user's many commands hold
        // up another's by one command each at most.
        while (RequestPtr request = commandQueue_.NextInTurn()) {
            if (commandStop_.IsSet()) {
                request->Complete(STATUS_CANCELLED);
                continue;
            }
            ServeCommand(request);
        }
    }
}

void UsbDevice::ServeCommand(const RequestPtr& request) {
    std::lock_guard serve(commandMutex_);
    AckPort port(*this, request);
    if (!request->SetCancelRoutine([wake = port.CancelWake()](const RequestPtr&) { wake->Set(); })) {
        request->Complete(STATUS_CANCELLED);
        return;
    }
    const auto input = request->Input();
    CommandOrder order;
    order.operation = Input32(input, 4);
    order.address =
        static_cast<std::uint64_t>(Input32(input, 8)) | static_cast<std::uint64_t>(Input32(input, 12)) << 32;
    order.length = GetLe16(input, 16);
    if (order.operation != kUsbCmdReadMemory) order.data = input.subspan(18, order.length);
    CommandSettings settings;
    {
        std::lock_guard lock(mutex_);
        settings.attempts = parameters_.cmdRetry;
        settings.sendTimeoutMs = parameters_.cmdTimeoutMs;
        settings.ackTimeoutMs = std::max(ownerAckTimeoutMs_, ackWaitFloorMs_);
        settings.commandBufferSize = commandBufferSize_;
    }
    CommandResult result = UsbSendCmd(port, settings, order, requestId_, request->Output());
    if (result.status == STATUS_CANCELLED && released_.load()) result.status = STATUS_DEVICE_NOT_CONNECTED;
    ++requestId_;
    // A read's answer goes back with the zero stored behind its data, when the output has room for it.
    const std::size_t answerBytes = std::min<std::size_t>(
        result.information + (order.operation == kUsbCmdReadMemory ? 1 : 0), request->OutputLength());
    if (request->ClearCancelRoutine()) request->Complete(result.status, result.information, answerBytes);
}

NtStatus UsbDevice::RebuildAckBuffer(std::uint32_t size) {
    std::lock_guard serve(commandMutex_);
    CancelAckRead();
    try {
        ackBuffer_.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::lock_guard lock(mutex_);
    ackBufferSize_ = size;
    return STATUS_SUCCESS;
}

void UsbDevice::CancelAckRead() {
    if (ackDone_.IsSet()) return;
    device_->Cancel(ackTransfer_);
    ackDone_.Wait(os::kInfinite);
}

// ---------------------------------------------------------------------------
// Event reader.

void UsbDevice::StartEventReader() {
    if (pipes_.event == 0) return;
    std::uint32_t size = 0;
    {
        std::lock_guard lock(mutex_);
        size = eventTransferSize_;
    }
    eventStop_.Reset();
    eventThread_ = std::make_unique<os::Thread>("QorUsbEvent");
    eventThread_->Start([this, size] { EventLoop(size); });
}

void UsbDevice::StopEventReader() {
    eventStop_.Set();
    if (eventThread_) eventThread_->Join();
    eventThread_.reset();
}

void UsbDevice::EventLoop(std::uint32_t transferSize) {
    std::vector<std::uint8_t> buffer(transferSize);
    std::optional<std::uint16_t> lastRequestId;
    struct Read {
        os::Event done{os::ResetMode::Manual};
        std::atomic<usb::Status> status{usb::Status::Success};
        std::atomic<std::size_t> length{0};
    };
    auto read = std::make_shared<Read>();
    while (!released_.load()) {
        read->done.Reset();
        usb::Device::TransferId id = 0;
        const usb::Status submitted = device_->SubmitBulk(
            pipes_.event, buffer, 0,
            [read](usb::Status status, std::size_t length) {
                read->status = status;
                read->length = length;
                read->done.Set();
            },
            &id);
        if (submitted != usb::Status::Success) break;
        if (os::WaitAny({&eventStop_, &read->done}, os::kInfinite) != 1) {
            device_->Cancel(id);
            read->done.Wait(os::kInfinite);
            break;
        }
        if (read->status != usb::Status::Success) break;
        const std::span<const std::uint8_t> packet(buffer.data(),
                                                   std::min(read->length.load(), buffer.size()));
        const EventDecision decision = JudgeEvent(packet, lastRequestId);
        if (!decision.valid) continue;
        if (decision.acknowledge) {
            auto ack = BuildEventAck(decision.requestId);
            std::size_t moved = 0;
            if (device_->BulkTransfer(pipes_.controlOut, ack, parameters_.cmdTimeoutMs, moved) !=
                usb::Status::Success)
                break;
        }
        // Taken only once the acknowledge is out, so a failed acknowledge loses no client request.
        if (decision.deliver) {
            if (RequestPtr request = eventQueue_.Next()) {
                if (request->OutputLength() < decision.size) {
                    request->Complete(STATUS_BUFFER_TOO_SMALL);
                } else {
                    std::memcpy(request->Output().data(), packet.data(), decision.size);
                    request->Complete(STATUS_SUCCESS, decision.size);
                }
            }
        }
        lastRequestId = decision.requestId;
    }
}

// ---------------------------------------------------------------------------
// Stream read.

struct UsbDevice::StreamRead {
    RequestPtr request;
    std::vector<StreamTransfer> plan;
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<usb::Device::TransferId> ids; // by plan index, 0 = not in flight
    std::size_t remaining = 1;                // transfers in flight and the submitter's own hold
    std::uint64_t total = 0;
    std::optional<NtStatus> firstFailure;
    NtStatus lastStatus = STATUS_SUCCESS;
    bool cancelling = false;
    bool denied = false; // the owner changed: completes with STATUS_ACCESS_DENIED and no data
    bool done = false;
    bool claimedByCancel = false;
};

void UsbDevice::DenyForeignReads() {
    DenyForeignQueued();
    std::vector<std::shared_ptr<StreamRead>> denied;
    {
        std::lock_guard lock(mutex_);
        for (const auto& read : reads_)
            if (!MayUseStreamLocked(*read->request, true)) denied.push_back(read);
    }
    for (const auto& read : denied)
        CancelTransfers(*read, true);
    // The change is done only once their transfers are back: none of them can take part of a block
    // the next owner starts.
    if (device_->OnCompletionThread()) return;
    for (const auto& read : denied) {
        std::unique_lock lock(read->mutex);
        read->finished.wait_for(lock, std::chrono::milliseconds(kCancelWaitMs), [&] { return read->done; });
    }
}

void UsbDevice::StartRead(const RequestPtr& request) {
    auto read = std::make_shared<StreamRead>();
    read->request = request;
    NtStatus planned = STATUS_ACCESS_DENIED;
    {
        // Checked and entered at once, so an owner change either refuses the read here or finds it.
        std::lock_guard lock(mutex_);
        if (MayUseStreamLocked(*request, true)) {
            planned = PlanStreamRead(layout_, request->OutputLength(), read->plan);
            if (NtSuccess(planned)) reads_.insert(read);
        }
    }
    if (!NtSuccess(planned)) {
        request->Complete(planned);
        return;
    }
    read->ids.assign(read->plan.size(), 0);
    if (!request->SetCancelRoutine([this, read](const RequestPtr&) { CancelRead(read); })) {
        {
            std::lock_guard lock(mutex_);
            reads_.erase(read);
        }
        request->Complete(STATUS_CANCELLED);
        return;
    }
    request->MarkPending();
    const auto output = request->Output();
    for (std::size_t i = 0; i < read->plan.size(); ++i) {
        {
            std::lock_guard lock(read->mutex);
            if (read->cancelling) break;
            ++read->remaining;
        }
        const StreamTransfer& transfer = read->plan[i];
        usb::Device::TransferId id = 0;
        const usb::Status submitted = device_->SubmitBulk(
            pipes_.stream, output.subspan(transfer.offset, transfer.length), 0,
            [this, read, i](usb::Status status, std::size_t transferred) {
                TransferDone(read, i, status, transferred);
            },
            &id);
        std::unique_lock lock(read->mutex);
        if (submitted != usb::Status::Success) {
            --read->remaining;
            if (!read->firstFailure) read->firstFailure = ToNtStatus(submitted);
            lock.unlock();
            // The block can no longer be whole: what was posted is called back rather than left
            // to take part of the next block.
            CancelRead(read);
            break;
        }
        read->ids[i] = id;
        if (read->cancelling) {
            lock.unlock();
            device_->Cancel(id);
        }
    }
    bool last = false;
    {
        std::lock_guard lock(read->mutex);
        last = --read->remaining == 0;
    }
    if (last) FinishRead(read);
}

void UsbDevice::TransferDone(const std::shared_ptr<StreamRead>& read, std::size_t index, usb::Status status,
                             std::size_t transferred) {
    const TransferKind kind = read->plan[index].kind;
    const NtStatus ntStatus = ToNtStatus(status);
    bool last = false;
    bool cancelOthers = false;
    {
        std::lock_guard lock(read->mutex);
        if (kind != TransferKind::Leader && kind != TransferKind::Trailer)
            read->total += std::min<std::uint64_t>(transferred, read->plan[index].length);
        read->ids[index] = 0;
        read->lastStatus = ntStatus;
        last = --read->remaining == 0;
        if (!last && !NtSuccess(ntStatus) && !read->cancelling) {
            if (!read->firstFailure) read->firstFailure = ntStatus;
            cancelOthers = true;
        }
    }
    if (kind == TransferKind::Leader && status == usb::Status::Success) {
        if (RequestPtr notice = streamQueue_.Next()) notice->Complete(STATUS_SUCCESS);
    }
    if (last)
        FinishRead(read);
    else if (cancelOthers)
        CancelRead(read);
}

void UsbDevice::FinishRead(const std::shared_ptr<StreamRead>& read) {
    {
        std::lock_guard lock(mutex_);
        reads_.erase(read);
    }
    NtStatus status = STATUS_SUCCESS;
    std::uint64_t total = 0;
    bool denied = false;
    {
        std::lock_guard lock(read->mutex);
        status = read->firstFailure.value_or(read->lastStatus);
        total = read->total;
        denied = read->denied;
        read->done = true;
    }
    read->finished.notify_all();
    if (read->request->ClearCancelRoutine()) {
        if (denied)
            read->request->Complete(STATUS_ACCESS_DENIED, 0, 0);
        else
            read->request->Complete(status, total, read->request->OutputLength());
    }
    // Otherwise a cancellation claimed the read: CancelRead completes it once it sees done.
}

void UsbDevice::CancelTransfers(StreamRead& read, bool deny) {
    std::vector<usb::Device::TransferId> ids;
    {
        std::lock_guard lock(read.mutex);
        read.denied = read.denied || deny;
        read.cancelling = true;
        for (const auto id : read.ids)
            if (id != 0) ids.push_back(id);
    }
    for (const auto id : ids)
        device_->Cancel(id);
}

void UsbDevice::CancelRead(const std::shared_ptr<StreamRead>& read) {
    CancelTransfers(*read, false);
    // Run by the client's cancellation, the read must not complete before its transfers are back:
    // the client may reuse the buffer at once. Run from a completion, there is nothing to wait for.
    if (device_->OnCompletionThread()) return;
    std::unique_lock lock(read->mutex);
    if (!read->request->IsCancelled()) return;
    read->finished.wait_for(lock, std::chrono::milliseconds(kCancelWaitMs), [&] { return read->done; });
    if (read->denied) {
        lock.unlock();
        read->request->Complete(STATUS_ACCESS_DENIED, 0, 0);
        return;
    }
    const NtStatus status = read->done ? read->firstFailure.value_or(read->lastStatus) : STATUS_CANCELLED;
    const std::uint64_t total = read->total;
    lock.unlock();
    read->request->Complete(status, total, read->request->OutputLength());
}

} // namespace qorcam::usbdrv
