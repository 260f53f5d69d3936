// The share each user has of a device: connections, requests and their bytes.
#include "devio/Connection.h"

#include <gtest/gtest.h>

namespace qorcam::devio::detail {
namespace {

TEST(UserLimits, OneUserCannotTakeTheConnectionsOfOthersOrOfRoot) {
    UserLimits limits;
    std::size_t taken = 0;
    while (limits.AddConnection(1000))
        ++taken;
    EXPECT_EQ(taken, UserLimits::kMaxConnectionsPerUser);
    EXPECT_TRUE(limits.AddConnection(1001)) << "another user still gets in";
    EXPECT_TRUE(limits.AddConnection(0));
    limits.RemoveConnection(1000);
    EXPECT_TRUE(limits.AddConnection(1000)) << "a closed connection gives its slot back";

    // Many users together leave the last slots of the device to root.
    UserLimits crowd;
    std::size_t users = 0;
    for (std::uint32_t user = 2000; user < 2000 + UserLimits::kMaxConnections; ++user)
        users += crowd.AddConnection(user) ? 1 : 0;
    EXPECT_EQ(users, UserLimits::kMaxConnections - UserLimits::kRootReservedConnections);
    std::size_t root = 0;
    while (root < 2 * UserLimits::kRootReservedConnections && crowd.AddConnection(0))
        ++root;
    EXPECT_EQ(root, UserLimits::kRootReservedConnections);
}

TEST(UserLimits, RequestsAndTheirBytesAreChargedPerUser) {
    UserLimits limits;
    const std::size_t mib = 1u << 20;
    std::size_t held = 0;
    while (limits.Charge(1000, mib, mib))
        ++held;
    EXPECT_EQ(held * mib, UserLimits::kMaxInputBytesPerUser);
    EXPECT_TRUE(limits.Charge(1001, mib, mib)) << "another user's share is its own";
    EXPECT_TRUE(limits.Charge(1000, 0, 64)) << "a request without input still fits";
    limits.Release(1000, mib, mib);
    EXPECT_TRUE(limits.Charge(1000, mib, mib));

    // Room for outputs and the number of requests are limited too; root only by the device.
    EXPECT_FALSE(limits.Charge(1002, 0, UserLimits::kMaxBytesPerUser + 1));
    std::size_t requests = 0;
    while (requests <= UserLimits::kMaxRequestsPerUser && limits.Charge(1003, 0, 0))
        ++requests;
    EXPECT_EQ(requests, UserLimits::kMaxRequestsPerUser);
    EXPECT_TRUE(limits.Charge(0, 64 * mib, 2 * UserLimits::kMaxBytesPerUser));
}

TEST(UserLimits, UnsentAnswersStayChargedToTheUserUntilSent) {
    UserLimits limits;
    const std::size_t mib = 1u << 20;
    ASSERT_TRUE(limits.Charge(1000, 0, mib));
    limits.Release(1000, 0, mib); // completed: its answer is queued instead
    limits.Queue(1000, UserLimits::kMaxQueuedBytesPerUser + 1);
    EXPECT_EQ(limits.Held(1000), UserLimits::kMaxQueuedBytesPerUser + 1);
    EXPECT_FALSE(limits.Charge(1000, 0, 0)) << "a user whose answers pile up unread gets no new request";
    EXPECT_TRUE(limits.Charge(1001, 0, mib));
    limits.Queue(0, 4 * UserLimits::kMaxQueuedBytesPerUser);
    EXPECT_TRUE(limits.Charge(0, 0, mib)) << "root only by the device";
    limits.Unqueue(1000, UserLimits::kMaxQueuedBytesPerUser + 1);
    EXPECT_EQ(limits.Held(1000), 0u);
    EXPECT_TRUE(limits.Charge(1000, 0, mib));
}

} // namespace
} // namespace qorcam::devio::detail
