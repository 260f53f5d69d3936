// A received Ethernet frame, its checked headers and its classification.
#include "ReceivedFrame.h"

#include "Gvcp.h"
#include "WireFormat.h"

#include <cstring>

namespace qorcam::gige {

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

    if (src == kGvcpCameraPort) {
        if (!hasHeader) return FrameClass::Dropped;
        if (c.windowsManaged && dst == kGvcpCameraPort) return FrameClass::Dropped;
        if (dst == kGvcpActionPort) return FrameClass::ActionAck;
        if (dst == kGvcpToolPort) return FrameClass::ToolAnswer;
        if (dst == kGvcpCameraPort) {
            if (c.dhcpServerMode) {
                if (code == DISCOVERY_ACK) return FrameClass::ForceIpReset;
                if (code == DISCOVERY_CMD) return FrameClass::OtherServer;
                return FrameClass::Dropped;
            }
            return code == DISCOVERY_CMD ? FrameClass::DriverDiscovery : FrameClass::Dropped;
        }
        if (dst == kGvcpListPort)
            return code == DISCOVERY_ACK ? FrameClass::DeviceListUpdate : FrameClass::CommandAck;
        return FrameClass::CommandAck;
    }

    if (src == kGvcpForceIpPort) {
        if (c.windowsManaged) return FrameClass::Dropped;
        // FORCEIP_CMD payload: the MAC at offset 2 after the 8-byte header.
        if (!c.dhcpServerMode && code == FORCEIP_CMD && payload.size() >= kGvcpHeader + 8 && c.adapterMac &&
            std::memcmp(payload.data() + kGvcpHeader + 2, c.adapterMac, 6) == 0)
            return FrameClass::DhcpClientRestart;
    }

    const bool dhcpPorts = src == 67 || src == 68 || dst == 67 || dst == 68;
    if (!dhcpPorts) {
        if (hasHeader && (code == EVENT_CMD || code == EVENTDATA_CMD)) return FrameClass::CameraEvent;
        return FrameClass::Dropped;
    }
    if (c.windowsManaged) return FrameClass::Dropped;
    if (src == 68 && dst == 67) return FrameClass::DhcpServer;
    if (src == 67 && dst == 68) return FrameClass::DhcpClient;
    return FrameClass::Dropped;
}

} // namespace qorcam::gige
