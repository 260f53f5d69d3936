// PacketSocket: frames across a veth pair, own frames not echoed, a trickle held while unread, vanishing
// interfaces.
#include "net/PacketSocket.h"
#include "NetNamespace.h"

#include <gtest/gtest.h>

#include <net/if.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
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

// An IPv4 frame with the given protocol, ports and fragment field; the
// payload's first byte (offset 42) tells the frames apart.
std::vector<uint8_t> Ipv4(uint8_t tag, uint8_t protocol, uint16_t srcPort, uint16_t dstPort,
                          uint16_t fragment = 0) {
    std::vector<uint8_t> f(60, 0);
    for (int i = 0; i < 6; ++i)
        f[i] = 0xFF;
    f[6] = 0x02;
    f[12] = 0x08;
    f[14] = 0x45;
    f[17] = 46; // total length
    f[20] = static_cast<uint8_t>(fragment >> 8);
    f[21] = static_cast<uint8_t>(fragment);
    f[22] = 64;
    f[23] = protocol;
    f[34] = static_cast<uint8_t>(srcPort >> 8);
    f[35] = static_cast<uint8_t>(srcPort);
    f[36] = static_cast<uint8_t>(dstPort >> 8);
    f[37] = static_cast<uint8_t>(dstPort);
    f[42] = tag;
    return f;
}

TEST(PacketSocket, StreamAndControlSocketsShareTheTrafficWithoutOverlap) {
    NetNamespace ns;
    if (!ns.Ok()) GTEST_SKIP() << ns.Reason();
    PacketSocket a, stream, control;
    ASSERT_EQ(a.Open(static_cast<int>(if_nametoindex("qa0"))), 0);
    PacketSocket::Options o;
    o.traffic = PacketSocket::Traffic::Stream;
    o.streamPortFirst = 0x8000;
    o.streamPortLast = 0xBFFF;
    ASSERT_EQ(stream.Open(static_cast<int>(if_nametoindex("qb0")), o), 0);
    o.traffic = PacketSocket::Traffic::Control;
    ASSERT_EQ(control.Open(static_cast<int>(if_nametoindex("qb0")), o), 0);

    struct Case {
        std::vector<uint8_t> frame;
        bool stream;
        const char* what;
    } cases[] = {
        {Ipv4(1, 17, 50000, 0x8000), true, "stream data to the first stream port"},
        {Ipv4(2, 17, 50000, 0xBFFF, 0x2000), true, "first fragment of stream data to the last stream port"},
        {Ipv4(3, 17, 3956, 50001), false, "control answer"},
        {Ipv4(4, 17, 50001, 3956), false, "control command"},
        {Ipv4(5, 17, 68, 67), false, "DHCP to a server"},
        {Ipv4(6, 17, 67, 68), false, "DHCP to a client"},
        {Ipv4(7, 1, 0, 0), false, "ICMP"},
        {Ipv4(8, 17, 50000, 0x8001, 0x0010), false, "later fragment"},
        {Ipv4(10, 17, 0x8001, 0x7FFF, 0), false, "UDP below the stream ports"},
        {Ipv4(11, 17, 0x8001, 0xC000, 0), false, "UDP above the stream ports"},
    };
    for (auto& c : cases)
        ASSERT_TRUE(a.Send(c.frame)) << c.what;
    auto arp = Frame(9, 60);
    arp[12] = 0x08;
    arp[13] = 0x06;
    arp[42] = 9;
    ASSERT_TRUE(a.Send(arp));

    // Everything sent arrives (bounded wait), each frame on one socket only.
    std::vector<int> onStream(12, 0), onControl(12, 0);
    auto count = [](std::vector<int>& seen) {
        return [&seen](std::span<const uint8_t> f) {
            if (f.size() > 42 && f[42] < seen.size()) ++seen[f[42]];
        };
    };
    auto arrived = [&] {
        int n = 0;
        for (int i = 1; i < 12; ++i)
            n += onStream[i] + onControl[i];
        return n;
    };
    for (int i = 0; i < 100 && arrived() < 11; ++i) {
        stream.Receive(count(onStream), 10);
        control.Receive(count(onControl), 10);
    }
    for (int i = 0; i < 3; ++i) { // a little longer: a second copy would show
        stream.Receive(count(onStream), 10);
        control.Receive(count(onControl), 10);
    }
    for (auto& c : cases) {
        const uint8_t tag = c.frame[42];
        EXPECT_EQ(onStream[tag], c.stream ? 1 : 0) << c.what;
        EXPECT_EQ(onControl[tag], c.stream ? 0 : 1) << c.what;
    }
    EXPECT_EQ(onStream[9], 0) << "ARP";
    EXPECT_EQ(onControl[9], 1) << "ARP";
}

