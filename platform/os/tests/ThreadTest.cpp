// Tests of threads, their priorities and the per-thread last error.
#include "os/LastError.h"
#include "os/Thread.h"
#include "os/WaitAny.h"

#include <gtest/gtest.h>

#include <atomic>
#include <unistd.h>

namespace qorcam::os {
namespace {

TEST(Thread, RunsOnceOnItsOwnThreadAndSignalsItsEnd) {
    Thread thread("os-test");
    Event go(ResetMode::Manual);
    std::atomic<int> runs{0};
    std::atomic<std::uint32_t> seenId{0};
    ASSERT_TRUE(thread.Start([&] {
        go.Wait(kInfinite);
        seenId = Thread::CurrentId();
        ++runs;
    }));
    EXPECT_FALSE(thread.Start([] {})); // one function per Thread
    EXPECT_NE(thread.Id(), 0u);
    EXPECT_NE(thread.Id(), Thread::CurrentId());
    EXPECT_FALSE(thread.Wait(10));

    Event other;
    go.Set();
    EXPECT_EQ(WaitAny({&other, &thread.FinishedEvent()}, 5000), 1);
    thread.Join();
    thread.Join();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(seenId.load(), thread.Id());
    EXPECT_TRUE(thread.IsFinished());
}

TEST(Thread, EveryPriorityStartsWhateverThePermissions) {
    // Without privilege, time-critical and high levels are substituted; the
    // thread must still start and run.
    const ThreadPriority all[] = {ThreadPriority::Idle,        ThreadPriority::Lowest,  ThreadPriority::BelowNormal,
                                  ThreadPriority::Normal,      ThreadPriority::AboveNormal, ThreadPriority::Highest,
                                  ThreadPriority::TimeCritical};
    for (ThreadPriority p : all) {
        Thread thread;
        std::atomic<bool> ran{false};
        ASSERT_TRUE(thread.Start([&] { ran = true; }, p)) << static_cast<int>(p);
        thread.Join();
        EXPECT_TRUE(ran.load()) << static_cast<int>(p);
        if (geteuid() == 0) {
            EXPECT_EQ(thread.Priority(), p) << static_cast<int>(p);
        }
    }
}

TEST(Thread, LoweringPriorityIsAlwaysGranted) {
    Thread thread;
    Event done(ResetMode::Manual);
    ASSERT_TRUE(thread.Start([&] { done.Wait(kInfinite); }));
    EXPECT_EQ(thread.SetPriority(ThreadPriority::Lowest), ThreadPriority::Lowest);
    // Going back up may need privilege; the answer says what is in effect.
    const ThreadPriority now = thread.SetPriority(ThreadPriority::TimeCritical);
    EXPECT_EQ(now, thread.Priority());
    if (geteuid() == 0) {
        EXPECT_EQ(now, ThreadPriority::TimeCritical);
    }
    done.Set();
}

TEST(LastError, IsPerThread) {
    LastError::Set(7);
    std::atomic<std::uint32_t> inThread{99};
    Thread thread;
    ASSERT_TRUE(thread.Start([&] {
        inThread = LastError::Get();
        LastError::Set(3);
    }));
    thread.Join();
    EXPECT_EQ(inThread.load(), 0u);
    EXPECT_EQ(LastError::Get(), 7u);
    LastError::Set(0);
}

} // namespace
} // namespace qorcam::os
