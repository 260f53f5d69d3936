// The GigE network service's address management: the server probe, the DHCP client and server, announcements.
#include "GigeDriver.h"

#include "GigeIoctl.h"
#include "Gvcp.h"
#include "WireFormat.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace qorcam::gige {

namespace {

constexpr uint16_t kDhcpServerPort = 67;
constexpr uint16_t kDhcpClientPort = 68;
constexpr size_t kBootpFixed = 236; // up to the magic cookie
constexpr size_t kOptionsOffset = 240;
constexpr uint8_t kMagic[4] = {99, 130, 83, 99};

constexpr uint8_t DHCPDISCOVER = 1;
constexpr uint8_t DHCPOFFER = 2;
constexpr uint8_t DHCPREQUEST = 3;
constexpr uint8_t DHCPDECLINE = 4;
constexpr uint8_t DHCPACK = 5;
constexpr uint8_t DHCPNAK = 6;
constexpr uint8_t DHCPRELEASE = 7;
constexpr uint8_t DHCPINFORM = 8;

constexpr char kNakMessage[] = "requested address not available";
constexpr char16_t kMsgDhcpMemoryFull[] = u"DHCP Memory Full Error Stop";

// The options of a received BOOTP message, read from byte 240 on: pad bytes
// skipped, the end option or the end of the message stops the walk, and an
// option whose length runs past the message is not taken.
class DhcpOptions {
public:
    explicit DhcpOptions(std::span<const uint8_t> m) {
        size_t i = kOptionsOffset;
        while (i < m.size()) {
            const uint8_t code = m[i];
            if (code == 0) {
                ++i;
                continue;
            }
            if (code == 255 || i + 1 >= m.size()) break;
            const size_t length = m[i + 1];
            if (i + 2 + length > m.size()) break;
            if (!found_[code]) {
                found_[code] = true;
                at_[code] = m.subspan(i + 2, length);
            }
            i += 2 + length;
        }
    }
    std::optional<uint8_t> Byte(uint8_t code) const {
        if (!found_[code] || at_[code].empty()) return std::nullopt;
        return at_[code][0];
    }
    // A four-byte option as it stands on the wire (addresses) or as a number.
    std::optional<uint32_t> Addr(uint8_t code) const {
        if (!found_[code] || at_[code].size() < 4) return std::nullopt;
        return GetAddr(at_[code].data());
    }
    std::optional<uint32_t> Number(uint8_t code) const {
        if (!found_[code] || at_[code].size() < 4) return std::nullopt;
        return Get32(at_[code].data());
    }

private:
    bool found_[256] = {};
    std::span<const uint8_t> at_[256];
};

// Builds the options of a message one by one after the fixed part.
class OptionWriter {
public:
    explicit OptionWriter(uint8_t* options) : p_(options) {}
    OptionWriter& Type(uint8_t type) { return Raw(53, &type, 1); }
    OptionWriter& ClientId(const MacAddress& mac) {
        uint8_t id[7] = {1};
        std::memcpy(id + 1, mac.data(), 6);
        return Raw(61, id, 7);
    }
    OptionWriter& Parameters() {
        const uint8_t list[2] = {1, 3};
        return Raw(55, list, 2);
    }
    OptionWriter& Addr(uint8_t code, uint32_t address) {
        uint8_t b[4];
        PutAddr(b, address);
        return Raw(code, b, 4);
    }
    OptionWriter& Number(uint8_t code, uint32_t value) {
        uint8_t b[4];
        Put32(b, value);
        return Raw(code, b, 4);
    }
    OptionWriter& Raw(uint8_t code, const void* data, uint8_t length) {
        p_[n_++] = code;
        p_[n_++] = length;
        std::memcpy(p_ + n_, data, length);
        n_ += length;
        return *this;
    }
    size_t End() {
        p_[n_++] = 255;
        return n_;
    }

private:
    uint8_t* p_;
    size_t n_ = 0;
};

// Fixed options room: the largest message we build has 37 bytes of options.
constexpr size_t kMessageRoom = kOptionsOffset + 64;

} // namespace

uint32_t GigeDriver::NextRandom() {
    // The counter's two halves mixed, and stirred so that draws within one
    // tick still differ.
    const uint64_t now = clock_.Now();
    randomState_ += 0x9E3779B97F4A7C15ull ^ ((now >> 32) | (now << 32));
    uint64_t z = randomState_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>(z ^ (z >> 31));
}

// ---- start-up in server mode: is another DHCP server on this network? ----

