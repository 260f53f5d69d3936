// Address management over a fake adapter: the start-up probe, the DHCP server for cameras, the DHCP client.
#include "CameraFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

namespace qorcam::gige::test {
namespace {

const uint32_t kOwnIp = Ip(192, 168, 7, 1);
const uint32_t kOwnMask = Ip(255, 255, 255, 0);

// One BOOTP message: fixed fields and options.
struct Bootp {
    uint8_t op = 1;
    uint32_t xid = 0x01020304;
    uint32_t ciaddr = 0, yiaddr = 0, siaddr = 0;
    MacAddress chaddr = kCameraMac;
    std::map<uint8_t, std::vector<uint8_t>> options;

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> m(240, 0);
        m[0] = op;
        m[1] = 1;
        m[2] = 6;
        Put32(m.data() + 4, xid);
        PutAddr(m.data() + 12, ciaddr);
        PutAddr(m.data() + 16, yiaddr);
        PutAddr(m.data() + 20, siaddr);
        std::memcpy(m.data() + 28, chaddr.data(), 6);
        const uint8_t magic[4] = {99, 130, 83, 99};
        std::memcpy(m.data() + 236, magic, 4);
        for (const auto& [code, value] : options) {
            m.push_back(code);
            m.push_back(static_cast<uint8_t>(value.size()));
            m.insert(m.end(), value.begin(), value.end());
        }
        m.push_back(255);
        return m;
    }
    static Bootp Parse(const std::vector<uint8_t>& m) {
        Bootp b;
        EXPECT_GE(m.size(), 241u);
        if (m.size() < 240) return b;
        b.op = m[0];
        b.xid = Get32(m.data() + 4);
        b.ciaddr = GetAddr(m.data() + 12);
        b.yiaddr = GetAddr(m.data() + 16);
        b.siaddr = GetAddr(m.data() + 20);
        std::memcpy(b.chaddr.data(), m.data() + 28, 6);
        for (size_t i = 240; i + 1 < m.size() && m[i] != 255;) {
            b.options[m[i]] = std::vector<uint8_t>(m.begin() + i + 2, m.begin() + i + 2 + m[i + 1]);
            i += 2 + m[i + 1];
        }
        return b;
    }
    uint8_t Type() const {
        auto it = options.find(53);
        return it == options.end() || it->second.empty() ? 0 : it->second[0];
    }
    uint32_t Option32(uint8_t code) const {
        auto it = options.find(code);
        return it == options.end() || it->second.size() < 4 ? 0 : GetAddr(it->second.data());
    }
};

std::vector<uint8_t> Addr4(uint32_t ip) {
    std::vector<uint8_t> v(4);
    PutAddr(v.data(), ip);
    return v;
}

std::vector<uint8_t> DhcpFrame(const Bootp& b, uint16_t srcPort, uint16_t dstPort, const MacAddress& srcMac,
                               uint32_t srcIp, uint32_t dstIp) {
    FrameSpec s;
    s.src = srcMac;
    s.dst = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    s.srcIp = srcIp;
    s.dstIp = dstIp;
    s.srcPort = srcPort;
    s.dstPort = dstPort;
    s.payload = b.Bytes();
    return BuildFrame(s);
}

std::vector<Bootp> SentDhcp(FakePort& port, std::vector<SentUdp>* udp = nullptr) {
    std::vector<Bootp> out;
    for (auto& f : port.sent) {
        if (Get16(f.data() + 12) != kEtherTypeIpv4) continue;
        SentUdp s = ParseSent(f);
        if (s.dstPort != 67 && s.dstPort != 68) continue;
        out.push_back(Bootp::Parse(s.udp));
        if (udp) udp->push_back(s);
    }
    port.sent.clear();
    return out;
}

// A driver-managed adapter at 192.168.7.1/24 whose link is up.
struct ManagedAdapter : DriverFixture {
    explicit ManagedAdapter(uint32_t dhcp, std::vector<DriverProfileRecord> extra = {})
        : DriverFixture(Params(dhcp), Profile(extra)) {
        number = Bind(port);
    }
    static GigeParameters Params(uint32_t dhcp) {
        GigeParameters p;
        p.dhcp = dhcp;
        return p;
    }
    static DriverProfile Profile(std::vector<DriverProfileRecord> extra) {
        DriverProfileRecord own{};
        std::memcpy(own.adapterMac, kAdapterMac.data(), 6);
        own.ip = kOwnIp;
        own.mask = kOwnMask;
        extra.insert(extra.begin(), own);
        return DriverProfile(extra);
    }
    void Advance(uint64_t ms) {
        for (uint64_t t = 0; t < ms; t += 5) {
            clock.AdvanceMs(std::min<uint64_t>(5, ms - t));
            driver.RunTimers();
        }
    }
    void FromCameraDhcp(const Bootp& b, const MacAddress& mac = kCameraMac) {
        driver.Receive(number, DhcpFrame(b, 68, 67, mac, 0, 0xFFFFFFFF));
    }
    uint32_t number = 0;
};

// An answer of a DHCP server to the adapter's client.
Bootp ServerAnswer(uint8_t type, uint32_t xid, uint32_t yiaddr, uint32_t server) {
    Bootp b;
    b.op = 2;
    b.xid = xid;
    b.chaddr = kAdapterMac;
    b.yiaddr = yiaddr;
    b.siaddr = server;
    b.options[53] = {type};
    return b;
}

Bootp CameraMessage(uint8_t type, const MacAddress& mac = kCameraMac) {
    Bootp b;
    b.chaddr = mac;
    b.options[53] = {type};
    return b;
}

TEST(DhcpServer, ProbesForAnotherServerThenDiscoversAndServesCameras) {
    ManagedAdapter f(1);
    f.Advance(3000);
    auto probes = SentDhcp(f.port);
    ASSERT_EQ(probes.size(), 1u) << "the start-up asks for another server";
    EXPECT_EQ(probes[0].Type(), 1);
    // While the probe runs nobody is served.
    f.FromCameraDhcp(CameraMessage(1));
    f.Advance(2995);
    EXPECT_EQ(SentDhcp(f.port).size(), 5u);
    f.Advance(10);
    // No other server answered: the driver's discovery goes out INITWAIT later.
    f.Advance(30);
    bool discovery = false;
    for (auto& frame : f.port.sent) {
        auto s = ParseSent(frame);
        discovery = discovery || (s.srcPort == 3956 && s.Code() == DISCOVERY_CMD && s.Flags() == 0x11);
    }
    EXPECT_TRUE(discovery);
    f.port.sent.clear();

    auto waiter = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(1));
    f.FromCameraDhcp(CameraMessage(1));
    std::vector<SentUdp> udp;
    auto offers = SentDhcp(f.port, &udp);
    ASSERT_EQ(offers.size(), 1u);
    const Bootp& offer = offers[0];
    EXPECT_EQ(offer.op, 2);
    EXPECT_EQ(offer.Type(), 2);
    EXPECT_EQ(offer.xid, 0x01020304u);
    EXPECT_EQ(offer.chaddr, kCameraMac);
    EXPECT_EQ(offer.siaddr, kOwnIp);
    EXPECT_EQ(offer.yiaddr & kOwnMask, kOwnIp & kOwnMask);
    EXPECT_NE(offer.yiaddr, kOwnIp);
    EXPECT_EQ(offer.Option32(54), kOwnIp);
    EXPECT_EQ(offer.Option32(51), 0xFFFFFFFFu);
    EXPECT_EQ(offer.Option32(1), Ip(255, 255, 255, 0));
    EXPECT_EQ(udp[0].dstMac, kCameraMac);
    EXPECT_EQ(udp[0].dstIp, 0xFFFFFFFFu);
    EXPECT_EQ(udp[0].srcPort, 67);
    EXPECT_EQ(udp[0].tos, 0x10);
    EXPECT_EQ(udp[0].ttl, 16);

