// LibusbDevice: transfers and requests mapped onto libusb calls.
#include "usb/LibusbDevice.h"

#include <libusb.h>

namespace qorcam::usb {

namespace {

struct TransferTag {
    LibusbDevice* device;
    Device::TransferId id;
};

Status FromTransferStatus(int status) {
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
        return Status::Success;
    case LIBUSB_TRANSFER_TIMED_OUT:
        return Status::Timeout;
    case LIBUSB_TRANSFER_CANCELLED:
        return Status::Cancelled;
    case LIBUSB_TRANSFER_STALL:
        return Status::Stall;
    case LIBUSB_TRANSFER_NO_DEVICE:
        return Status::NoDevice;
    case LIBUSB_TRANSFER_OVERFLOW:
        return Status::Overflow;
    default:
        return Status::IoError;
    }
}

} // namespace

Status LibusbDevice::FromLibusb(int error) {
    if (error >= 0) return Status::Success;
    switch (error) {
    case LIBUSB_ERROR_TIMEOUT:
        return Status::Timeout;
    case LIBUSB_ERROR_PIPE:
        return Status::Stall;
    case LIBUSB_ERROR_NO_DEVICE:
        return Status::NoDevice;
    case LIBUSB_ERROR_OVERFLOW:
        return Status::Overflow;
    case LIBUSB_ERROR_INVALID_PARAM:
        return Status::InvalidParameter;
    case LIBUSB_ERROR_BUSY:
        return Status::Busy;
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return Status::NotSupported;
    case LIBUSB_ERROR_INTERRUPTED:
        return Status::Cancelled;
    default:
        return Status::IoError;
    }
}

LibusbDevice::LibusbDevice(std::shared_ptr<LibusbContext> context, libusb_device_handle* handle,
                           std::string id)
    : context_(std::move(context)), handle_(handle), id_(std::move(id)) {
    libusb_set_auto_detach_kernel_driver(handle_, 1);
}

LibusbDevice::~LibusbDevice() {
    {
        std::unique_lock lock(mutex_);
        for (auto& [id, flight] : inFlight_)
            libusb_cancel_transfer(flight.transfer);
        drained_.wait(lock, [this] { return inFlight_.empty() && running_ == 0; });
    }
    for (int interface : claimed_)
        libusb_release_interface(handle_, interface);
    libusb_close(handle_);
}

Status LibusbDevice::Claim() {
    libusb_config_descriptor* config = nullptr;
    int result = libusb_get_active_config_descriptor(libusb_get_device(handle_), &config);
    if (result != 0) return FromLibusb(result);
    Status status = Status::Success;
    for (int i = 0; i < config->bNumInterfaces && status == Status::Success; ++i) {
        const int number = config->interface[i].altsetting[0].bInterfaceNumber;
        result = libusb_claim_interface(handle_, number);
        if (result == 0) {
            claimed_.push_back(number);
        } else {
            status = FromLibusb(result);
        }
    }
    libusb_free_config_descriptor(config);
    if (status != Status::Success) {
        for (int interface : claimed_)
            libusb_release_interface(handle_, interface);
        claimed_.clear();
    }
    return status;
}

Status LibusbDevice::ControlTransfer(const SetupPacket& setup, std::span<std::uint8_t> data,
                                     std::uint32_t timeoutMs, std::size_t& transferred) {
    transferred = 0;
    if (data.size() < setup.length) return Status::InvalidParameter;
    if (OnCompletionThread()) return Status::Busy;
    const int result = libusb_control_transfer(handle_, setup.requestType, setup.request, setup.value,
                                               setup.index, data.data(), setup.length, timeoutMs);
    if (result < 0) {
        if (result == LIBUSB_ERROR_NO_DEVICE) MarkRemoved(true);
        return FromLibusb(result);
    }
    transferred = static_cast<std::size_t>(result);
    return Status::Success;
}

Status LibusbDevice::SubmitBulk(std::uint8_t endpoint, std::span<std::uint8_t> buffer,
                                std::uint32_t timeoutMs, Completion done, TransferId* id) {
    if (!done || buffer.size() > static_cast<std::size_t>(INT32_MAX)) return Status::InvalidParameter;
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (transfer == nullptr) return Status::IoError;
    std::lock_guard lock(mutex_);
    if (IsRemoved()) {
        libusb_free_transfer(transfer);
        return Status::NoDevice;
    }
    const TransferId tag = nextId_++;
    libusb_fill_bulk_transfer(transfer, handle_, endpoint, buffer.data(), static_cast<int>(buffer.size()),
                              &LibusbDevice::TransferDone, new TransferTag{this, tag}, timeoutMs);
    const int result = libusb_submit_transfer(transfer);
    if (result != 0) {
        delete static_cast<TransferTag*>(transfer->user_data);
        libusb_free_transfer(transfer);
        return FromLibusb(result);
    }
    inFlight_.emplace(tag, InFlight{transfer, endpoint, std::move(done)});
    if (id != nullptr) *id = tag;
    return Status::Success;
}

void LibusbDevice::TransferDone(libusb_transfer* transfer) {
    auto* tag = static_cast<TransferTag*>(transfer->user_data);
    LibusbDevice* self = tag->device;
    const Status status = FromTransferStatus(transfer->status);
    const std::size_t length = static_cast<std::size_t>(std::max(transfer->actual_length, 0));
    Completion done;
    {
        std::lock_guard lock(self->mutex_);
        auto it = self->inFlight_.find(tag->id);
        if (it != self->inFlight_.end()) {
            done = std::move(it->second.done);
            self->inFlight_.erase(it);
        }
        ++self->running_;
    }
    delete tag;
    libusb_free_transfer(transfer);
    if (status == Status::NoDevice) self->MarkRemoved(true);
    if (done) done(status, length);
    // The destructor waits for this count, so nothing of self is touched
    // after the lock is given back.
    std::lock_guard lock(self->mutex_);
    --self->running_;
    self->drained_.notify_all();
}

void LibusbDevice::Cancel(TransferId id) {
    std::lock_guard lock(mutex_);
    auto it = inFlight_.find(id);
    if (it != inFlight_.end()) libusb_cancel_transfer(it->second.transfer);
}

void LibusbDevice::AbortPipe(std::uint8_t endpoint) {
    std::lock_guard lock(mutex_);
    for (auto& [id, flight] : inFlight_)
        if (flight.endpoint == endpoint) libusb_cancel_transfer(flight.transfer);
}

Status LibusbDevice::ResetPipe(std::uint8_t endpoint) {
    AbortPipe(endpoint);
    return FromLibusb(libusb_clear_halt(handle_, endpoint));
}

} // namespace qorcam::usb