void GigeDriver::StartServerProbe(GigeAdapter& a) {
    a.startedBeforeProbe = a.startedOnce;
    a.serverProbeRunning = true;
    a.probeSends = 0;
    ServerProbeStep(a);
}

void GigeDriver::ServerProbeStep(GigeAdapter& a) {
    if (!a.serverProbeRunning) return;
    if (a.probeSends >= 6) {
        FinishServerProbe(a, false);
        return;
    }
    ++a.probeSends;
    SendDhcpDiscover(a, a.ip);
    ArmTimer(a, AdapterTimer::Probe, 500);
}

void GigeDriver::FinishServerProbe(GigeAdapter& a, bool otherServer) {
    a.serverProbeRunning = false;
    a.Timer(AdapterTimer::Probe) = 0;
    if (otherServer) a.otherServerPresent = true;
    if (a.closing) return;
    for (auto& e : a.devices)
        e.lastSeen = kNever;
    if (!a.otherServerPresent)
        ArmTimer(a, AdapterTimer::Discovery, a.startedBeforeProbe ? params_.initWait1 : params_.initWait);
}

// ---- the DHCP client ----------------------------------------------------------

void GigeDriver::SendDhcpDiscover(GigeAdapter& a, uint32_t srcIp) {
    a.dhcpTransactionId = NextRandom();
    UdpFrame frame(kBroadcastMac, a.mac.data(), srcIp, kBroadcastIp, kDhcpClientPort, kDhcpServerPort,
                   kMessageRoom, IpHeaderCopy{0, NextGvcpIds(a).second, 0, 64});
    uint8_t* m = frame.Payload();
    m[0] = 1;
    m[1] = 1;
    m[2] = 6;
    Put32(m + 4, a.dhcpTransactionId);
    std::memcpy(m + 28, a.mac.data(), 6);
    std::memcpy(m + 44, "GigE Vision", 11);
    std::memcpy(m + kBootpFixed, kMagic, 4);
    size_t n = OptionWriter(m + kOptionsOffset).Type(DHCPDISCOVER).ClientId(a.mac).Parameters().End();
    Put16(frame.Payload() - kUdpHeader + 4, static_cast<uint16_t>(kUdpHeader + kOptionsOffset + n));
    SendUdp(a, frame);
}

void GigeDriver::DhcpClientSend(GigeAdapter& a) {
    if (a.closing || !a.dhcpClientActive) return;
    if (a.ip == 0 && a.offeredIp == 0) {
        SendDhcpDiscover(a, 0);
        static const uint32_t backoff[] = {4000, 8000, 16000};
        if (a.dhcpRetryCount < 3) {
            ArmTimer(a, AdapterTimer::DhcpRetry, backoff[a.dhcpRetryCount]);
        } else {
            ArmTimer(a, AdapterTimer::DhcpRetry, 30000);
            a.dhcpRetryCount = 0;
        }
        return;
    }
    const bool renewal = a.ip != 0;
    if (renewal) a.dhcpTransactionId = NextRandom();
    UdpFrame frame(renewal ? a.dhcpServerMac.data() : kBroadcastMac, a.mac.data(), renewal ? a.ip : 0,
                   renewal ? a.dhcpServerIp : kBroadcastIp, kDhcpClientPort, kDhcpServerPort, kMessageRoom,
                   IpHeaderCopy{0, NextGvcpIds(a).second, 0, 64});
    uint8_t* m = frame.Payload();
    m[0] = 1;
    m[1] = 1;
    m[2] = 6;
    Put32(m + 4, a.dhcpTransactionId);
    if (renewal) PutAddr(m + 12, a.ip);
    std::memcpy(m + 28, a.mac.data(), 6);
    std::memcpy(m + 44, "GigE Vision", 11);
    std::memcpy(m + kBootpFixed, kMagic, 4);
    OptionWriter options(m + kOptionsOffset);
    options.Type(DHCPREQUEST).ClientId(a.mac);
    if (!renewal) options.Addr(50, a.offeredIp).Addr(54, a.dhcpServerIp);
    size_t n = options.Parameters().End();
    Put16(frame.Payload() - kUdpHeader + 4, static_cast<uint16_t>(kUdpHeader + kOptionsOffset + n));
    SendUdp(a, frame);
    ArmTimer(a, AdapterTimer::DhcpRetry, 2000);
}

