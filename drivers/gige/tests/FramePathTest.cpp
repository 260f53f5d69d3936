// The frame path over a fake adapter: ARP and ICMP answers, link changes, unbinding.
#include "Fixture.h"

#include <gtest/gtest.h>

namespace qorcam::gige::test {
namespace {

const uint32_t kOwnIp = Ip(169, 254, 10, 1);
const uint32_t kPeerIp = Ip(169, 254, 10, 2);

GigeParameters ServerMode() {
    GigeParameters p;
    p.dhcp = 1;
    return p;
}

struct DrivenAdapter : DriverFixture {
    DrivenAdapter() : DriverFixture(ServerMode(), AdapterProfile(kOwnIp, Ip(255, 255, 0, 0))) {
        number = Bind(port);
    }
    uint32_t number;
};

std::vector<uint8_t> ArpRequest(uint32_t senderIp, uint32_t targetIp) {
    return ArpFrame(1, senderIp, targetIp);
}

std::vector<uint8_t> EchoRequest(size_t dataBytes, uint32_t dstIp = kOwnIp) {
    FrameSpec s;
    s.protocol = kProtoIcmp;
    s.srcIp = kPeerIp;
    s.dstIp = dstIp;
    s.payload.resize(8 + dataBytes);
    s.payload[0] = 8;
    Put16(s.payload.data() + 4, 0x1234); // identifier
    Put16(s.payload.data() + 6, 7);      // sequence
    for (size_t i = 0; i < dataBytes; ++i)
        s.payload[8 + i] = static_cast<uint8_t>(i * 7);
    auto f = BuildFrame(s);           // padded to 60 as on the wire
    Put16(f.data() + 14 + 4, 0x5555); // identification of the request
    return f;
}

TEST(FramePath, ArpRequestForOwnAddressIsAnswered) {
    DrivenAdapter f;
    f.driver.Receive(f.number, ArpRequest(kPeerIp, kOwnIp));
    ASSERT_EQ(f.port.sent.size(), 1u);
    const auto& r = f.port.sent[0];
    ASSERT_EQ(r.size(), 60u);
    EXPECT_EQ(0, std::memcmp(r.data(), kPeerMac.data(), 6));
    EXPECT_EQ(0, std::memcmp(r.data() + 6, kAdapterMac.data(), 6));
    EXPECT_EQ(Get16(r.data() + 12), kEtherTypeArp);
    EXPECT_EQ(Get16(r.data() + 14 + 6), 2);
    EXPECT_EQ(0, std::memcmp(r.data() + 14 + 8, kAdapterMac.data(), 6));
    EXPECT_EQ(GetAddr(r.data() + 14 + 14), kOwnIp);
    EXPECT_EQ(0, std::memcmp(r.data() + 14 + 18, kPeerMac.data(), 6));
    EXPECT_EQ(GetAddr(r.data() + 14 + 24), kPeerIp);

    // Requests for other addresses, and adapters the system serves, get no answer.
    f.driver.Receive(f.number, ArpRequest(kPeerIp, Ip(169, 254, 10, 9)));
    EXPECT_EQ(f.port.sent.size(), 1u);
    DriverFixture plain(ServerMode());
    uint32_t n = plain.Bind(plain.port);
    plain.driver.SystemAddressChanged(n, kOwnIp, Ip(255, 255, 0, 0));
    plain.driver.Receive(n, ArpRequest(kPeerIp, kOwnIp));
    EXPECT_TRUE(plain.port.sent.empty());
}

TEST(FramePath, EchoRequestIsAnsweredWithItsDataAndValidChecksums) {
    DrivenAdapter f;
    for (size_t data : {0u, 1u, 56u, 1472u}) {
        f.port.sent.clear();
        auto request = EchoRequest(data);
        f.driver.Receive(f.number, request);
        ASSERT_EQ(f.port.sent.size(), 1u) << data;
        const auto& r = f.port.sent[0];
        EXPECT_EQ(r.size(), std::max<size_t>(60, request.size())) << data;
        const uint8_t* ip = r.data() + 14;
        EXPECT_EQ(0, std::memcmp(r.data(), kPeerMac.data(), 6));
        EXPECT_EQ(ip[0], 0x45);
        EXPECT_EQ(Get16(ip + 2), 20 + 8 + data);
        EXPECT_EQ(Get16(ip + 4), 0);
        EXPECT_EQ(ip[8], 64);
        EXPECT_EQ(ip[9], kProtoIcmp);
        EXPECT_EQ(GetAddr(ip + 12), kOwnIp);
        EXPECT_EQ(GetAddr(ip + 16), kPeerIp);
        EXPECT_EQ(InternetChecksum(ip, 20), 0);
        const uint8_t* icmp = ip + 20;
        EXPECT_EQ(icmp[0], 0);
        EXPECT_EQ(InternetChecksum(icmp, 8 + data), 0);
        EXPECT_EQ(0, std::memcmp(icmp + 4, request.data() + 34 + 4, 4 + data)) << data;
    }
}

TEST(FramePath, EchoRequestsThatCantBeAnsweredSoundlyAreDropped) {
    DrivenAdapter f;
    f.port.mtu = 1500;
    // Larger than the adapter's MTU: no reply can carry it.
    f.driver.Receive(f.number, EchoRequest(1500 - 28 + 1));
    // Addressed to another host on the wire.
    f.driver.Receive(f.number, EchoRequest(8, Ip(169, 254, 10, 77)));
    // A fragment.
    auto frag = EchoRequest(8);
    Put16(frag.data() + 14 + 6, 0x2000);
    f.driver.Receive(f.number, frag);
    // Not an echo request.
    auto reply = EchoRequest(8);
    reply[34] = 0;
    f.driver.Receive(f.number, reply);
    EXPECT_TRUE(f.port.sent.empty());
}

TEST(FramePath, LinkLossWakesWaitersOnceAndUnbindReportsTheAdapterGone) {
    DrivenAdapter f;
    auto first = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(1));
    auto second = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(1));
    auto other = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(2));

    f.driver.LinkStateChanged(f.number, false);
    EXPECT_EQ(first->status, STATUS_SUCCESS);
    EXPECT_EQ(second->completions, 0);
    EXPECT_EQ(other->status, STATUS_SUCCESS);
    // The same state again is no change.
    f.driver.LinkStateChanged(f.number, false);
    EXPECT_EQ(second->completions, 0);

    // Link back: the adapter's figures are queried again.
    f.port.mtu = 9000;
    f.driver.LinkStateChanged(f.number, true);
    auto link = f.Call(IOCTL_GIGE_GetNicList, Bytes().U32(1), 802);
    EXPECT_EQ(link->Out<NicInfoRecord>().ip, kOwnIp);
    EXPECT_EQ(second->completions, 0);
    // The start-up looks for another DHCP server on the network first.
    EXPECT_EQ(f.port.sent.size(), 1u);
    f.port.sent.clear();

    f.driver.UnbindAdapter(f.number);
    EXPECT_EQ(second->status, STATUS_GIGE_DEVICE_LOST);
    EXPECT_EQ(f.driver.AdapterCount(), 0u);
    EXPECT_EQ(f.Call(IOCTL_GIGE_GetNicCount, {}, 4)->Out<uint32_t>(), 0u);
    // Frames for an adapter that is gone are ignored.
    f.driver.Receive(f.number, ArpRequest(kPeerIp, kOwnIp));
    EXPECT_TRUE(f.port.sent.empty());
}

