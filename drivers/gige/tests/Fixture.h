// Frame-level fixture: a fake adapter port, a manual clock and plain requests.
#pragma once

#include "GigeDriver.h"
#include "GigeIoctl.h"
#include "WireFormat.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace qorcam::gige::test {

class ManualGigeClock : public GigeClock {
public:
    uint64_t Now() const override { return now; }
    uint64_t Frequency() const override { return 1000000; } // microseconds
    void AdvanceMs(uint64_t ms) { now += ms * 1000; }
    uint64_t now = 1000000;
};

class FakePort : public FramePort {
public:
    bool SendFrame(std::span<const uint8_t> frame) override {
        sent.emplace_back(frame.begin(), frame.end());
        return true;
    }
    bool SetMulticastList(const std::vector<std::array<uint8_t, 6>>& macs) override {
        multicast = macs;
        ++multicastSets;
        return multicastOk;
    }
    bool QueryLink(uint32_t& maxFrameSize, uint32_t& linkSpeed) override {
        maxFrameSize = mtu;
        linkSpeed = 10000 * 10000;
        return true;
    }
    bool StreamBacklog() const override { return backlog; }
    bool TimesOutBlocks() const override { return timesOutBlocks; }
    std::vector<std::vector<uint8_t>> sent;
    bool backlog = false; // received stream frames wait to be handed over
    bool timesOutBlocks = false; // the receive path times its blocks out (CheckStreamTimeouts)
    std::vector<std::array<uint8_t, 6>> multicast;
    int multicastSets = 0;
    bool multicastOk = true;
    uint32_t mtu = 1500;
};

class FakeRequest : public GigeRequest {
public:
    FakeRequest(uint32_t code, std::vector<uint8_t> in, size_t outLength)
        : code_(code), in_(std::move(in)), out_(outLength, 0xEE) {}
    uint32_t Code() const override { return code_; }
    std::span<const uint8_t> Input() const override { return in_; }
    size_t OutputLength() const override { return out_.size(); }
    std::span<uint8_t> MapOutput() override {
        if (!mappable) return {};
        return std::span<uint8_t>(out_).first(std::min(out_.size(), mappedLimit));
    }
    bool Cancelled() const override { return cancelled; }
    const GigeCaller* Caller() const override { return caller ? &*caller : nullptr; }
    void Complete(uint32_t s, uint32_t b, size_t w) override {
        ++completions;
        status = s;
        bytes = b;
        written = w;
    }
    template <class T> T Out(size_t offset = 0) const {
        T v;
        std::memcpy(&v, out_.data() + offset, sizeof v);
        return v;
    }
    const std::vector<uint8_t>& Output() const { return out_; }
    std::vector<uint8_t>& MutableOutput() { return out_; }

    bool cancelled = false;
    std::optional<GigeCaller> caller; // empty: a request of the service itself
    bool mappable = true;
    size_t mappedLimit = SIZE_MAX; // a mapping that covers less than the request said
    int completions = 0;
    uint32_t status = 0xFFFFFFFF;
    uint32_t bytes = 0;
    size_t written = 0;

private:
    uint32_t code_;
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
};

// Little-endian input builder.
class Bytes {
public:
    Bytes& U32(uint32_t v) { return Raw(&v, 4); }
    Bytes& U16(uint16_t v) { return Raw(&v, 2); }
    Bytes& U8(uint8_t v) { return Raw(&v, 1); }
    Bytes& Zeros(size_t n) {
        data.resize(data.size() + n, 0);
        return *this;
    }
    Bytes& Raw(const void* p, size_t n) {
        auto b = static_cast<const uint8_t*>(p);
        data.insert(data.end(), b, b + n);
        return *this;
    }
    Bytes& Resize(size_t n) {
        data.resize(n, 0);
        return *this;
    }
    operator std::vector<uint8_t>() const { return data; }
    std::vector<uint8_t> data;
};

inline uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    uint8_t bytes[4] = {a, b, c, d};
    uint32_t v;
    std::memcpy(&v, bytes, 4);
    return v;
}

