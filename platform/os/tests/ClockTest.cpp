// Tests of the clocks and the local time.
#include "os/Clock.h"
#include "os/LocalTime.h"
#include "os/ManualClock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace qorcam::os {
namespace {

TEST(ManualClock, MovesOnlyWhenToldAndNeverBackwards) {
    ManualClock clock(5000000);
    EXPECT_EQ(clock.NowMs(), 5u);
    clock.AdvanceMs(10);
    clock.AdvanceUs(500);
    EXPECT_EQ(clock.NowUs(), 15500u);
    clock.SetNs(1); // backwards: ignored
    EXPECT_EQ(clock.NowUs(), 15500u);
    clock.SetNs(20000000);
    EXPECT_EQ(clock.NowMs(), 20u);

    Clock& injected = clock;
    EXPECT_EQ(injected.NowMs(), 20u);
}

TEST(Clock, RealClockIsMonotonic) {
    Clock& clock = Clock::Real();
    std::uint64_t last = clock.NowNs();
    for (int i = 0; i < 1000; ++i) {
        const std::uint64_t now = clock.NowNs();
        ASSERT_GE(now, last);
        last = now;
    }
}

// time() reads the coarse clock, which can still show the last second while
// the precise clock has passed into the next one: bracket with the precise one.
time_t PreciseSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
}

TEST(LocalTime, AgreesWithTheSystemLocalTime) {
    const time_t before = PreciseSeconds();
    const LocalTime t = LocalTime::Now();
    const time_t after = PreciseSeconds();
    tm expect{};
    localtime_r(&before, &expect);
    EXPECT_GE(t.millisecond, 0);
    EXPECT_LE(t.millisecond, 999);
    if (before == after) { // no second boundary in between
        EXPECT_EQ(t.year, expect.tm_year + 1900);
        EXPECT_EQ(t.month, expect.tm_mon + 1);
        EXPECT_EQ(t.day, expect.tm_mday);
        EXPECT_EQ(t.hour, expect.tm_hour);
        EXPECT_EQ(t.minute, expect.tm_min);
        EXPECT_EQ(t.second, expect.tm_sec);
        EXPECT_EQ(t.dayOfWeek, expect.tm_wday);
    }
}

} // namespace
} // namespace qorcam::os
