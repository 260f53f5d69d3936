// Device: the blocking calls and the standard requests shared by every backend.
#include "usb/Device.h"

#include <condition_variable>
#include <mutex>

namespace qorcam::usb {

Status Device::BulkTransfer(std::uint8_t endpoint, std::span<std::uint8_t> buffer, std::uint32_t timeoutMs,
                            std::size_t& transferred) {
    transferred = 0;
    if (OnCompletionThread()) return Status::Busy;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    Status result = Status::IoError;
    const Status submitted = SubmitBulk(endpoint, buffer, timeoutMs, [&](Status status, std::size_t bytes) {
        std::lock_guard lock(mutex);
        result = status;
        transferred = bytes;
        finished = true;
        done.notify_one();
    });
    if (submitted != Status::Success) return submitted;
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
    return result;
}

bool Device::IsRemoved() const {
    std::lock_guard lock(removalMutex_);
    return removed_;
}

void Device::SetRemovalHandler(std::function<void()> handler) {
    std::unique_lock lock(removalMutex_);
    if (removed_) {
        lock.unlock();
        if (handler) handler();
        return;
    }
    removalHandler_ = std::move(handler);
}

void Device::MarkRemoved(bool notify) {
    std::function<void()> handler;
    {
        std::lock_guard lock(removalMutex_);
        if (removed_) return;
        removed_ = true;
        handler = std::move(removalHandler_);
        removalHandler_ = nullptr;
    }
    if (notify && handler) handler();
}

Status Device::HaltPipe(std::uint8_t endpoint) {
    std::size_t moved = 0;
    return ControlTransfer({kRecipientEndpoint, kRequestSetFeature, kFeatureEndpointHalt, endpoint, 0}, {},
                           kDescriptorTimeoutMs, moved);
}

Status Device::IsPipeHalted(std::uint8_t endpoint, bool& halted) {
    std::uint8_t answer[2] = {};
    std::size_t moved = 0;
    const Status status = ControlTransfer({0x80 | kRecipientEndpoint, kRequestGetStatus, 0, endpoint, 2},
                                          answer, kDescriptorTimeoutMs, moved);
    if (status != Status::Success) return status;
    if (moved != 2) return Status::IoError;
    halted = (answer[0] & 1) != 0;
    return Status::Success;
}

Status Device::GetDeviceDescriptor(DeviceDescriptor& descriptor, std::vector<std::uint8_t>* raw) {
    std::vector<std::uint8_t> bytes(18);
    std::size_t moved = 0;
    const Status status = ControlTransfer({0x80, kRequestGetDescriptor, kDescriptorDevice << 8, 0, 18}, bytes,
                                          kDescriptorTimeoutMs, moved);
    if (status != Status::Success) return status;
    bytes.resize(moved);
    const auto parsed = ParseDeviceDescriptor(bytes);
    if (!parsed) return Status::IoError;
    descriptor = *parsed;
    if (raw != nullptr) *raw = std::move(bytes);
    return Status::Success;
}

Status Device::GetConfigurationDescriptor(std::vector<std::uint8_t>& bytes, std::uint8_t index) {
    const std::uint16_t value = static_cast<std::uint16_t>(kDescriptorConfiguration << 8 | index);
    std::vector<std::uint8_t> head(9);
    std::size_t moved = 0;
    Status status =
        ControlTransfer({0x80, kRequestGetDescriptor, value, 0, 9}, head, kDescriptorTimeoutMs, moved);
    if (status != Status::Success) return status;
    if (moved < 4 || head[1] != kDescriptorConfiguration) return Status::IoError;
    const std::uint16_t total = static_cast<std::uint16_t>(head[2] | head[3] << 8);
    if (total < 9) return Status::IoError;
    bytes.assign(total, 0);
    status =
        ControlTransfer({0x80, kRequestGetDescriptor, value, 0, total}, bytes, kDescriptorTimeoutMs, moved);
    if (status != Status::Success) return status;
    if (moved != total) return Status::IoError;
    return Status::Success;
}

Status Device::GetStringDescriptor(std::uint8_t index, std::u16string& text, std::uint16_t language) {
    const std::uint16_t value = static_cast<std::uint16_t>(kDescriptorString << 8 | index);
    std::vector<std::uint8_t> bytes(255);
    std::size_t moved = 0;
    const Status status = ControlTransfer({0x80, kRequestGetDescriptor, value, language, 255}, bytes,
                                          kDescriptorTimeoutMs, moved);
    if (status != Status::Success) return status;
    const auto parsed = ParseStringDescriptor(std::span(bytes).first(moved));
    if (!parsed) return Status::IoError;
    text = *parsed;
    return Status::Success;
}

} // namespace qorcam::usb
