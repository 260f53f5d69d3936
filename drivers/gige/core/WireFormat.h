// Byte order helpers, the Internet checksum and the frames the service builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace qorcam::gige {

inline constexpr size_t kEthernetHeader = 14;
inline constexpr size_t kIpv4Header = 20;
inline constexpr size_t kUdpHeader = 8;
inline constexpr size_t kMinFrame = 60;
// The frame buffer that every frame the service builds itself is laid out in.
inline constexpr size_t kFrameBufferSize = 592;

inline constexpr uint16_t kEtherTypeIpv4 = 0x0800;
inline constexpr uint16_t kEtherTypeArp = 0x0806;
inline constexpr uint8_t kProtoIcmp = 1;
inline constexpr uint8_t kProtoTcp = 6;
inline constexpr uint8_t kProtoUdp = 17;

inline uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t Get32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
// IPv4 addresses are kept as they stand on the wire: first byte lowest.
inline uint32_t GetAddr(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void PutAddr(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

// One's-complement sum over the bytes, folded, not inverted.
uint32_t ChecksumAdd(uint32_t sum, const uint8_t* data, size_t length);
uint16_t ChecksumFold(uint32_t sum);
// The Internet checksum of the bytes, ready to store.
uint16_t InternetChecksum(const uint8_t* data, size_t length);

// Completes an IPv4 frame that was built in a buffer: IP total length from
// the UDP length (UDP frames), header checksum, and the UDP, TCP or ICMP
// checksum (over the pseudo header for UDP and TCP). Returns the frame
// length, padded with zeros to 60 bytes, or 0 when the headers don't fit in
// the buffer. `ipTotal` 0 takes the total length from the UDP header.
size_t FinishIpv4Frame(std::span<uint8_t> buffer, size_t ipTotal = 0);

} // namespace qorcam::gige
