// Fields of the request and answer blocks a producer exchanges with its service, and the process id
// the service keys a client's state by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace qorcam::gentl {

// The id of this process, as a service records who owns what.
inline uint32_t ProcessId() {
    return static_cast<uint32_t>(::getpid());
}

// A little-endian field written into a block at its byte offset; no alignment is assumed.
template <class T> void Put(uint8_t* block, size_t offset, T value) {
    std::memcpy(block + offset, &value, sizeof value);
}

// A little-endian field read from a block at its byte offset; the caller has checked the block holds it.
template <class T> T Get(const uint8_t* block, size_t offset) {
    T value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

} // namespace qorcam::gentl
