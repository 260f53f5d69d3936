// Small helpers for requests to the USB3 Vision service's devices and for reading what they answer.
#pragma once

#include "UsbDeviceControl.h"
#include "devio/DeviceHandle.h"
#include "gentl/RequestFields.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace qorcam::usb {

// The service keys ownership by the process id; request and answer blocks carry little-endian fields
// at their byte offsets.
using gentl::Get;
using gentl::ProcessId;
using gentl::Put;

// One request sent overlapped and waited for: its final status; `bytes` (optional) receives the byte
// count the service reported, never more than the output room.
uint32_t CallAndWait(devio::DeviceHandle& driver, uint32_t code, const void* input, size_t inputLength,
                     void* output = nullptr, size_t outputLength = 0, uint64_t* bytes = nullptr);

// The result of one memory read of the camera through IOCTL_USB_SendCmd.
struct CmdReadResult {
    uint32_t status = 0;    // completion status of the request
    uint16_t ackStatus = 0; // GenCP status word of the camera's acknowledge
    size_t dataBytes = 0;   // data bytes in `data`, bounded by what was asked and what came back
};

// Reads `length` bytes (at most 1004) at `address` into `data` (room for `length` bytes).
CmdReadResult ReadMemory(devio::DeviceHandle& driver, uint64_t address, uint16_t length, uint8_t* data);

// A GenCP status word that marks an error (0x8000 in its top four bits).
inline bool IsErrorStatus(uint16_t status) {
    return (status & 0xF000) == 0x8000;
}

} // namespace qorcam::usb
