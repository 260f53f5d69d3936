// The service's time source: performance-counter ticks, replaceable in tests.
#pragma once

#include <chrono>
#include <cstdint>

namespace qorcam::gige {

// Times inside the service are ticks of a monotonic counter of Frequency()
// ticks per second; a time in ms becomes ms * Frequency() / 1000 ticks.
class GigeClock {
public:
    virtual ~GigeClock() = default;
    virtual uint64_t Now() const = 0;
    virtual uint64_t Frequency() const = 0;

    uint64_t MsToTicks(uint64_t ms) const { return ms * Frequency() / 1000; }
};

// Monotonic nanoseconds.
class SteadyGigeClock : public GigeClock {
public:
    uint64_t Now() const override {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }
    uint64_t Frequency() const override { return 1000000000ull; }
};

} // namespace qorcam::gige