// A reader held off (a busy machine, a stopped process) while a stream trickles: every few packets
// fill a ring block of their own, handed over when the block's retire time runs out, so the ring
// holds as many retire times of such a stream as it has blocks, however little is in them. Its
// default ring takes over a second of it unread, dropping nothing, and then hands every frame over
// once, in order.
TEST(PacketSocket, DefaultRingHoldsOverASecondOfATricklingStreamUnread) {
    NetNamespace ns;
    if (!ns.Ok()) GTEST_SKIP() << ns.Reason();
    PacketSocket::Options sender;
    sender.traffic = PacketSocket::Traffic::Control; // sends without a ring of its own
    PacketSocket a, b;
    ASSERT_EQ(a.Open(static_cast<int>(if_nametoindex("qa0")), sender), 0);
    ASSERT_EQ(b.Open(static_cast<int>(if_nametoindex("qb0"))), 0);
    b.TakeStatistics();

    // A frame a millisecond or slower (a loaded machine sleeps longer), for 1.2 s, nothing read.
    auto frame = Frame(0x5A, 200);
    uint32_t sent = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1200)) {
        std::memcpy(frame.data() + 20, &sent, sizeof sent);
        if (a.Send(frame)) ++sent;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GT(sent, 0u);

    uint32_t received = 0, blocks = 0;
    bool ordered = true;
    for (int i = 0; i < 200 && received < sent; ++i)
        b.ReceiveBatch(
            [&](std::span<const std::span<const uint8_t>> frames, uint64_t) {
                ++blocks;
                for (auto f : frames) {
                    uint32_t n = 0;
                    if (f.size() < 31 || f[30] != 0x5A) continue;
                    std::memcpy(&n, f.data() + 20, sizeof n);
                    ordered = ordered && n == received;
                    ++received;
                }
            },
            20);
    const auto statistics = b.TakeStatistics();
    EXPECT_EQ(statistics.drops, 0u) << sent << " frames sent, in " << blocks << " ring blocks";
    EXPECT_EQ(statistics.freezes, 0u);
    EXPECT_EQ(received, sent) << blocks << " ring blocks";
    EXPECT_TRUE(ordered);
}

// Bursts that fill ring blocks faster than their retire time, read while they come: the reader takes
// what a burst filled together rather than block by block, and still gets every frame once, in order,
// the end of each burst included.
TEST(PacketSocket, BurstsReadWhileTheyComeArriveWholeAndInOrder) {
    NetNamespace ns;
    if (!ns.Ok()) GTEST_SKIP() << ns.Reason();
    PacketSocket::Options sender;
    sender.traffic = PacketSocket::Traffic::Control;
    PacketSocket a, b;
    ASSERT_EQ(a.Open(static_cast<int>(if_nametoindex("qa0")), sender), 0);
    ASSERT_EQ(b.Open(static_cast<int>(if_nametoindex("qb0"))), 0);
    b.TakeStatistics();

    constexpr uint32_t kBursts = 12, kPerBurst = 300; // about 450 KiB a burst, several blocks
    std::atomic<uint32_t> sent{0};
    std::atomic<bool> done{false};
    std::thread send([&] {
        auto frame = Frame(0x5B, 1514);
        for (uint32_t burst = 0; burst < kBursts; ++burst) {
            for (uint32_t i = 0; i < kPerBurst; ++i) {
                const uint32_t n = sent.load();
                std::memcpy(frame.data() + 20, &n, sizeof n);
                if (a.Send(frame)) sent.store(n + 1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(7));
        }
        done.store(true);
    });
    uint32_t received = 0;
    bool ordered = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto take = [&](std::span<const uint8_t> f) {
        uint32_t n = 0;
        if (f.size() < 31 || f[30] != 0x5B) return;
        std::memcpy(&n, f.data() + 20, sizeof n);
        ordered = ordered && n == received;
        ++received;
    };
    while (std::chrono::steady_clock::now() < deadline) {
        b.Receive(take, 20);
        if (done.load() && received >= sent.load()) break;
    }
    send.join();
    EXPECT_GT(sent.load(), kBursts * kPerBurst / 2);
    EXPECT_EQ(received, sent.load());
    EXPECT_TRUE(ordered);
    EXPECT_EQ(b.TakeStatistics().drops, 0u);
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
