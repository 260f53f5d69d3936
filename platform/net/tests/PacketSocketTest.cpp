// PacketSocket: frames across a veth pair, own frames not echoed, vanishing interfaces.
#include "net/PacketSocket.h"
#include "NetNamespace.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <vector>

namespace qorcam::net::test {
namespace {

std::vector<uint8_t> Frame(uint8_t fill, size_t size) {
    std::vector<uint8_t> f(size, fill);
    for (int i = 0; i < 6; ++i)
        f[i] = 0xFF; // broadcast
    f[6] = 0x02;
    f[12] = 0x88; // a local experimental EtherType
    f[13] = 0xB5;
    return f;
}

// Receives until a frame with the given fill byte arrives (bounded).
std::vector<uint8_t> ReceiveFill(PacketSocket& s, uint8_t fill, int tries = 50) {
    std::vector<uint8_t> got;
    for (int i = 0; i < tries && got.empty(); ++i)
        s.Receive(
            [&](std::span<const uint8_t> f) {
                if (f.size() > 20 && f[20] == fill) got.assign(f.begin(), f.end());
            },
            20);
    return got;
}

TEST(PacketSocket, FramesCrossTheLinkWhole) {
    NetNamespace ns;
    if (!ns.Ok()) GTEST_SKIP() << ns.Reason();
    PacketSocket a, b;
    ASSERT_EQ(a.Open(static_cast<int>(if_nametoindex("qa0"))), 0);
    ASSERT_EQ(b.Open(static_cast<int>(if_nametoindex("qb0"))), 0);

    for (size_t size : {60u, 1514u}) {
        auto sent = Frame(static_cast<uint8_t>(size & 0xFF), size);
        ASSERT_TRUE(a.Send(sent));
        EXPECT_EQ(ReceiveFill(b, sent[20]), sent) << size;
    }
    // A's own frame is not received back on A.
    auto own = Frame(0x77, 60);
    ASSERT_TRUE(a.Send(own));
    EXPECT_TRUE(ReceiveFill(a, 0x77, 10).empty());

    EXPECT_TRUE(a.SetMulticastList({{0x01, 0x00, 0x5E, 0x01, 0x02, 0x03}}));
    EXPECT_TRUE(a.SetMulticastList({}));
}

TEST(PacketSocket, SurvivesItsInterfaceGoing) {
    NetNamespace ns;
    if (!ns.Ok()) GTEST_SKIP() << ns.Reason();
    PacketSocket a;
    ASSERT_EQ(a.Open(static_cast<int>(if_nametoindex("qa0"))), 0);
    ASSERT_TRUE(NetNamespace::Run("ip link del qa0"));
    // Frames the ring took in before the link went may still be handed out; once they are
    // gone nothing more arrives, nothing can be sent, and the calls return at once.
    int drained = 0;
    while (drained < 64 && a.Receive([](std::span<const uint8_t>) {}, 20) > 0)
        ++drained;
    EXPECT_LT(drained, 64);
    for (int i = 0; i < 5; ++i)
        EXPECT_LE(a.Receive([](std::span<const uint8_t>) {}, 20), 0);
    EXPECT_FALSE(a.Send(Frame(1, 60)));
}

} // namespace
} // namespace qorcam::net::test
