// Received-frame checks, the classifier and the checksums of built frames.
#include "Fixture.h"
#include "ReceivedFrame.h"

#include <gtest/gtest.h>

namespace qorcam::gige::test {
namespace {

bool Listed(const void*, uint16_t port) {
    return port == 0x8001;
}

ClassifyContext Context(bool windowsManaged, bool serverMode) {
    ClassifyContext c;
    c.windowsManaged = windowsManaged;
    c.dhcpServerMode = serverMode;
    c.adapterMac = kAdapterMac.data();
    c.portListed = &Listed;
    return c;
}

TEST(ReceivedFrame, MalformedHeadersAreDroppedWithoutReadingPastTheFrame) {
    struct Case {
        const char* what;
        FrameSpec spec;
        size_t cutTo; // 0: keep
    };
    FrameSpec base;
    base.payload = Gvcp(0x0081, 4);
    auto with = [&](auto change) {
        FrameSpec s = base;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"ihl below 5", with([](FrameSpec& s) { s.ihl = 4; }), 0},
        {"ihl runs past the frame", with([](FrameSpec& s) {
             s.ihl = 15;
             s.payload.clear();
         }),
         78},
        {"ip total beyond the frame", with([](FrameSpec& s) { s.ipTotalDelta = 100; }), 0},
        {"ip total below header + 8", with([](FrameSpec& s) { s.ipTotalDelta = -(8 + 12 + 1); }), 0},
        {"udp length below 8", with([](FrameSpec& s) { s.udpLengthDelta = -(12 + 8 - 7); }), 0},
        {"udp length beyond ip payload", with([](FrameSpec& s) { s.udpLengthDelta = 1; }), 0},
        {"59 bytes", with([](FrameSpec& s) { s.payload.clear(); }), 59},
    };
    for (const auto& c : cases) {
        auto bytes = BuildFrame(c.spec);
        if (c.cutTo) bytes.resize(c.cutTo);
        // An exact-size copy lets the sanitizer catch any read past the end.
        std::vector<uint8_t> exact(bytes);
        ReceivedFrame f(exact);
        EXPECT_EQ(ClassifyFrame(f, Context(false, false)), FrameClass::Dropped) << c.what;
    }
}

TEST(ReceivedFrame, ClassifierRules) {
    struct Case {
        const char* what;
        FrameSpec spec;
        bool windowsManaged;
        bool serverMode;
        FrameClass expected;
    };
    auto udp = [](uint16_t src, uint16_t dst, std::vector<uint8_t> payload) {
        FrameSpec s;
        s.srcPort = src;
        s.dstPort = dst;
        s.payload = std::move(payload);
        return s;
    };
    FrameSpec arp;
    arp.etherType = kEtherTypeArp;
    FrameSpec ipv6;
    ipv6.etherType = 0x86DD;
    FrameSpec icmp;
    icmp.protocol = kProtoIcmp;
    icmp.payload = {8, 0, 0, 0, 0, 1, 0, 1};
    FrameSpec tcp;
    tcp.protocol = 6;
    tcp.payload.resize(20);
    std::vector<uint8_t> forceIp = Gvcp(0x0004, 56);
    std::memcpy(forceIp.data() + 8 + 2, kAdapterMac.data(), 6);

    const Case cases[] = {
        {"arp", arp, true, false, FrameClass::Arp},
        {"ipv6", ipv6, false, false, FrameClass::Dropped},
        {"icmp driver-managed", icmp, false, false, FrameClass::IcmpEcho},
        {"icmp system-managed", icmp, true, false, FrameClass::Dropped},
        {"tcp", tcp, false, false, FrameClass::Dropped},
        {"gvsp to listed port", udp(20000, 0x8001, Gvcp(0)), true, false, FrameClass::Gvsp},
        {"stream port not listed", udp(20000, 0x8002, Gvcp(0)), true, false, FrameClass::Dropped},
        {"action ack", udp(3956, 3953, Gvcp(0x0101)), true, false, FrameClass::ActionAck},
        {"tool answer", udp(3956, 3954, Gvcp(0x0003)), true, false, FrameClass::ToolAnswer},
        {"3956 to 3956 system-managed", udp(3956, 3956, Gvcp(0x0002)), true, true, FrameClass::Dropped},
        {"discovery ack, server mode", udp(3956, 3956, Gvcp(0x0003)), false, true, FrameClass::ForceIpReset},
        {"discovery cmd, server mode", udp(3956, 3956, Gvcp(0x0002)), false, true, FrameClass::OtherServer},
        {"discovery cmd, client mode", udp(3956, 3956, Gvcp(0x0002)), false, false,
         FrameClass::DriverDiscovery},
        {"discovery ack, client mode", udp(3956, 3956, Gvcp(0x0003)), false, false, FrameClass::Dropped},
        {"device list answer", udp(3956, 3957, Gvcp(0x0003)), true, false, FrameClass::DeviceListUpdate},
        {"command ack", udp(3956, 0xC001, Gvcp(0x0081, 4)), true, false, FrameClass::CommandAck},
        {"gvcp without header", udp(3956, 0xC001, {0x00, 0x00, 0x00}), true, false, FrameClass::Dropped},
        {"forceip to us, client mode", udp(3955, 3956, forceIp), false, false, FrameClass::DhcpClientRestart},
        {"forceip to us, server mode", udp(3955, 3956, forceIp), false, true, FrameClass::Dropped},
        {"3955 system-managed", udp(3955, 3956, forceIp), true, false, FrameClass::Dropped},
        {"event", udp(4000, 0xE001, Gvcp(0x00C0)), true, false, FrameClass::CameraEvent},
        {"event data", udp(4000, 0xE001, Gvcp(0x00C2)), true, false, FrameClass::CameraEvent},
        {"other udp", udp(4000, 5000, Gvcp(0x0080)), true, false, FrameClass::Dropped},
        {"dhcp to server", udp(68, 67, std::vector<uint8_t>(240)), false, true, FrameClass::DhcpServer},
        {"dhcp to client", udp(67, 68, std::vector<uint8_t>(240)), false, false, FrameClass::DhcpClient},
        {"dhcp system-managed", udp(68, 67, std::vector<uint8_t>(240)), true, true, FrameClass::Dropped},
    };
    for (const auto& c : cases) {
        auto bytes = BuildFrame(c.spec);
        ReceivedFrame f(bytes);
        EXPECT_EQ(ClassifyFrame(f, Context(c.windowsManaged, c.serverMode)), c.expected) << c.what;
    }
}

TEST(WireFormat, FinishedFramesCarryValidChecksumsAndPadding) {
    FrameSpec s;
    s.payload = {1, 2, 3}; // odd length
    s.padTo = 0;
    auto frame = BuildFrame(s);
    frame.resize(kFrameBufferSize, 0xAB);
    Put16(frame.data() + 14 + 2, 0); // total length is recomputed
    size_t length = FinishIpv4Frame(frame);
    ASSERT_EQ(length, 60u);
    EXPECT_EQ(Get16(frame.data() + 16), 20 + 8 + 3);
    EXPECT_EQ(InternetChecksum(frame.data() + 14, 20), 0);
    // The UDP checksum verifies over the pseudo header.
    uint32_t sum = ChecksumAdd(0, frame.data() + 14 + 12, 8);
    sum += kProtoUdp + 11;
    EXPECT_EQ(static_cast<uint16_t>(~ChecksumFold(ChecksumAdd(sum, frame.data() + 34, 11))), 0);
    for (size_t i = 14 + 31; i < 60; ++i)
        EXPECT_EQ(frame[i], 0) << i;

    // A UDP length that runs past the buffer is refused, not sent.
    std::vector<uint8_t> small(BuildFrame(s));
    Put16(small.data() + 34 + 4, 2000);
    EXPECT_EQ(FinishIpv4Frame(small), 0u);

    // Known vector: 4500 0073 0000 4000 4011 .... c0a8 0001 c0a8 00c7 -> b861
    const uint8_t header[20] = {0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                                0x00, 0x00, 0xc0, 0xa8, 0x00, 0x01, 0xc0, 0xa8, 0x00, 0xc7};
    EXPECT_EQ(InternetChecksum(header, 20), 0xb861);
}

} // namespace
} // namespace qorcam::gige::test
