// A scripted camera on the fake adapter: reads the commands the service sends and answers them.
#pragma once

#include "Fixture.h"
#include "Gvcp.h"

#include <gtest/gtest.h>

namespace qorcam::gige::test {

inline const uint32_t kHostIp = Ip(169, 254, 10, 1);
inline const uint32_t kCameraIp = Ip(169, 254, 10, 2);
inline const uint32_t kHostMask = Ip(255, 255, 0, 0);
inline const MacAddress kCameraMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
inline constexpr uint32_t kOwner = 4242;
inline constexpr uint16_t kCommandPort = 0xC001;

// One UDP frame the service sent, with its headers checked as a receiver would.
struct SentUdp {
    MacAddress dstMac{};
    uint32_t srcIp = 0, dstIp = 0;
    uint16_t srcPort = 0, dstPort = 0;
    uint8_t tos = 0, ttl = 0;
    uint16_t ipId = 0;
    std::vector<uint8_t> udp; // the UDP payload
    // GVCP view of the payload.
    uint8_t Flags() const { return udp.size() > 1 ? udp[1] : 0; }
    uint16_t Code() const { return udp.size() >= 4 ? Get16(udp.data() + 2) : 0; }
    uint16_t Length() const { return udp.size() >= 6 ? Get16(udp.data() + 4) : 0; }
    uint16_t Id() const { return udp.size() >= 8 ? Get16(udp.data() + 6) : 0; }
    const uint8_t* Body() const { return udp.data() + 8; }
};

inline SentUdp ParseSent(const std::vector<uint8_t>& f) {
    SentUdp s;
    EXPECT_GE(f.size(), 60u);
    if (f.size() < 42) return s;
    std::memcpy(s.dstMac.data(), f.data(), 6);
    EXPECT_EQ(Get16(f.data() + 12), kEtherTypeIpv4);
    const uint8_t* ip = f.data() + 14;
    EXPECT_EQ(ip[0], 0x45);
    EXPECT_EQ(InternetChecksum(ip, 20), 0) << "IP header checksum";
    const size_t total = Get16(ip + 2);
    EXPECT_LE(14 + total, f.size());
    s.tos = ip[1];
    s.ipId = Get16(ip + 4);
    s.ttl = ip[8];
    s.srcIp = GetAddr(ip + 12);
    s.dstIp = GetAddr(ip + 16);
    const uint8_t* u = ip + 20;
    s.srcPort = Get16(u);
    s.dstPort = Get16(u + 2);
    const size_t udpLength = Get16(u + 4);
    EXPECT_EQ(udpLength + 20, total);
    if (udpLength < 8 || 34 + udpLength > f.size()) return s;
    // UDP checksum over the pseudo header.
    uint32_t sum = ChecksumAdd(0, ip + 12, 8) + kProtoUdp + static_cast<uint32_t>(udpLength);
    EXPECT_EQ(static_cast<uint16_t>(~ChecksumFold(ChecksumAdd(sum, u, udpLength))), 0) << "UDP checksum";
    s.udp.assign(u + 8, u + udpLength);
    return s;
}

// Builds a frame from the camera to the host.
inline std::vector<uint8_t> FromCamera(uint16_t srcPort, uint16_t dstPort, const std::vector<uint8_t>& udp,
                                       const MacAddress& mac = kCameraMac, uint32_t srcIp = kCameraIp) {
    FrameSpec s;
    s.src = mac;
    s.srcIp = srcIp;
    s.dstIp = kHostIp;
    s.srcPort = srcPort;
    s.dstPort = dstPort;
    s.payload = udp;
    return BuildFrame(s);
}

// A GVCP acknowledge: status, answer, length, id, payload.
inline std::vector<uint8_t> AckPacket(uint16_t status, uint16_t answer, uint16_t id,
                                      const std::vector<uint8_t>& payload, int lengthDelta = 0) {
    std::vector<uint8_t> g(8 + payload.size());
    Put16(g.data(), status);
    Put16(g.data() + 2, answer);
    Put16(g.data() + 4, static_cast<uint16_t>(payload.size() + lengthDelta));
    Put16(g.data() + 6, id);
    std::copy(payload.begin(), payload.end(), g.begin() + 8);
    return g;
}

inline std::vector<uint8_t> BigEndian32(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> v(words.size() * 4);
    size_t i = 0;
    for (uint32_t w : words)
        Put32(v.data() + 4 * i++, w);
    return v;
}

// The 248-byte payload of a DISCOVERY_ACK.
inline std::vector<uint8_t> DiscoveryPayload(uint32_t ip, const MacAddress& mac = kCameraMac,
                                             const char* model = "QC-1") {
    std::vector<uint8_t> p(kDiscoveryAckLength, 0);
    Put16(p.data(), 2);              // version major
    Put16(p.data() + 2, 1);          // version minor
    Put32(p.data() + 4, 0x80000001); // device mode
    std::memcpy(p.data() + 10, mac.data(), 6);
    Put32(p.data() + 16, 0x80000007);
    Put32(p.data() + 20, 0x00000005);
    PutAddr(p.data() + 36, ip);
    PutAddr(p.data() + 52, kHostMask);
    std::memcpy(p.data() + 72, "Qor", 3);
    std::memcpy(p.data() + 104, model, std::strlen(model));
    std::memcpy(p.data() + 216, "SN42", 4);
    std::memcpy(p.data() + 232, "left", 4);
    return p;
}

// One adapter served beside the system's stack at 169.254.10.1/16, and helpers
// that play the camera at 169.254.10.2.
struct CameraFixture : DriverFixture {
    explicit CameraFixture(GigeParameters params = {}) : DriverFixture(params) {
        number = Bind(port);
        driver.SystemAddressChanged(number, kHostIp, kHostMask);
    }

