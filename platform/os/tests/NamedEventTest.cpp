// Tests of named events, alone, mixed with local events, and across processes.
#include "TestSupport.h"

#include "os/NamedEvent.h"
#include "os/Paths.h"
#include "os/Thread.h"
#include "os/WaitAny.h"

#include <filesystem>

namespace qorcam::os {
namespace {

using NamedEventTest = test::RootFixture;

TEST_F(NamedEventTest, ResetModeIsTheCreatorsAndInitialStateAppliesOnCreation) {
    NamedEvent creator("QORCAMLogEvent_Test", ResetMode::Manual, true);
    ASSERT_TRUE(creator.IsValid()) << creator.Error();
    EXPECT_FALSE(creator.AlreadyExisted());
    NamedEvent opener("QORCAMLogEvent_Test", ResetMode::Auto, false);
    ASSERT_TRUE(opener.IsValid());
    EXPECT_TRUE(opener.AlreadyExisted());
    EXPECT_EQ(opener.Mode(), ResetMode::Manual);
    // Manual and initially set: every wait succeeds until Reset.
    EXPECT_TRUE(opener.Wait(0));
    EXPECT_TRUE(creator.Wait(0));
    opener.Reset();
    EXPECT_FALSE(creator.Wait(0));
}

TEST_F(NamedEventTest, AutoResetSignalIsTakenOnceAcrossHandles) {
    NamedEvent a("QORCAMProcessIdTBLEvent_Test", ResetMode::Auto);
    NamedEvent b("QORCAMProcessIdTBLEvent_Test", ResetMode::Auto);
    a.Set();
    a.Set(); // does not add up
    EXPECT_TRUE(b.IsSet());
    EXPECT_TRUE(b.Wait(0));
    EXPECT_FALSE(a.Wait(0));
    EXPECT_FALSE(b.Wait(0));
}

TEST_F(NamedEventTest, WaitAnyMixesLocalAndNamedEvents) {
    Event stop(ResetMode::Manual);
    NamedEvent table("Table", ResetMode::Auto);
    NamedEvent setter("Table", ResetMode::Auto);
    Thread t;
    ASSERT_TRUE(t.Start([&] { setter.Set(); }));
    EXPECT_EQ(WaitAny({&stop, &table}, 5000), 1);
    t.Join();
    stop.Set();
    EXPECT_EQ(WaitAny({&stop, &table}, 0), 0);
}

TEST_F(NamedEventTest, SetInOneProcessWakesAWaiterInAnother) {
    // Parent waits (together with a local event), child sets.
    Event local(ResetMode::Auto);
    NamedEvent event("QORCAMProcessIdTBLUSBEvent_Test4711", ResetMode::Auto);
    ASSERT_TRUE(event.IsValid());
    auto setter = SpawnChild("set-event", {"QORCAMProcessIdTBLUSBEvent_Test4711"});
    ASSERT_TRUE(setter.has_value());
    EXPECT_EQ(WaitAny({&local, &event}, 10000), 1);
    EXPECT_EQ(test::ExitCodeOf(*setter), 0);

    // Child waits, parent sets.
    auto waiter = SpawnChild("wait-event", {"Reverse"});
    ASSERT_TRUE(waiter.has_value());
    NamedEvent ready("Reverse.ready", ResetMode::Manual);
    ASSERT_TRUE(ready.Wait(10000));
    NamedEvent reverse("Reverse", ResetMode::Auto);
    reverse.Set();
    EXPECT_EQ(test::ExitCodeOf(*waiter), 0);
}

TEST_F(NamedEventTest, LastCloseRemovesBothFiles) {
    std::string header;
    {
        NamedEvent event("Gone", ResetMode::Auto, true);
        ASSERT_TRUE(event.IsValid());
        header = Paths::SharedObjects() + "/Gone.event";
        EXPECT_TRUE(std::filesystem::exists(header));
        EXPECT_TRUE(std::filesystem::exists(header + ".fifo"));
    }
    EXPECT_FALSE(std::filesystem::exists(header));
    EXPECT_FALSE(std::filesystem::exists(header + ".fifo"));
    NamedEvent fresh("Gone", ResetMode::Auto);
    EXPECT_FALSE(fresh.AlreadyExisted());
    EXPECT_FALSE(fresh.IsSet()); // the old signal went with the old event
}

} // namespace
} // namespace qorcam::os
