// CPort: register accesses forwarded to the producer, with the presence check around them.
#include "description/CPort.h"

#include <stdexcept>

namespace qorcam::description {

void CPort::Read(void* buffer, int64_t address, int64_t length) {
    if (device_.RefreshPresence() && length >= 0 && buffer) {
        size_t size = static_cast<size_t>(length);
        int32_t result = device_.ReadPort(static_cast<uint64_t>(address), buffer, size);
        if (result >= 0 && size == static_cast<size_t>(length)) return;
    }
    device_.RefreshPresence();
    throw std::runtime_error("Unable to Read Register");
}

void CPort::Write(const void* buffer, int64_t address, int64_t length) {
    if (device_.RefreshPresence() && length >= 0 && buffer) {
        size_t size = static_cast<size_t>(length);
        if (device_.WritePort(static_cast<uint64_t>(address), buffer, size) >= 0) return;
    }
    device_.RefreshPresence();
    throw std::runtime_error("Unable to Write Register");
}

} // namespace qorcam::description
