// ProcessEventListTest: one named event per listed process, kept across reconciles and closed when the
// process leaves.
#include "ProcessEventList.h"
#include "TempRoot.h"

#include "QorCamShared.h"
#include "os/NamedEvent.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

using qorcam::monitor::CProcessEventList;

namespace {

qorcam::os::NamedEvent UsbEvent(std::uint32_t pid) {
    return qorcam::os::NamedEvent(std::string(qorcam::shared::kUsbEventPrefix) + std::to_string(pid),
                                  qorcam::os::ResetMode::Auto);
}

TEST(ProcessEventList, FollowsTheTableAndSetsEveryListedProcess) {
    qorcam::testing::TempRoot root;
    CProcessEventList list;
    const std::uint32_t first[] = {101, 202};
    list.Reconcile(first, 2);
    EXPECT_EQ(list.ProcessIds(), (std::vector<std::uint32_t>{101, 202}));

    auto e101 = UsbEvent(101);
    auto e202 = UsbEvent(202);
    auto e303 = UsbEvent(303);
    ASSERT_TRUE(e101.AlreadyExisted()) << "the monitor made the event under the process's name";
    list.SetAll();
    EXPECT_TRUE(e101.Wait(0));
    EXPECT_TRUE(e202.Wait(0));

    const std::uint32_t second[] = {303, 202};
    list.Reconcile(second, 2);
    EXPECT_EQ(list.ProcessIds(), (std::vector<std::uint32_t>{303, 202}))
        << "table order; 202 keeps its record";
    list.SetAll();
    EXPECT_FALSE(e101.Wait(0)) << "a process that left is no longer signalled";
    EXPECT_TRUE(e202.Wait(0));
    EXPECT_TRUE(e303.Wait(0));

    list.Reconcile(second, 0);
    EXPECT_TRUE(list.ProcessIds().empty());
}

TEST(ProcessEventList, ReadsAtMost256Entries) {
    qorcam::testing::TempRoot root;
    std::vector<std::uint32_t> ids(300);
    std::iota(ids.begin(), ids.end(), 1000u);
    CProcessEventList list;
    list.Reconcile(ids.data(), 300);
    EXPECT_EQ(list.ProcessIds().size(), 256u);
}

} // namespace
