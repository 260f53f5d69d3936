// Clock: the monotonic time source, injectable so that timing logic is testable.
#pragma once

#include <cstdint>

namespace qorcam::os {

/// A monotonic time source: readings never go backwards and are unrelated to
/// the wall clock. Code that times things takes a Clock& so that tests can
/// hand it a ManualClock.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint64_t NowNs() const = 0;
    std::uint64_t NowUs() const { return NowNs() / 1000u; }
    std::uint64_t NowMs() const { return NowNs() / 1000000u; }

    /// The system's monotonic clock (one shared instance, safe from any thread).
    static Clock& Real();
};

/// The system's monotonic clock (CLOCK_MONOTONIC).
class SteadyClock : public Clock {
public:
    std::uint64_t NowNs() const override;
};

} // namespace qorcam::os
