// Tests of robust named mutexes, within one process and across two.
#include "TestSupport.h"

#include "os/NamedEvent.h"
#include "os/NamedMutex.h"
#include "os/SharedMemory.h"
#include "os/Thread.h"

#include <atomic>
#include <cstring>

namespace qorcam::os {
namespace {

using NamedMutexTest = test::RootFixture;

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

// The thread sanitizer keeps a mutex whose owner died as held by that owner.
#define SKIP_UNDER_THREAD_SANITIZER()                                                                        \
    if (kThreadSanitizer) GTEST_SKIP() << "the thread sanitizer does not model robust mutexes"

TEST_F(NamedMutexTest, ExcludesOtherThreadsAndNestsForTheOwner) {
    NamedMutex a("QORCAMLogMutex_Test");
    NamedMutex b("QORCAMLogMutex_Test");
    ASSERT_TRUE(a.IsValid() && b.IsValid());
    EXPECT_FALSE(a.AlreadyExisted());
    EXPECT_TRUE(b.AlreadyExisted());

    ASSERT_EQ(a.Lock(), LockResult::Acquired);
    EXPECT_EQ(a.TryLock(), LockResult::Acquired); // the owner may lock again
    std::atomic<int> other{-1};
    Thread t;
    ASSERT_TRUE(t.Start([&] {
        other = static_cast<int>(b.Lock(30));
        if (!kThreadSanitizer) {
            EXPECT_FALSE(b.Unlock()); // not the owner (a misuse the sanitizer reports)
        }
    }));
    t.Join();
    EXPECT_EQ(other.load(), static_cast<int>(LockResult::Timeout));
    EXPECT_TRUE(a.Unlock());
    EXPECT_TRUE(a.Unlock());

    Thread t2;
    ASSERT_TRUE(t2.Start([&] {
        NamedMutexLock lock(b, 1000);
        other = static_cast<int>(lock.result());
    }));
    t2.Join();
    EXPECT_EQ(other.load(), static_cast<int>(LockResult::Acquired));
}

TEST_F(NamedMutexTest, ThreadThatEndsHoldingItHandsOverOwnerDied) {
    SKIP_UNDER_THREAD_SANITIZER();
    NamedMutex mutex("Abandoned");
    Thread t;
    ASSERT_TRUE(t.Start([&] { EXPECT_EQ(mutex.Lock(), LockResult::Acquired); }));
    t.Join();
    EXPECT_EQ(mutex.Lock(1000), LockResult::OwnerDied);
    EXPECT_TRUE(mutex.Unlock());
    EXPECT_EQ(mutex.Lock(1000), LockResult::Acquired);
    EXPECT_TRUE(mutex.Unlock());
}

TEST_F(NamedMutexTest, ChildKilledWhileHoldingItDoesNotHangTheParent) {
    SKIP_UNDER_THREAD_SANITIZER();
    auto child = SpawnChild("hold-mutex", {"QORCAMProcessIdTBLMutex_Test"});
    ASSERT_TRUE(child.has_value());
    NamedEvent ready("QORCAMProcessIdTBLMutex_Test.ready", ResetMode::Manual);
    ASSERT_TRUE(ready.Wait(10000));

    NamedMutex mutex("QORCAMProcessIdTBLMutex_Test");
    SharedMemory area("QORCAMProcessIdTBLMutex_Test", 64);
    ASSERT_TRUE(mutex.IsValid() && area.IsValid());
    EXPECT_TRUE(mutex.AlreadyExisted());
    EXPECT_EQ(mutex.Lock(50), LockResult::Timeout);

    ASSERT_TRUE(child->Kill(9));
    ASSERT_TRUE(child->Wait(10000).has_value());
    // The locker learns the owner died, already owns a consistent mutex,
    // repairs what it guards, and releases it for good.
    ASSERT_EQ(mutex.Lock(5000), LockResult::OwnerDied);
    EXPECT_EQ(std::memcmp(area.Data(), "torn", 4), 0);
    std::memcpy(area.Data(), "good", 4);
    EXPECT_TRUE(mutex.Unlock());
    EXPECT_EQ(mutex.Lock(1000), LockResult::Acquired);
    EXPECT_TRUE(mutex.Unlock());
    EXPECT_EQ(std::memcmp(area.Data(), "good", 4), 0);
}

TEST_F(NamedMutexTest, InvalidMutexFailsEveryCall) {
    NamedMutex none;
    EXPECT_EQ(none.Lock(0), LockResult::Failed);
    EXPECT_FALSE(none.Unlock());
    NamedMutex bad("");
    EXPECT_FALSE(bad.IsValid());
    EXPECT_EQ(bad.Lock(), LockResult::Failed);
}

TEST_F(NamedMutexTest, ClosingWhileHeldKeepsItHeldUntilTheOwnerEnds) {
    SKIP_UNDER_THREAD_SANITIZER();
    NamedMutex other("Closed");
    Event locked(ResetMode::Manual);
    Event close(ResetMode::Manual);
    Thread t;
    ASSERT_TRUE(t.Start([&] {
        NamedMutex mine("Closed");
        EXPECT_EQ(mine.Lock(), LockResult::Acquired);
        mine.Close();
        locked.Set();
        close.Wait(kInfinite);
    }));
    ASSERT_TRUE(locked.Wait(5000));
    EXPECT_EQ(other.Lock(20), LockResult::Timeout);
    close.Set();
    t.Join();
    EXPECT_EQ(other.Lock(1000), LockResult::OwnerDied);
    EXPECT_TRUE(other.Unlock());
}

} // namespace
} // namespace qorcam::os
