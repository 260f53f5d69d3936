// LastError: the thread-local error word.
#include "os/LastError.h"

namespace qorcam::os {
namespace {
thread_local std::uint32_t tlsLastError = 0;
}

std::uint32_t LastError::Get() {
    return tlsLastError;
}
void LastError::Set(std::uint32_t code) {
    tlsLastError = code;
}

} // namespace qorcam::os
