// Clock: the real monotonic clock.
#include "os/Clock.h"

#include <ctime>

namespace qorcam::os {

std::uint64_t SteadyClock::NowNs() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

Clock& Clock::Real() {
    static SteadyClock clock;
    return clock;
}

} // namespace qorcam::os
