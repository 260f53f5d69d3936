// LastError: a per-thread error code, as the system keeps one per thread.
#pragma once

#include <cstdint>

namespace qorcam::os {

/// The calling thread's last error code: 0 in a new thread, changed only by
/// Set, never seen by other threads.
class LastError {
public:
    static std::uint32_t Get();
    static void Set(std::uint32_t code);
};

} // namespace qorcam::os
