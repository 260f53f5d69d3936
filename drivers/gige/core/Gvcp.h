// GVCP and GVSP on the wire: ports, codes, and the UDP frames the service builds.
#pragma once

#include "WireFormat.h"

#include <array>
#include <cstdint>
#include <span>

namespace qorcam::gige {

inline constexpr uint16_t kGvcpCameraPort = 3956;
inline constexpr uint16_t kGvcpActionPort = 3953;
inline constexpr uint16_t kGvcpToolPort = 3954;
inline constexpr uint16_t kGvcpForceIpPort = 3955;
inline constexpr uint16_t kGvcpListPort = 3957;

inline constexpr uint8_t kGvcpKey = 0x42;
inline constexpr uint8_t kFlagAckWanted = 0x01;
inline constexpr uint8_t kFlagBroadcastAck = 0x10;
inline constexpr size_t kGvcpHeader = 8;

inline constexpr uint16_t DISCOVERY_CMD = 0x0002;
inline constexpr uint16_t DISCOVERY_ACK = 0x0003;
inline constexpr uint16_t FORCEIP_CMD = 0x0004;
inline constexpr uint16_t PACKETRESEND_CMD = 0x0040;
inline constexpr uint16_t READREG_CMD = 0x0080;
inline constexpr uint16_t READREG_ACK = 0x0081;
inline constexpr uint16_t WRITEREG_CMD = 0x0082;
inline constexpr uint16_t WRITEREG_ACK = 0x0083;
inline constexpr uint16_t READMEM_CMD = 0x0084;
inline constexpr uint16_t READMEM_ACK = 0x0085;
inline constexpr uint16_t WRITEMEM_CMD = 0x0086;
inline constexpr uint16_t WRITEMEM_ACK = 0x0087;
inline constexpr uint16_t PENDING_ACK = 0x0089;
inline constexpr uint16_t EVENT_CMD = 0x00C0;
inline constexpr uint16_t EVENT_ACK = 0x00C1;
inline constexpr uint16_t EVENTDATA_CMD = 0x00C2;
inline constexpr uint16_t EVENTDATA_ACK = 0x00C3;
inline constexpr uint16_t ACTION_CMD = 0x0100;
inline constexpr uint16_t ACTION_ACK = 0x0101;

// The camera's control channel privilege register.
inline constexpr uint32_t kControlPrivilegeRegister = 0x0A00;

// The discovery acknowledge's payload: 248 bytes, texts from offset 72.
inline constexpr size_t kDiscoveryAckLength = 248;
inline constexpr size_t kDiscoveryTextOffset = 72;

inline const uint8_t kBroadcastMac[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
inline constexpr uint32_t kBroadcastIp = 0xFFFFFFFF;

// IPv4 header fields that an answer copies from the frame it answers.
struct IpHeaderCopy {
    uint8_t tos = 0;
    uint16_t identification = 0;
    uint16_t fragment = 0;
    uint8_t ttl = 64;
};

// A frame the service builds: Ethernet, IPv4 and UDP headers laid out in one
// frame buffer, with the UDP payload written by the caller after them.
class UdpFrame {
public:
    static constexpr size_t kPayloadOffset = kEthernetHeader + kIpv4Header + kUdpHeader;
    static constexpr size_t kMaxPayload = kFrameBufferSize - kPayloadOffset;

    // udpPayload bytes must be at most kMaxPayload.
    UdpFrame(const uint8_t* dstMac, const uint8_t* srcMac, uint32_t srcIp, uint32_t dstIp, uint16_t srcPort,
             uint16_t dstPort, size_t udpPayload, const IpHeaderCopy& ip);

    uint8_t* Payload() { return buffer_.data() + kPayloadOffset; }
    std::span<uint8_t> Buffer() { return buffer_; }

    // Writes a GVCP command header and returns where its payload starts.
    uint8_t* CommandHeader(uint8_t flags, uint16_t command, uint16_t length, uint16_t requestId);
    // Writes a GVCP acknowledge header and returns where its payload starts.
    uint8_t* AckHeader(uint16_t status, uint16_t answer, uint16_t length, uint16_t ackId);

private:
    std::array<uint8_t, kFrameBufferSize> buffer_{};
};

} // namespace qorcam::gige