    // A DISCOVER is a sign of a camera: the waiters wake DHCPWAIT later.
    f.Advance(295);
    EXPECT_EQ(waiter->completions, 0);
    f.Advance(10);
    EXPECT_EQ(waiter->status, STATUS_SUCCESS);

    Bootp request = CameraMessage(3);
    request.options[50] = Addr4(offer.yiaddr);
    f.FromCameraDhcp(request);
    auto acks = SentDhcp(f.port);
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_EQ(acks[0].Type(), 5);
    EXPECT_EQ(acks[0].yiaddr, offer.yiaddr);

    request.options[50] =
        Addr4(Ip(192, 168, 7, 200) == offer.yiaddr ? Ip(192, 168, 7, 201) : Ip(192, 168, 7, 200));
    f.FromCameraDhcp(request);
    auto naks = SentDhcp(f.port, &udp);
    ASSERT_EQ(naks.size(), 1u);
    EXPECT_EQ(naks[0].Type(), 6);
    auto message = naks[0].options[56];
    EXPECT_EQ(std::string(message.begin(), message.end()), "requested address not available");
    EXPECT_EQ(udp.back().dstMac, (MacAddress{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

    // The device entry is the camera's: it is listed by its address.
    auto link = f.Call(IOCTL_GIGE_GetDeviceInfo, Bytes().U32(offer.yiaddr), 20);
    EXPECT_EQ(link->status, STATUS_SUCCESS);

    // Released: the address is free and the entry matches no camera.
    f.FromCameraDhcp(CameraMessage(7));
    request.options[50] = Addr4(offer.yiaddr);
    f.FromCameraDhcp(request);
    EXPECT_EQ(SentDhcp(f.port)[0].Type(), 6);
}

TEST(DhcpServer, AnotherServerAnsweringTheProbeStopsServing) {
    ManagedAdapter f(1);
    f.Advance(3000);
    Bootp answer;
    answer.op = 2;
    answer.chaddr = kAdapterMac;
    answer.options[53] = {2};
    f.driver.Receive(f.number, DhcpFrame(answer, 67, 68, kPeerMac, Ip(192, 168, 7, 254), 0xFFFFFFFF));
    f.Advance(4000);
    f.port.sent.clear();
    f.FromCameraDhcp(CameraMessage(1));
    EXPECT_TRUE(f.port.sent.empty());
    EXPECT_EQ(f.Call(IOCTL_GIGE_Rediscover)->status, STATUS_SUCCESS);
    EXPECT_TRUE(f.port.sent.empty()) << "rediscovery leaves the network to the other server";
}

TEST(DhcpServer, ProfileFixesTheCameraAddressAndFullSubnetsAreBounded) {
    DriverProfileRecord camera{};
    std::memcpy(camera.adapterMac, kAdapterMac.data(), 6);
    std::memcpy(camera.cameraMac, kCameraMac.data(), 6);
    camera.ip = Ip(10, 0, 0, 77);
    ManagedAdapter f(1, {camera});
    f.Advance(6100);
    f.port.sent.clear();
    f.FromCameraDhcp(CameraMessage(1));
    EXPECT_EQ(SentDhcp(f.port).at(0).yiaddr, Ip(192, 168, 7, 77));

    // Many cameras in a /24: every address distinct, none the adapter's or a profile's.
    std::set<uint32_t> given{Ip(192, 168, 7, 77)};
    for (int i = 0; i < 300; ++i) {
        MacAddress mac{0x00, 0x77, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
        f.FromCameraDhcp(CameraMessage(1, mac), mac);
        auto offers = SentDhcp(f.port);
        ASSERT_EQ(offers.size(), 1u) << i;
        const uint32_t host = offers[0].yiaddr >> 24;
        EXPECT_NE(host, 0u);
        EXPECT_NE(host, 255u);
        EXPECT_NE(host, 1u);
        if (i < 240) {
            EXPECT_TRUE(given.insert(offers[0].yiaddr).second) << i;
        }
    }
}

TEST(DhcpServer, SubnetWithNoAddressLeftGivesNoneAndSaysSo) {
    DriverProfileRecord own{};
    std::memcpy(own.adapterMac, kAdapterMac.data(), 6);
    own.ip = Ip(192, 168, 7, 1);
    own.mask = Ip(255, 255, 255, 252); // .1 and .2 only
    GigeParameters p;
    p.dhcp = 1;
    DriverFixture f(p, DriverProfile({own}));
    uint32_t n = f.Bind(f.port);
    for (int i = 0; i < 1300; ++i) {
        f.clock.AdvanceMs(5);
        f.driver.RunTimers();
    }
    auto message = f.Call(IOCTL_GIGE_GetMessage, {}, 540);
    f.Call(IOCTL_GIGE_SetMessageEnable, Bytes().U32(1));
    f.port.sent.clear();
    f.driver.Receive(n, DhcpFrame(CameraMessage(1), 68, 67, kCameraMac, 0, 0xFFFFFFFF));
    const Bootp offer = SentDhcp(f.port).at(0);
    ASSERT_EQ(offer.yiaddr, Ip(192, 168, 7, 2));
    EXPECT_EQ(offer.Option32(1), own.mask) << "the offered mask is the one the address was drawn under";
    const MacAddress second{0x00, 0x66, 0, 0, 0, 1};
    f.driver.Receive(n, DhcpFrame(CameraMessage(1, second), 68, 67, second, 0, 0xFFFFFFFF));
    EXPECT_TRUE(SentDhcp(f.port).empty());
    EXPECT_EQ(std::u16string(message->Out<GigeMessageRecord>().text), u"DHCP Memory Full Error Stop");
}

TEST(DhcpClient, TakesAnAddressAnnouncesItAndKeepsAnInfiniteLease) {
    ManagedAdapter f(0);
    auto waiter = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(1));
    f.Advance(3010);
    std::vector<SentUdp> udp;
    auto discovers = SentDhcp(f.port, &udp);
    ASSERT_EQ(discovers.size(), 1u);
    EXPECT_EQ(discovers[0].Type(), 1);
    EXPECT_EQ(discovers[0].chaddr, kAdapterMac);
    EXPECT_EQ(udp[0].srcIp, 0u);
    EXPECT_EQ(udp[0].srcPort, 68);
    const uint32_t xid = discovers[0].xid;

    const uint32_t server = Ip(192, 168, 7, 254), offered = Ip(192, 168, 7, 40);
    Bootp offer = ServerAnswer(2, xid, offered, server);
    f.driver.Receive(f.number, DhcpFrame(offer, 67, 68, kPeerMac, server, 0xFFFFFFFF));
    f.Advance(10);
    auto requests = SentDhcp(f.port);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Type(), 3);
    EXPECT_EQ(requests[0].xid, xid);
    EXPECT_EQ(requests[0].Option32(50), offered);
    EXPECT_EQ(requests[0].Option32(54), server);

    Bootp ack = offer;
    ack.options[53] = {5};
    ack.options[1] = Addr4(Ip(255, 255, 0, 0));
    ack.options[51] = {0xFF, 0xFF, 0xFF, 0xFF};
    f.driver.Receive(f.number, DhcpFrame(ack, 67, 68, kPeerMac, server, 0xFFFFFFFF));
    auto nics = f.Call(IOCTL_GIGE_GetNicList, Bytes().U32(1), 802)->Out<NicInfoRecord>();
    EXPECT_EQ(+nics.ip, offered);
    EXPECT_EQ(+nics.mask, Ip(255, 255, 0, 0));

    // Three announcements a second apart, then the waiters learn the address is ready.
    int announcements = 0;
    for (int s = 0; s < 4; ++s) {
        f.Advance(1000);
        for (auto& frame : f.port.sent)
            if (Get16(frame.data() + 12) == kEtherTypeArp && GetAddr(frame.data() + 14 + 14) == offered &&
                GetAddr(frame.data() + 14 + 24) == offered)
                ++announcements;
        f.port.sent.clear();
    }
    EXPECT_EQ(announcements, 3);
    EXPECT_EQ(waiter->status, STATUS_SUCCESS);
    f.Advance(60000);
    EXPECT_TRUE(SentDhcp(f.port).empty()) << "an infinite lease is not renewed";
}

TEST(DhcpServer, OffersTheMaskOfTheWholeRange) {
    DriverProfileRecord own{};
    std::memcpy(own.adapterMac, kAdapterMac.data(), 6);
    own.ip = Ip(169, 254, 1, 1);
    own.mask = Ip(255, 255, 0, 0);
    GigeParameters p;
    p.dhcp = 1;
    DriverFixture f(p, DriverProfile({own}));
    uint32_t n = f.Bind(f.port);
    for (int i = 0; i < 1300; ++i) { // past the start-up probe
        f.clock.AdvanceMs(5);
        f.driver.RunTimers();
    }
    f.port.sent.clear();
    // Several cameras: each offer's address and the adapter share the offered subnet.
    for (uint8_t i = 1; i <= 8; ++i) {
        const MacAddress mac{0x00, 0x66, 0, 0, 0, i};
        f.driver.Receive(n, DhcpFrame(CameraMessage(1, mac), 68, 67, mac, 0, 0xFFFFFFFF));
        const Bootp offer = SentDhcp(f.port).at(0);
        const uint32_t mask = offer.Option32(1);
        EXPECT_EQ(mask, own.mask);
        EXPECT_EQ(offer.yiaddr & mask, own.ip & mask);
    }
}

TEST(DhcpClient, RequestNamesTheServerFromTheOfferOption) {
    const uint32_t named = Ip(192, 168, 7, 253), boot = Ip(192, 168, 7, 252), sender = Ip(192, 168, 7, 254);
    struct Case {
        const char* what;
        bool option54;
        uint32_t siaddr;
        uint32_t expected;
    } cases[] = {
        {"option 54 with siaddr 0, as standard servers send", true, 0, named},
        {"option 54 wins over siaddr", true, boot, named},
        {"no option 54: siaddr", false, boot, boot},
        {"neither: the sender", false, 0, sender},
    };
    for (const auto& c : cases) {
        ManagedAdapter f(0);
        f.Advance(3010);
        auto discovers = SentDhcp(f.port);
        ASSERT_EQ(discovers.size(), 1u) << c.what;
        const uint32_t offered = Ip(192, 168, 7, 40);
        Bootp offer = ServerAnswer(2, discovers[0].xid, offered, c.siaddr);
        if (c.option54) offer.options[54] = Addr4(named);
        f.driver.Receive(f.number, DhcpFrame(offer, 67, 68, kPeerMac, sender, 0xFFFFFFFF));
        f.Advance(10);
        auto requests = SentDhcp(f.port);
        ASSERT_EQ(requests.size(), 1u) << c.what;
        EXPECT_EQ(requests[0].Option32(54), c.expected) << c.what;

        // The lease is renewed with the server that was named.
        Bootp ack = offer;
        ack.options[53] = {5};
        ack.options[51] = {0, 0, 0, 30};
        f.driver.Receive(f.number, DhcpFrame(ack, 67, 68, kPeerMac, sender, 0xFFFFFFFF));
        f.Advance(20010);
        std::vector<SentUdp> udp;
        auto renewals = SentDhcp(f.port, &udp);
        ASSERT_EQ(renewals.size(), 1u) << c.what;
        EXPECT_EQ(udp[0].dstIp, c.expected) << c.what;
        EXPECT_EQ(renewals[0].ciaddr, offered) << c.what;
    }
}

TEST(DhcpClient, RenewsAtTwoThirdsAndStartsOverOnNak) {
    ManagedAdapter f(0);
    f.Advance(3010);
    const uint32_t xid = SentDhcp(f.port).at(0).xid;
    const uint32_t server = Ip(192, 168, 7, 254), offered = Ip(192, 168, 7, 40);
    Bootp offer = ServerAnswer(2, xid, offered, server);
    f.driver.Receive(f.number, DhcpFrame(offer, 67, 68, kPeerMac, server, 0xFFFFFFFF));
    f.Advance(10);
    SentDhcp(f.port);
    Bootp ack = offer;
    ack.options[53] = {5};
    ack.options[51] = {0, 0, 0, 60}; // 60 s: renewed after 40 s
    f.driver.Receive(f.number, DhcpFrame(ack, 67, 68, kPeerMac, server, 0xFFFFFFFF));
    f.Advance(39990);
    EXPECT_TRUE(SentDhcp(f.port).empty());
    f.Advance(20);
    std::vector<SentUdp> udp;
    auto renew = SentDhcp(f.port, &udp);
    ASSERT_EQ(renew.size(), 1u);
    EXPECT_EQ(renew[0].Type(), 3);
    EXPECT_EQ(renew[0].ciaddr, offered);
    EXPECT_EQ(udp[0].dstMac, kPeerMac);
    EXPECT_EQ(udp[0].dstIp, server);
    EXPECT_EQ(udp[0].srcIp, offered);

    Bootp nak = offer;
    nak.options[53] = {6};
    f.driver.Receive(f.number, DhcpFrame(nak, 67, 68, kPeerMac, server, 0xFFFFFFFF));
    f.Advance(10);
    auto again = SentDhcp(f.port, &udp);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].Type(), 1);
    EXPECT_EQ(+f.Call(IOCTL_GIGE_GetNicList, Bytes().U32(1), 802)->Out<NicInfoRecord>().ip, 0u);
}

