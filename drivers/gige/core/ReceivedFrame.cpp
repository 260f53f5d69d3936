// A received Ethernet frame, its checked headers and its classification.
#include "ReceivedFrame.h"

#include "WireFormat.h"

#include <cstring>

namespace qorcam::gige {

namespace {
constexpr uint16_t kGvcpPort = 3956;
constexpr uint16_t kActionPort = 3953;
constexpr uint16_t kToolPort = 3954;
constexpr uint16_t kForceIpPort = 3955;
constexpr uint16_t kListPort = 3957;
constexpr uint16_t kDiscoveryCmd = 0x0002;
constexpr uint16_t kDiscoveryAck = 0x0003;
constexpr uint16_t kForceIpCmd = 0x0004;
constexpr uint16_t kEventCmd = 0x00C0;
constexpr uint16_t kEventDataCmd = 0x00C2;
constexpr size_t kGvcpHeader = 8;
} // namespace

ReceivedFrame::ReceivedFrame(std::span<const uint8_t> bytes) : bytes_(bytes) {
    if (bytes.size() < kMinReceive) return;
    const uint8_t* p = bytes.data();
    etherType_ = Get16(p + 12);
    valid_ = true;
    if (etherType_ == kEtherTypeArp) {
        arp_ = bytes.size() >= kEthernetHeader + 28;
        return;
    }
    if (etherType_ != kEtherTypeIpv4) return;
    const uint8_t* ip = p + kEthernetHeader;
    if ((ip[0] >> 4) != 4) return;
    size_t ihl = size_t(ip[0] & 0x0F) * 4;
    size_t total = Get16(ip + 2);
    if (ihl < kIpv4Header) return;
    if (kEthernetHeader + ihl + 8 > bytes.size()) return;
    if (total < ihl + 8 || kEthernetHeader + total > bytes.size()) return;
    ipHeader_ = ihl;
    ipTotal_ = total;
    protocol_ = ip[9];
    srcIp_ = GetAddr(ip + 12);
    dstIp_ = GetAddr(ip + 16);
    ipv4_ = true;
    if (protocol_ != kProtoUdp) return;
    const uint8_t* udp = ip + ihl;
    size_t udpLength = Get16(udp + 4);
    if (udpLength < kUdpHeader || udpLength > total - ihl) return;
    srcPort_ = Get16(udp);
    dstPort_ = Get16(udp + 2);
    udpLength_ = udpLength;
    udp_ = true;
}

std::span<const uint8_t> ReceivedFrame::IpPayload() const {
    if (!ipv4_) return {};
    return bytes_.subspan(kEthernetHeader + ipHeader_, ipTotal_ - ipHeader_);
}

std::span<const uint8_t> ReceivedFrame::UdpPayload() const {
    if (!udp_) return {};
    return bytes_.subspan(kEthernetHeader + ipHeader_ + kUdpHeader, udpLength_ - kUdpHeader);
}

FrameClass ClassifyFrame(const ReceivedFrame& f, const ClassifyContext& c) {
    if (!f.Valid()) return FrameClass::Dropped;
    if (f.EtherType() == kEtherTypeArp) return f.IsArp() ? FrameClass::Arp : FrameClass::Dropped;
    if (!f.IsIpv4()) return FrameClass::Dropped;
    if (f.Protocol() == kProtoIcmp) return c.windowsManaged ? FrameClass::Dropped : FrameClass::IcmpEcho;
    if (f.Protocol() != kProtoUdp) return FrameClass::Dropped;
    if (!f.IsUdp()) return FrameClass::Dropped; // length runs past the received bytes

    const uint16_t src = f.SourcePort();
    const uint16_t dst = f.DestinationPort();
    const auto payload = f.UdpPayload();
    // Every rule below reads the GVCP or GVSP header.
    const bool hasHeader = payload.size() >= kGvcpHeader;
    const uint16_t code = hasHeader ? Get16(payload.data() + 2) : 0;

    if (dst >= 0x8000 && dst <= 0xBFFF && c.portListed && c.portListed(c.portCtx, dst))
        return hasHeader ? FrameClass::Gvsp : FrameClass::Dropped;

    if (src == kGvcpPort) {
        if (!hasHeader) return FrameClass::Dropped;
        if (c.windowsManaged && dst == kGvcpPort) return FrameClass::Dropped;
        if (dst == kActionPort) return FrameClass::ActionAck;
        if (dst == kToolPort) return FrameClass::ToolAnswer;
        if (dst == kGvcpPort) {
            if (c.dhcpServerMode) {
                if (code == kDiscoveryAck) return FrameClass::ForceIpReset;
                if (code == kDiscoveryCmd) return FrameClass::OtherServer;
                return FrameClass::Dropped;
            }
            return code == kDiscoveryCmd ? FrameClass::DriverDiscovery : FrameClass::Dropped;
        }
        if (dst == kListPort)
            return code == kDiscoveryAck ? FrameClass::DeviceListUpdate : FrameClass::CommandAck;
        return FrameClass::CommandAck;
    }

    if (src == kForceIpPort) {
        if (c.windowsManaged) return FrameClass::Dropped;
        // FORCEIP_CMD payload: the MAC at offset 2 after the 8-byte header.
        if (!c.dhcpServerMode && code == kForceIpCmd && payload.size() >= kGvcpHeader + 8 && c.adapterMac &&
            std::memcmp(payload.data() + kGvcpHeader + 2, c.adapterMac, 6) == 0)
            return FrameClass::DhcpClientRestart;
    }

    const bool dhcpPorts = src == 67 || src == 68 || dst == 67 || dst == 68;
    if (!dhcpPorts) {
        if (hasHeader && (code == kEventCmd || code == kEventDataCmd)) return FrameClass::CameraEvent;
        return FrameClass::Dropped;
    }
    if (c.windowsManaged) return FrameClass::Dropped;
    if (src == 68 && dst == 67) return FrameClass::DhcpServer;
    if (src == 67 && dst == 68) return FrameClass::DhcpClient;
    return FrameClass::Dropped;
}

} // namespace qorcam::gige
