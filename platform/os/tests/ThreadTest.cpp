// Tests of threads, their priorities and the per-thread last error.
#include "os/Thread.h"
#include "os/LastError.h"
#include "os/WaitAny.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
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

// What the thread itself sees of its scheduling.
struct Seen {
    int policy = -1;
    int nice = 99;
};

Seen LookAtMyself() {
    Seen seen;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &seen.policy, &param);
    errno = 0;
    seen.nice = getpriority(PRIO_PROCESS, static_cast<id_t>(Thread::CurrentId()));
    return seen;
}

TEST(Thread, EveryPriorityStartsAndReportsWhatItGot) {
    // Without privilege, time-critical and high levels are replaced by what
    // the process may take; the thread must still start, and the priority it
    // reports must be the one it runs at.
    struct Case {
        ThreadPriority wanted;
        int nice; // from a process at nice 0, lowering is always granted
    };
    const Case cases[] = {{ThreadPriority::Idle, 19},        {ThreadPriority::Lowest, 10},
                          {ThreadPriority::BelowNormal, 5},  {ThreadPriority::Normal, 0},
                          {ThreadPriority::AboveNormal, -5}, {ThreadPriority::Highest, -10},
                          {ThreadPriority::TimeCritical, 0}};
    errno = 0;
    const bool processAtZero = getpriority(PRIO_PROCESS, 0) == 0 && errno == 0;
    for (const Case& c : cases) {
        Thread thread;
        Seen seen;
        ASSERT_TRUE(thread.Start([&] { seen = LookAtMyself(); }, c.wanted)) << static_cast<int>(c.wanted);
        thread.Join();
        const ThreadPriority got = thread.Priority();
        EXPECT_LE(static_cast<int>(got), static_cast<int>(c.wanted));
        EXPECT_EQ(seen.policy == SCHED_FIFO, got == ThreadPriority::TimeCritical)
            << static_cast<int>(c.wanted);
        if (processAtZero && c.wanted <= ThreadPriority::Normal) {
            EXPECT_EQ(got, c.wanted);
            EXPECT_EQ(seen.nice, c.nice);
        }
        if (processAtZero && got == c.wanted && c.wanted != ThreadPriority::TimeCritical) {
            EXPECT_EQ(seen.nice, c.nice) << static_cast<int>(c.wanted);
        }
    }
}

TEST(Thread, PriorityOfARunningThreadCanBeChanged) {
    errno = 0;
    const int processNice = getpriority(PRIO_PROCESS, 0);
    if (errno == 0 && processNice > 10 && geteuid() != 0)
        GTEST_SKIP() << "runs above nice 10: can't go back to 10";
    Thread thread;
    Event look(ResetMode::Auto);
    Event seenIt(ResetMode::Auto);
    Event done(ResetMode::Manual);
    Seen seen;
    ASSERT_TRUE(thread.Start([&] {
        while (WaitAny({&done, &look}, kInfinite) == 1) {
            seen = LookAtMyself();
            seenIt.Set();
        }
    }));
    EXPECT_EQ(thread.SetPriority(ThreadPriority::Lowest), ThreadPriority::Lowest);
    look.Set();
    ASSERT_TRUE(seenIt.Wait(5000));
    EXPECT_EQ(seen.policy, SCHED_OTHER);
    EXPECT_EQ(seen.nice, 10);
    // Going back up may need privilege; the answer says what is in effect.
    const ThreadPriority now = thread.SetPriority(ThreadPriority::TimeCritical);
    EXPECT_EQ(now, thread.Priority());
    look.Set();
    ASSERT_TRUE(seenIt.Wait(5000));
    EXPECT_EQ(seen.policy == SCHED_FIFO, now == ThreadPriority::TimeCritical);
    done.Set();
    thread.Join();
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
