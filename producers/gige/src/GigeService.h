// Small helpers for requests to the GigE network service's device.
#pragma once

#include "devio/DeviceHandle.h"
#include "gentl/RequestFields.h"
#include "gentl/ServeSlotsInOrder.h"

#include <cstdint>
#include <cstring>

namespace qorcam::gige {

// The service keys this process's state by its process id.
using gentl::ProcessId;

// A request that the service completes at once (or that is waited for): its final status.
inline uint32_t CallService(devio::DeviceHandle& driver, uint32_t code, const void* input, size_t inputLength,
                            void* output = nullptr, size_t outputLength = 0, uint64_t* bytes = nullptr) {
    return driver.DeviceIoControl(code, input, inputLength, output, outputLength, bytes);
}

// Request blocks carry little-endian fields at their byte offsets.
using gentl::Get;
using gentl::Put;

using gentl::ServeSlotsInOrder;

// Whether the service took a request: a handle whose service is gone refuses it at once.
inline bool Taken(uint32_t status) {
    return status != devio::STATUS_DEVICE_NOT_CONNECTED && status != devio::STATUS_INVALID_HANDLE;
}

} // namespace qorcam::gige
