// Small helpers for requests to the GigE network service's device.
#pragma once

#include "devio/DeviceHandle.h"

#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace qorcam::gige {

// The process id the service keys this process's state by.
inline uint32_t ProcessId() {
    return static_cast<uint32_t>(::getpid());
}

// A request that the service completes at once (or that is waited for): its final status.
inline uint32_t CallService(devio::DeviceHandle& driver, uint32_t code, const void* input, size_t inputLength,
                            void* output = nullptr, size_t outputLength = 0, uint64_t* bytes = nullptr) {
    return driver.DeviceIoControl(code, input, inputLength, output, outputLength, bytes);
}

// Little-endian fields written into and read from request blocks at their byte offsets.
template <class T> void Put(uint8_t* block, size_t offset, T value) {
    std::memcpy(block + offset, &value, sizeof value);
}
template <class T> T Get(const uint8_t* block, size_t offset) {
    T value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

} // namespace qorcam::gige
