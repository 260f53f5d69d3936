// Tests of local events, semaphores and WaitAny.
#include "os/Event.h"
#include "os/Semaphore.h"
#include "os/WaitAny.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace qorcam::os {
namespace {

struct ResetCase {
    ResetMode mode;
    bool secondWaitSucceeds; // after one Set, does a second wait still succeed?
};

class EventReset : public ::testing::TestWithParam<ResetCase> {};

TEST_P(EventReset, SetWaitAndReset) {
    const ResetCase c = GetParam();
    Event event(c.mode);
    ASSERT_TRUE(event.IsValid());
    EXPECT_FALSE(event.Wait(0));
    // Two Sets don't add up: one signal.
    event.Set();
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_EQ(event.Wait(0), c.secondWaitSucceeds);
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
    EXPECT_FALSE(event.IsSet());
}

INSTANTIATE_TEST_SUITE_P(Modes, EventReset,
                         ::testing::Values(ResetCase{ResetMode::Auto, false},
                                           ResetCase{ResetMode::Manual, true}),
                         [](const auto& info) {
                             return info.param.mode == ResetMode::Auto ? "Auto" : "Manual";
                         });

TEST(Event, InitialStateAndTimeout) {
    Event set(ResetMode::Auto, true);
    EXPECT_TRUE(set.IsSet());
    EXPECT_TRUE(set.Wait(0));

    Event unset(ResetMode::Auto);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(unset.Wait(60));
    // The wait must not end early.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));
}

TEST(Event, SetFromAnotherThreadReleasesInfiniteWait) {
    Event event(ResetMode::Auto);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        event.Set();
    });
    EXPECT_TRUE(event.Wait(kInfinite));
    setter.join();
}

TEST(Event, AutoResetReleasesExactlyOneOfSeveralWaiters) {
    Event event(ResetMode::Auto);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (event.Wait(300)) ++released;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    event.Set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released.load(), 1);
}

TEST(Event, ManualResetReleasesEveryWaiter) {
    Event event(ResetMode::Manual);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (event.Wait(5000)) ++released;
        });
    }
    event.Set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released.load(), 4);
}

TEST(Event, MovedFromEventFailsWaits) {
    Event a(ResetMode::Auto, true);
    Event b(std::move(a));
    EXPECT_FALSE(a.IsValid());
    EXPECT_FALSE(a.Wait(0));
    EXPECT_EQ(WaitAny({&a}, 0), kWaitFailed);
    EXPECT_TRUE(b.Wait(0));
}

TEST(WaitAny, LowestSignalledIndexWinsAndOnlyItIsConsumed) {
    Event first(ResetMode::Auto);
    Event second(ResetMode::Auto);
    Event third(ResetMode::Auto);
    second.Set();
    third.Set();
    EXPECT_EQ(WaitAny({&first, &second, &third}, 0), 1);
    EXPECT_FALSE(second.IsSet());
    EXPECT_TRUE(third.IsSet());
    EXPECT_EQ(WaitAny({&first, &second, &third}, 0), 2);
    EXPECT_EQ(WaitAny({&first, &second, &third}, 20), kWaitTimeout);
}

TEST(WaitAny, WakesOnASignalFromAnotherThread) {
    Event stop(ResetMode::Manual);
    Event work(ResetMode::Auto);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        work.Set();
    });
    EXPECT_EQ(WaitAny({&stop, &work}, 5000), 1);
    setter.join();
}

TEST(WaitAny, RejectsEmptyAndNullLists) {
    Event e;
    EXPECT_EQ(WaitAny(std::span<Waitable* const>(), 0), kWaitFailed);
    EXPECT_EQ(WaitAny({&e, nullptr}, 0), kWaitFailed);
}

TEST(Semaphore, CountsUnitsAndRefusesToPassTheMaximum) {
    Semaphore sem(1, 3);
    ASSERT_TRUE(sem.IsValid());
    EXPECT_TRUE(sem.Release(2));
    EXPECT_FALSE(sem.Release(1)); // 3 + 1 > 3
    EXPECT_FALSE(sem.Release(0));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(sem.Wait(0)) << i;
    EXPECT_FALSE(sem.Wait(0));
    EXPECT_TRUE(sem.Release(3));

    Event never;
    EXPECT_EQ(WaitAny({&never, &sem}, 0), 1);
}

TEST(Semaphore, InvalidCounts) {
    EXPECT_FALSE(Semaphore(0, 0).IsValid());
    EXPECT_FALSE(Semaphore(4, 3).IsValid());
}

} // namespace
} // namespace qorcam::os
