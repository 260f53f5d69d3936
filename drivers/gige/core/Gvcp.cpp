// GVCP and GVSP on the wire: ports, codes, and the UDP frames the service builds.
#include "Gvcp.h"

#include <cstring>

namespace qorcam::gige {

UdpFrame::UdpFrame(const uint8_t* dstMac, const uint8_t* srcMac, uint32_t srcIp, uint32_t dstIp,
                   uint16_t srcPort, uint16_t dstPort, size_t udpPayload, const IpHeaderCopy& ip) {
    uint8_t* b = buffer_.data();
    std::memcpy(b, dstMac, 6);
    std::memcpy(b + 6, srcMac, 6);
    Put16(b + 12, kEtherTypeIpv4);
    uint8_t* h = b + kEthernetHeader;
    h[0] = 0x45;
    h[1] = ip.tos;
    Put16(h + 4, ip.identification);
    Put16(h + 6, ip.fragment);
    h[8] = ip.ttl;
    h[9] = kProtoUdp;
    PutAddr(h + 12, srcIp);
    PutAddr(h + 16, dstIp);
    uint8_t* u = h + kIpv4Header;
    Put16(u, srcPort);
    Put16(u + 2, dstPort);
    Put16(u + 4, static_cast<uint16_t>(kUdpHeader + (udpPayload > kMaxPayload ? kMaxPayload : udpPayload)));
}

uint8_t* UdpFrame::CommandHeader(uint8_t flags, uint16_t command, uint16_t length, uint16_t requestId) {
    uint8_t* g = Payload();
    g[0] = kGvcpKey;
    g[1] = flags;
    Put16(g + 2, command);
    Put16(g + 4, length);
    Put16(g + 6, requestId);
    return g + kGvcpHeader;
}

uint8_t* UdpFrame::AckHeader(uint16_t status, uint16_t answer, uint16_t length, uint16_t ackId) {
    uint8_t* g = Payload();
    Put16(g, status);
    Put16(g + 2, answer);
    Put16(g + 4, length);
    Put16(g + 6, ackId);
    return g + kGvcpHeader;
}

} // namespace qorcam::gige