inline const MacAddress kAdapterMac{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
inline const MacAddress kPeerMac{0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};

// A driver with one adapter bound over a fake port.
struct DriverFixture {
    explicit DriverFixture(GigeParameters params = {}, DriverProfile profile = {})
        : driver(params, std::move(profile), clock) {}

    uint32_t Bind(FakePort& p, const std::string& name = "qh0", MacAddress mac = kAdapterMac,
                  bool connected = true) {
        AdapterBinding b;
        b.name = name;
        b.mac = mac;
        b.maxFrameSize = p.mtu;
        b.linkSpeed = 10000 * 10000;
        b.connected = connected;
        b.port = &p;
        return driver.BindAdapter(b).value();
    }

    std::shared_ptr<FakeRequest> Call(uint32_t code, std::vector<uint8_t> in = {}, size_t out = 0) {
        auto r = std::make_shared<FakeRequest>(code, std::move(in), out);
        driver.DeviceControl(r);
        return r;
    }

    ManualGigeClock clock;
    FakePort port;
    GigeDriver driver;
};

// A profile that makes kAdapterMac driver-managed at the given address.
inline DriverProfile AdapterProfile(uint32_t ip, uint32_t mask) {
    DriverProfileRecord r{};
    std::memcpy(r.adapterMac, kAdapterMac.data(), 6);
    r.ip = ip;
    r.mask = mask;
    return DriverProfile({r});
}

} // namespace qorcam::gige::test

namespace qorcam::gige::test {

// Builds received frames byte by byte, so tests can break any field.
struct FrameSpec {
    MacAddress dst = kAdapterMac;
    MacAddress src = kPeerMac;
    uint16_t etherType = kEtherTypeIpv4;
    uint8_t ihl = 5;
    uint8_t protocol = kProtoUdp;
    uint32_t srcIp = Ip(169, 254, 10, 2);
    uint32_t dstIp = Ip(169, 254, 10, 1);
    uint16_t srcPort = 3956;
    uint16_t dstPort = 0xC001;
    std::vector<uint8_t> payload;
    int ipTotalDelta = 0;   // added to the true IP total length
    int udpLengthDelta = 0; // added to the true UDP length
    size_t padTo = 60;
};

inline std::vector<uint8_t> BuildFrame(const FrameSpec& s) {
    const size_t ipHeader = s.ihl * 4u;
    const size_t l4 = (s.protocol == kProtoUdp ? 8 : 0) + s.payload.size();
    std::vector<uint8_t> f(14 + std::max<size_t>(ipHeader, 20) + l4, 0);
    std::memcpy(f.data(), s.dst.data(), 6);
    std::memcpy(f.data() + 6, s.src.data(), 6);
    Put16(f.data() + 12, s.etherType);
    uint8_t* ip = f.data() + 14;
    ip[0] = static_cast<uint8_t>(0x40 | s.ihl);
    Put16(ip + 2, static_cast<uint16_t>(ipHeader + l4 + s.ipTotalDelta));
    ip[8] = 64;
    ip[9] = s.protocol;
    PutAddr(ip + 12, s.srcIp);
    PutAddr(ip + 16, s.dstIp);
    uint8_t* p = ip + std::max<size_t>(ipHeader, 20);
    if (s.protocol == kProtoUdp) {
        Put16(p, s.srcPort);
        Put16(p + 2, s.dstPort);
        Put16(p + 4, static_cast<uint16_t>(l4 + s.udpLengthDelta));
        p += 8;
    }
    std::copy(s.payload.begin(), s.payload.end(), p);
    if (f.size() < s.padTo) f.resize(s.padTo, 0);
    return f;
}

// An ARP frame from kPeerMac: a broadcast request (op 1) or a reply (op 2) to kAdapterMac.
inline std::vector<uint8_t> ArpFrame(uint16_t op, uint32_t senderIp, uint32_t targetIp) {
    std::vector<uint8_t> f(60, 0);
    if (op == 1)
        std::memset(f.data(), 0xFF, 6);
    else
        std::memcpy(f.data(), kAdapterMac.data(), 6);
    std::memcpy(f.data() + 6, kPeerMac.data(), 6);
    Put16(f.data() + 12, kEtherTypeArp);
    uint8_t* a = f.data() + 14;
    Put16(a, 1);
    Put16(a + 2, 0x0800);
    a[4] = 6;
    a[5] = 4;
    Put16(a + 6, op);
    std::memcpy(a + 8, kPeerMac.data(), 6);
    PutAddr(a + 14, senderIp);
    PutAddr(a + 24, targetIp);
    return f;
}

// A GVCP header: key/status, flags, command/answer code, length, id.
inline std::vector<uint8_t> Gvcp(uint16_t code, size_t extra = 0) {
    std::vector<uint8_t> g(8 + extra, 0);
    g[0] = 0x42;
    Put16(g.data() + 2, code);
    Put16(g.data() + 4, static_cast<uint16_t>(extra));
    Put16(g.data() + 6, 1);
    return g;
}

} // namespace qorcam::gige::test