TEST(DhcpClient, UnansweredDiscoversBackOff) {
    ManagedAdapter f(0);
    std::vector<uint64_t> times;
    const uint64_t start = f.clock.now;
    for (int step = 0; step < 100 * 200; ++step) {
        f.clock.AdvanceMs(5);
        f.driver.RunTimers();
        for (auto& b : SentDhcp(f.port))
            if (b.Type() == 1) times.push_back((f.clock.now - start) / 1000);
    }
    // 4, 8, 16, 30 s, then 8, 16, 30 s.
    const std::vector<uint64_t> gaps = {4000, 8000, 16000, 30000, 8000, 16000};
    ASSERT_GE(times.size(), gaps.size() + 1);
    for (size_t i = 0; i < gaps.size(); ++i)
        EXPECT_NEAR(static_cast<double>(times[i + 1] - times[i]), static_cast<double>(gaps[i]), 10.0) << i;
}

} // namespace
} // namespace qorcam::gige::test

namespace qorcam::gige::test {
namespace {

// A bound client starts over from a DISCOVER when someone else claims its
// address, or when another host's driver tells it to forget it.
TEST(DhcpClient, ConflictOrForceIpStartsItOver) {
    const uint32_t server = Ip(192, 168, 7, 254), offered = Ip(192, 168, 7, 40);
    std::vector<std::pair<const char*, std::function<std::vector<uint8_t>()>>> triggers = {
        {"ARP reply for our address", [&] { return ArpFrame(2, offered, offered); }},
        {"FORCEIP to our MAC",
         [&] {
             auto cmd = Gvcp(FORCEIP_CMD, 56);
             std::memcpy(cmd.data() + 8 + 2, kAdapterMac.data(), 6);
             FrameSpec s;
             s.srcPort = 3955;
             s.dstPort = 3956;
             s.payload = cmd;
             return BuildFrame(s);
         }},
    };
    for (const auto& [what, trigger] : triggers) {
        SCOPED_TRACE(what);
        ManagedAdapter f(0);
        f.Advance(3010);
        const uint32_t xid = SentDhcp(f.port).at(0).xid;
        f.driver.Receive(
            f.number, DhcpFrame(ServerAnswer(2, xid, offered, server), 67, 68, kPeerMac, server, 0xFFFFFFFF));
        f.Advance(10);
        auto ack = ServerAnswer(5, xid, offered, server);
        ack.options[51] = {0xFF, 0xFF, 0xFF, 0xFF};
        f.driver.Receive(f.number, DhcpFrame(ack, 67, 68, kPeerMac, server, 0xFFFFFFFF));
        ASSERT_EQ(+f.Call(IOCTL_GIGE_GetNicList, Bytes().U32(1), 802)->Out<NicInfoRecord>().ip, offered);
        f.port.sent.clear();
        f.driver.Receive(f.number, trigger());
        EXPECT_EQ(+f.Call(IOCTL_GIGE_GetNicList, Bytes().U32(1), 802)->Out<NicInfoRecord>().ip, 0u);
        f.Advance(15);
        auto again = SentDhcp(f.port);
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0].Type(), 1);
    }
}

} // namespace
} // namespace qorcam::gige::test