    // Frames sent since the last call, as UDP.
    std::vector<SentUdp> TakeSent() {
        std::vector<SentUdp> out;
        for (auto& f : port.sent)
            if (f.size() >= 14 && Get16(f.data() + 12) == kEtherTypeIpv4) out.push_back(ParseSent(f));
        port.sent.clear();
        return out;
    }

    // Runs a device-list round in which the given cameras answer.
    std::shared_ptr<FakeRequest> ListRound(const std::vector<std::vector<uint8_t>>& acks,
                                           size_t out = 12124) {
        auto r = Call(IOCTL_GIGE_GetDeviceList, Bytes().U32(60), out);
        auto sent = TakeSent();
        uint16_t id = sent.empty() ? 0 : sent.back().Id();
        for (const auto& ack : acks)
            driver.Receive(number, FromCamera(3956, kGvcpListPort, AckPacket(0, DISCOVERY_ACK, id, ack)));
        Advance(params().listWait);
        return r;
    }
    const GigeParameters& params() const { return driver.Parameters(); }

    void AddCamera() {
        auto r = ListRound({DiscoveryPayload(kCameraIp)});
        ASSERT_EQ(r->status, STATUS_SUCCESS);
        ASSERT_EQ(r->Out<uint32_t>(), 1u);
    }
    void OpenCamera() {
        AddCamera();
        ASSERT_EQ(Call(IOCTL_GIGE_DeviceOpen, Bytes().U32(kOwner).U32(kCameraIp))->status, STATUS_SUCCESS);
        TakeSent();
    }

    // Advances time in 5 ms steps, running the timers as the service's timer thread does.
    void Advance(uint64_t ms) {
        for (uint64_t t = 0; t < ms; t += 5) {
            clock.AdvanceMs(std::min<uint64_t>(5, ms - t));
            driver.RunTimers();
        }
    }

    void Answer(uint16_t status, uint16_t answer, uint16_t id, const std::vector<uint8_t>& payload,
                uint16_t dstPort = kCommandPort, int lengthDelta = 0) {
        driver.Receive(number,
                       FromCamera(3956, dstPort, AckPacket(status, answer, id, payload, lengthDelta)));
    }

    uint32_t number = 0;
};

// A command request block (GigeRequestBlock, command form).
inline std::vector<uint8_t> CommandBlock(uint16_t command, uint32_t pid = kOwner,
                                         uint16_t hostPort = kCommandPort) {
    Bytes b;
    b.U32(pid).U32(kCameraIp).U16(command).U16(hostPort);
    if (command == 1) b.U16(1).U32(0x0A00); // one register unless the test says otherwise
    return b.Resize(802);
}

} // namespace qorcam::gige::test
