// ManualClock: a clock that moves only when a test moves it.
#pragma once

#include "os/Clock.h"

#include <atomic>
#include <cstdint>

namespace qorcam::os {

/// A Clock for tests: it starts at the given time and changes only through
/// Advance and Set. Safe to read and move from different threads. Set never
/// moves it backwards (a smaller value is ignored), so it stays monotonic.
class ManualClock : public Clock {
public:
    explicit ManualClock(std::uint64_t startNs = 0) : now_(startNs) {}
    std::uint64_t NowNs() const override { return now_.load(); }

    void AdvanceNs(std::uint64_t ns) { now_.fetch_add(ns); }
    void AdvanceUs(std::uint64_t us) { AdvanceNs(us * 1000u); }
    void AdvanceMs(std::uint64_t ms) { AdvanceNs(ms * 1000000u); }
    void SetNs(std::uint64_t ns);

private:
    std::atomic<std::uint64_t> now_;
};

} // namespace qorcam::os
