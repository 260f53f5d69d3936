// Small helpers for requests to the USB3 Vision service's devices and for reading what they answer.
#include "UsbService.h"

#include <algorithm>
#include <array>

namespace qorcam::usb {

uint32_t CallAndWait(devio::DeviceHandle& driver, uint32_t code, const void* input, size_t inputLength,
                     void* output, size_t outputLength, uint64_t* bytes) {
    devio::Overlapped overlapped;
    uint32_t status = driver.DeviceIoControl(code, input, inputLength, output, outputLength, overlapped);
    uint64_t reported = overlapped.Information();
    if (status == devio::STATUS_PENDING) status = driver.GetOverlappedResult(overlapped, &reported, true);
    if (bytes) *bytes = std::min<uint64_t>(reported, outputLength);
    return status;
}

CmdReadResult ReadMemory(devio::DeviceHandle& driver, uint64_t address, uint16_t length, uint8_t* data) {
    constexpr size_t kMaxData = 1004;
    CmdReadResult result;
    if (length > kMaxData) {
        result.status = devio::STATUS_INVALID_PARAMETER;
        return result;
    }
    usbdrv::UsbCmdRequest request{};
    request.processId = ProcessId();
    request.operation = usbdrv::kUsbCmdReadMemory;
    request.address = address;
    request.length = length;
    std::array<uint8_t, 8 + kMaxData> answer{};
    uint64_t bytes = 0;
    result.status = CallAndWait(driver, usbdrv::IOCTL_USB_SendCmd, &request, sizeof request, answer.data(),
                                8 + static_cast<size_t>(length), &bytes);
    if (result.status != devio::STATUS_SUCCESS) return result;
    result.ackStatus = Get<uint16_t>(answer.data(), 0);
    // The count the answer claims is believed only as far as the bytes that really came back and the
    // bytes that were asked for.
    const size_t received = bytes < 4 ? 0 : static_cast<size_t>(bytes - 4);
    result.dataBytes = std::min<size_t>({Get<uint16_t>(answer.data(), 2), received, length});
    std::memcpy(data, answer.data() + 4, result.dataBytes);
    return result;
}

} // namespace qorcam::usb