void GigeDriver::DhcpClientReceive(GigeAdapter& a, const ReceivedFrame& f) {
    const auto m = f.UdpPayload();
    if (m.size() < kOptionsOffset || m[0] != 2 || std::memcmp(m.data() + 28, a.mac.data(), 6) != 0) return;
    DhcpOptions options(m);
    const auto type = options.Byte(53);
    if (!type) return;
    switch (*type) {
    case DHCPOFFER:
        a.Timer(AdapterTimer::DhcpRetry) = 0;
        a.dhcpRetryCount = 0;
        std::memcpy(a.dhcpServerMac.data(), f.SourceMac(), 6);
        // The server names itself in option 54; many leave siaddr (the next
        // boot server) 0, so that and then the sender are only fallbacks.
        a.dhcpServerIp = options.Addr(54).value_or(0);
        if (a.dhcpServerIp == 0) a.dhcpServerIp = GetAddr(m.data() + 20);
        if (a.dhcpServerIp == 0) a.dhcpServerIp = f.SourceIp();
        a.offeredIp = GetAddr(m.data() + 16);
        ArmTimer(a, AdapterTimer::DhcpSend, 5);
        break;
    case DHCPACK: {
        a.Timer(AdapterTimer::DhcpRetry) = 0;
        a.dhcpRetryCount = 0;
        if (auto mask = options.Addr(1)) a.mask = *mask;
        if (a.ip == 0) {
            a.announceCount = 3;
            ArmTimer(a, AdapterTimer::Announce, 1000);
        }
        a.ip = GetAddr(m.data() + 16);
        const auto lease = options.Number(51);
        if (lease && *lease == 0xFFFFFFFF) {
            a.Timer(AdapterTimer::DhcpSend) = 0; // an infinite lease is never renewed
            break;
        }
        uint64_t delay = 1000;
        if (lease) {
            const uint64_t seconds = std::max<uint64_t>(1, *lease / 3 * 2);
            delay = seconds * 1000 > 0xFFFFFFFFull ? seconds : seconds * 1000;
        }
        ArmTimer(a, AdapterTimer::DhcpSend, static_cast<uint32_t>(delay));
        break;
    }
    case DHCPNAK:
        a.Timer(AdapterTimer::DhcpRetry) = 0;
        a.ForgetLease();
        ArmTimer(a, AdapterTimer::DhcpSend, 5);
        break;
    default:
        break;
    }
}

void GigeDriver::AnnounceAddress(GigeAdapter& a, Completions& done) {
    if (a.announceCount == 0) return;
    --a.announceCount;
    static const uint8_t unknown[6] = {};
    SendArp(a, kBroadcastMac, 1, unknown, a.ip); // gratuitous: asks for our own address
    if (a.announceCount > 0)
        ArmTimer(a, AdapterTimer::Announce, 1000);
    else
        CompleteBusEventWaiters(STATUS_SUCCESS, done); // the adapter's address is ready
}

// ---- the DHCP server for the cameras --------------------------------------------

bool GigeDriver::ChooseCameraAddress(GigeAdapter& a, GigeDeviceEntry& e) {
    const uint32_t hostMask = ~a.mask;
    uint32_t candidate = 0;
    if (auto rec = profile_.CameraRecord(a.mac, e.mac)) candidate = (rec->ip & hostMask) | (a.ip & a.mask);

    // A full subnet makes room by forgetting the camera idle longest.
    const uint64_t hosts = __builtin_bswap32(hostMask); // host part as a number
    if (hosts > 4 && a.devices.size() + 4 >= hosts) {
        const uint64_t now = clock_.Now();
        auto age = [&](uint64_t t) { return t == kNever ? kNever : now - t; };
        auto idlest = a.devices.end();
        uint64_t longest = 0;
        for (auto it = a.devices.begin(); it != a.devices.end(); ++it) {
            if (it->owner != 0) continue;
            const uint64_t idle = std::min(age(it->lastSeen), age(it->leaseTime));
            if (idlest == a.devices.end() || idle > longest) {
                idlest = it;
                longest = idle;
            }
        }
        if (idlest != a.devices.end()) a.devices.erase(idlest);
    }

    auto refused = [&](uint32_t ip) {
        const uint32_t host = ip & hostMask;
        if (host == 0 || host == hostMask || ip == a.ip) return true;
        for (const auto& r : profile_.Records()) {
            if (std::memcmp(r.adapterMac, a.mac.data(), 6) != 0 ||
                std::memcmp(r.cameraMac, e.mac.data(), 6) == 0)
                continue;
            static const uint8_t zero[6] = {};
            if (std::memcmp(r.cameraMac, zero, 6) == 0) continue; // the adapter's own record
            if (((r.ip & hostMask) | (a.ip & a.mask)) == ip) return true;
        }
        return std::any_of(a.devices.begin(), a.devices.end(),
                           [&](const GigeDeviceEntry& o) { return &o != &e && o.ip == ip; });
    };
    // Draws are bounded: a subnet with no address left gives none.
    for (int draw = 0; draw < 4096; ++draw) {
        if (candidate != 0 && !refused(candidate)) {
            e.ip = candidate;
            return true;
        }
        candidate = (a.ip & a.mask) | (NextRandom() & hostMask);
    }
    return false;
}

