// A received Ethernet frame, its checked headers and its classification.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qorcam::gige {

// What the frame is for, in the order the classifier tries the rules.
enum class FrameClass {
    Dropped,
    Arp,
    IcmpEcho,
    Gvsp,              // UDP to a listed stream port
    ActionAck,         // 3956 -> 3953
    ToolAnswer,        // 3956 -> 3954
    ForceIpReset,      // DISCOVERY_ACK 3956 -> 3956, DHCP server mode
    OtherServer,       // DISCOVERY_CMD 3956 -> 3956, DHCP server mode
    DriverDiscovery,   // DISCOVERY_CMD 3956 -> 3956, DHCP client mode
    DeviceListUpdate,  // DISCOVERY_ACK 3956 -> 3957
    CommandAck,        // any other answer from 3956
    DhcpClientRestart, // FORCEIP_CMD from 3955 to this adapter's MAC, DHCP client mode
    CameraEvent,       // EVENT_CMD or EVENTDATA_CMD
    DhcpServer,        // 68 -> 67
    DhcpClient,        // 67 -> 68
};

// What the classifier needs to know of the adapter and the service.
struct ClassifyContext {
    bool windowsManaged = true;
    bool dhcpServerMode = false; // registry DHCP non-zero
    const uint8_t* adapterMac = nullptr;
    bool (*portListed)(const void* ctx, uint16_t port) = nullptr;
    const void* portCtx = nullptr;
};

// The headers of a received frame. Parse() checks every length against the
// bytes received before anything is read, so the accessors never read past
// the frame: IHL at least 5, the IP header and 8 bytes beyond it inside the
// frame, the IP total length inside the frame and covering header and those
// 8 bytes, the UDP length inside the IP payload and at least 8.
class ReceivedFrame {
public:
    static constexpr size_t kMinReceive = 60;

    explicit ReceivedFrame(std::span<const uint8_t> bytes);

    bool Valid() const { return valid_; }
    std::span<const uint8_t> Bytes() const { return bytes_; }
    uint16_t EtherType() const { return etherType_; }
    const uint8_t* DestinationMac() const { return bytes_.data(); }
    const uint8_t* SourceMac() const { return bytes_.data() + 6; }

    bool IsIpv4() const { return ipv4_; }
    bool IsArp() const { return arp_; }
    size_t IpOffset() const { return 14; }
    size_t IpHeaderLength() const { return ipHeader_; }
    size_t IpTotalLength() const { return ipTotal_; }
    uint8_t Protocol() const { return protocol_; }
    uint32_t SourceIp() const { return srcIp_; }
    uint32_t DestinationIp() const { return dstIp_; }
    // The bytes after the IP header, up to the IP total length.
    std::span<const uint8_t> IpPayload() const;

    bool IsUdp() const { return udp_; }
    uint16_t SourcePort() const { return srcPort_; }
    uint16_t DestinationPort() const { return dstPort_; }
    // The UDP payload, up to the UDP length.
    std::span<const uint8_t> UdpPayload() const;

private:
    std::span<const uint8_t> bytes_;
    bool valid_ = false;
    bool ipv4_ = false;
    bool arp_ = false;
    bool udp_ = false;
    uint16_t etherType_ = 0;
    size_t ipHeader_ = 0;
    size_t ipTotal_ = 0;
    uint8_t protocol_ = 0;
    uint32_t srcIp_ = 0;
    uint32_t dstIp_ = 0;
    uint16_t srcPort_ = 0;
    uint16_t dstPort_ = 0;
    size_t udpLength_ = 0;
};

// The fixed classification of received frames; the first matching rule wins.
FrameClass ClassifyFrame(const ReceivedFrame& frame, const ClassifyContext& context);

} // namespace qorcam::gige
