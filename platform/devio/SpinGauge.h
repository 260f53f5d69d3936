// SpinGauge: whether a thread that waits for something due shortly polls for it before it sleeps.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

#include <sched.h>

namespace qorcam::devio {

/// Learns how long one kind of wait takes (an answer to a request, the next
/// request after an answer) and tells how long the next such wait should
/// poll before it sleeps.
///
/// A thread that sleeps must be woken: on a virtual machine that costs the
/// waker an interrupt to another processor and the sleeper a switch out and
/// back in, tens of microseconds of processor time and of delay together. A
/// thread that polls needs no wake-up but burns its processor while it
/// polls; polling is worth it only for waits shorter than about what the
/// sleep and the wake-up would have cost. So a wait polls only while that
/// kind of wait recently ended within the gauge's ceiling (then for about
/// twice as long as it took, at most its cap); a slower kind sleeps at once,
/// but every kProbeEvery-th wait still polls up to the ceiling, to notice
/// when it became fast again (a wait that is slept through takes the
/// wake-up's time on top, so its times alone would never show that). The
/// first wait of a kind is slept for: what it took decides. A wait that
/// ended while polling sets the estimate at once; one slept through moves it
/// a quarter of the way (one stall counts at most 4 caps), so a single late
/// answer stops the polling only for a few waits.
///
/// Not thread-safe: one owner (or its lock) uses it.
class SpinGauge {
public:
    using Duration = std::chrono::nanoseconds;
    static constexpr Duration kSlack = std::chrono::microseconds(5);
    static constexpr std::uint32_t kProbeEvery = 32;

    constexpr SpinGauge(Duration ceiling, Duration cap) : ceiling_(ceiling), cap_(std::max(cap, ceiling)) {}

    /// How long the next wait should poll before it sleeps (zero: sleep at once).
    Duration Budget() {
        if (typical_ < Duration::zero()) return Duration::zero();
        if (typical_ <= ceiling_) return std::min(cap_, 2 * typical_ + kSlack);
        if (++sinceProbe_ < kProbeEvery) return Duration::zero();
        sinceProbe_ = 0;
        return ceiling_;
    }

    /// How long the wait took, and whether it ended while polling.
    void Record(Duration took, bool whilePolling) {
        took = std::clamp(took, Duration::zero(), 4 * cap_);
        if (whilePolling || typical_ < Duration::zero())
            typical_ = took;
        else
            typical_ += (took - typical_) / 4;
    }

    /// The estimate (negative: nothing learnt yet).
    Duration Typical() const { return typical_; }
    Duration Cap() const { return cap_; }

private:
    Duration ceiling_;
    Duration cap_;
    Duration typical_{-1};
    std::uint32_t sinceProbe_ = 0;
};

/// The loop of a service, whose polling stands in for sleeps of its own (a
/// thread that does little else): waits of up to 50 us are polled for.
inline SpinGauge ServiceGauge() {
    return SpinGauge(std::chrono::microseconds(50), std::chrono::microseconds(100));
}

/// A client's thread that waits for its answer: it would sleep once per
/// request where the service's loop sleeps twice, so it polls only for
/// shorter waits (up to 20 us).
inline SpinGauge CallerGauge() {
    return SpinGauge(std::chrono::microseconds(20), std::chrono::microseconds(50));
}

/// Whether a thread may poll at all now. Each turn of a polling loop lets a
/// thread that is ready on the same processor run first (the peer being
/// polled for may be one); when a turn took long, something else ran there:
/// the processor is shared, and a polling thread would give it away for a
/// whole time slice at every turn instead of being woken in time. After
/// such a stall no thread of the guard polls for a while: 1 s, four times
/// as long after each further stall (up to a minute) until a turn passes
/// without one. A poll after a quiet time is the one that finds out whether
/// the processor is still shared, so the back-off grows fast: under lasting
/// load a few time slices are lost in all, not one at every request. Thread-safe (a lost update between two threads costs at most one
/// turn's worth of the back-off).
class PollGuard {
public:
    using Clock = std::chrono::steady_clock;
    /// A turn longer than this was a stall: a few system calls take a few microseconds, a peer
    /// that answers on the same processor some hundreds at most (the camera emulator takes 20-30 us
    /// of processor time per answer on a virtual machine, the switches to it and back more); a
    /// thread that computes, given the processor, holds it for its time slice, milliseconds.
    static constexpr Clock::duration kStall = std::chrono::milliseconds(1);
    static constexpr Clock::duration kQuiet = std::chrono::seconds(1);
    static constexpr Clock::duration kLongestQuiet = std::chrono::seconds(60);

    bool Allowed(Clock::time_point now) const {
        return now.time_since_epoch().count() >= quietUntil_.load(std::memory_order_relaxed);
    }

    /// One turn's pause: yields the processor. False when the turn (from
    /// turnStart) stalled; polling then stops for a while.
    bool Pause(Clock::time_point turnStart) {
        sched_yield();
        const auto now = Clock::now();
        if (now - turnStart <= kStall) {
            if (quiet_.load(std::memory_order_relaxed) != kQuiet.count())
                quiet_.store(kQuiet.count(), std::memory_order_relaxed);
            return true;
        }
        const Clock::rep quiet = quiet_.load(std::memory_order_relaxed);
        quietUntil_.store((now + Clock::duration(quiet)).time_since_epoch().count(), std::memory_order_relaxed);
        quiet_.store(std::min(4 * quiet, kLongestQuiet.count()), std::memory_order_relaxed);
        return false;
    }

private:
    std::atomic<Clock::rep> quietUntil_{0};
    std::atomic<Clock::rep> quiet_{kQuiet.count()};
};

/// The guard of a client process's waiting threads: a processor shared with
/// other work shows in any of them.
inline PollGuard& ClientPollGuard() {
    static PollGuard guard;
    return guard;
}

} // namespace qorcam::devio