TEST(FramePath, SystemServedAdapterWakesWaitersThreeSecondsAfterLinkReturns) {
    DriverFixture f;
    uint32_t n = f.Bind(f.port);
    auto w = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(1));
    f.driver.LinkStateChanged(n, false);
    EXPECT_EQ(w->status, STATUS_SUCCESS);
    auto w2 = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(1));
    f.driver.LinkStateChanged(n, true);
    f.clock.AdvanceMs(2999);
    f.driver.RunTimers();
    EXPECT_EQ(w2->completions, 0);
    f.clock.AdvanceMs(1);
    f.driver.RunTimers();
    EXPECT_EQ(w2->status, STATUS_SUCCESS);
}

TEST(FramePath, BindingNumbersAndDuplicateNames) {
    DriverFixture f;
    FakePort p1, p2, p3;
    EXPECT_EQ(f.Bind(p1, "qa"), 0u);
    EXPECT_EQ(f.Bind(p2, "qb"), 1u);
    uint32_t status = 0;
    AdapterBinding dup;
    dup.name = "qa";
    dup.port = &p3;
    EXPECT_FALSE(f.driver.BindAdapter(dup, &status));
    EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES);
    f.driver.UnbindAdapter(0);
    EXPECT_EQ(f.Bind(p3, "qc"), 0u); // the smallest free number
}

} // namespace
} // namespace qorcam::gige::test
