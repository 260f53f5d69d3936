// NetlinkMonitor: listing interfaces and seeing their changes.
#include "net/NetlinkMonitor.h"
#include "NetNamespace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace qorcam::net::test {
namespace {

const AdapterInfo* Find(const std::vector<AdapterInfo>& list, const std::string& name) {
    auto it = std::find_if(list.begin(), list.end(), [&](const AdapterInfo& a) { return a.name == name; });
    return it == list.end() ? nullptr : &*it;
}

TEST(NetlinkMonitor, ListsTheLoopback) {
    NetlinkMonitor m;
    ASSERT_TRUE(m.Open(false));
    auto list = m.ListAdapters();
    ASSERT_TRUE(list);
    const AdapterInfo* lo = Find(*list, "lo");
    ASSERT_NE(lo, nullptr);
    EXPECT_FALSE(lo->IsEthernet());
    EXPECT_GT(lo->mtu, 0u);
}

TEST(NetlinkMonitor, SeesLinksAddressesAndTheirChanges) {
    NetNamespace ns;
    if (!ns.Ok()) GTEST_SKIP() << ns.Reason();
    NetlinkMonitor m;
    ASSERT_TRUE(m.Open(true));
    auto list = m.ListAdapters();
    ASSERT_TRUE(list);
    const AdapterInfo* a = Find(*list, "qa0");
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->IsEthernet());
    EXPECT_EQ(a->mtu, 1500u);
    EXPECT_TRUE(a->Connected());
    EXPECT_NE(a->mac, (std::array<uint8_t, 6>{}));
    EXPECT_TRUE(a->addresses.empty());

    ASSERT_TRUE(NetNamespace::Run("ip addr add 169.254.7.1/16 dev qa0"));
    ASSERT_TRUE(NetNamespace::Run("ip link set qa0 mtu 9000"));
    EXPECT_TRUE(m.WaitChange(2000));
    list = m.ListAdapters();
    a = Find(*list, "qa0");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->addresses.size(), 1u);
    const uint8_t expected[4] = {169, 254, 7, 1};
    EXPECT_EQ(0, std::memcmp(&a->addresses[0].address, expected, 4));
    const uint8_t mask[4] = {255, 255, 0, 0};
    EXPECT_EQ(0, std::memcmp(&a->addresses[0].mask, mask, 4));
    EXPECT_EQ(a->mtu, 9000u);

    // The peer's link going down takes the carrier away.
    ASSERT_TRUE(NetNamespace::Run("ip link set qb0 down"));
    EXPECT_TRUE(m.WaitChange(2000));
    list = m.ListAdapters();
    EXPECT_FALSE(Find(*list, "qa0")->Connected());

    ASSERT_TRUE(NetNamespace::Run("ip link del qa0"));
    EXPECT_TRUE(m.WaitChange(2000));
    list = m.ListAdapters();
    EXPECT_EQ(Find(*list, "qa0"), nullptr);
    EXPECT_EQ(Find(*list, "qb0"), nullptr);
}

} // namespace
} // namespace qorcam::net::test
