// ManualClock: the monotonic Set.
#include "os/ManualClock.h"

namespace qorcam::os {

void ManualClock::SetNs(std::uint64_t ns) {
    std::uint64_t current = now_.load();
    while (ns > current && !now_.compare_exchange_weak(current, ns)) {
    }
}

} // namespace qorcam::os