void GigeDriver::DhcpServerReceive(GigeAdapter& a, const ReceivedFrame& f, Completions& done) {
    const auto m = f.UdpPayload();
    if (m.size() < kOptionsOffset || m[0] != 1) return;
    DhcpOptions options(m);
    const auto type = options.Byte(53);
    if (!type) return;
    if (*type == DHCPDISCOVER) ArmTimer(a, AdapterTimer::BusEvent, params_.dhcpWait);
    if (params_.dhcp == 0 || a.otherServerPresent || a.serverProbeRunning || a.ip == 0) return;

    MacAddress client;
    std::memcpy(client.data(), m.data() + 28, 6);
    auto entry = std::find_if(a.devices.begin(), a.devices.end(),
                              [&](const GigeDeviceEntry& e) { return e.mac == client; });
    const uint64_t now = clock_.Now();
    const uint32_t ciaddr = GetAddr(m.data() + 12);

    auto reply = [&](uint8_t answer, const uint8_t* dstMac, uint32_t dstIp, uint32_t yiaddr,
                     uint32_t ciaddrOut) {
        UdpFrame frame(dstMac, a.mac.data(), a.ip, dstIp, kDhcpServerPort, kDhcpClientPort, kMessageRoom,
                       IpHeaderCopy{0x10, NextGvcpIds(a).second, 0, 16});
        uint8_t* r = frame.Payload();
        r[0] = 2;
        r[1] = 1;
        r[2] = 6;
        std::memcpy(r + 4, m.data() + 4, 4); // transaction id
        std::memcpy(r + 8, m.data() + 8, 2); // seconds
        PutAddr(r + 12, ciaddrOut);
        PutAddr(r + 16, yiaddr);
        PutAddr(r + 20, a.ip);
        std::memcpy(r + 28, m.data() + 28, 16);
        std::memcpy(r + kBootpFixed, m.data() + kBootpFixed, 4);
        OptionWriter o(r + kOptionsOffset);
        if (answer == DHCPNAK) {
            Put16(r + 10, 0x8000);
            o.Type(DHCPNAK).Raw(56, kNakMessage, sizeof kNakMessage - 1);
        } else {
            // The mask the addresses are drawn under, so a camera reaches the
            // whole range (and this adapter) directly.
            o.Type(answer).Addr(54, a.ip).Number(51, params_.dhcpReleaseTime).Addr(1, a.mask);
        }
        size_t n = o.End();
        Put16(frame.Payload() - kUdpHeader + 4, static_cast<uint16_t>(kUdpHeader + kOptionsOffset + n));
        SendUdp(a, frame);
    };
    auto nak = [&] { reply(DHCPNAK, kBroadcastMac, kBroadcastIp, 0, 0); };

    switch (*type) {
    case DHCPDISCOVER: {
        if (entry == a.devices.end()) {
            GigeDeviceEntry e;
            e.mac = client;
            e.commandTimeout = clock_.MsToTicks(params_.cmdTimeout);
            if (!ChooseCameraAddress(a, e)) {
                PostDriverMessage(&a, kMsgDhcpMemoryFull, done);
                return;
            }
            a.devices.push_back(e);
            entry = std::prev(a.devices.end());
        }
        entry->lastSeen = entry->leaseTime = now;
        reply(DHCPOFFER, client.data(), kBroadcastIp, entry->ip, 0);
        break;
    }
    case DHCPREQUEST: {
        const uint32_t requested = options.Addr(50).value_or(ciaddr);
        if (entry == a.devices.end() || entry->ip != requested || requested == 0) {
            nak();
            break;
        }
        entry->leaseTime = now;
        reply(DHCPACK, client.data(), kBroadcastIp, entry->ip, 0);
        break;
    }
    case DHCPINFORM:
        if (entry == a.devices.end() || entry->ip != ciaddr || ciaddr == 0) {
            nak();
            break;
        }
        entry->leaseTime = now;
        reply(DHCPACK, client.data(), entry->ip, 0, entry->ip);
        break;
    case DHCPDECLINE:
    case DHCPRELEASE:
        if (entry != a.devices.end()) {
            entry->leaseTime = kNever;
            entry->mac = {};
        }
        break;
    default:
        break;
    }
}

} // namespace qorcam::gige
