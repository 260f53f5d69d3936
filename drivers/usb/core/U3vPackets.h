// U3vPackets: the USB3 Vision control and event packets the service builds and the checks on what a camera
// sends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qorcam::usbdrv {

inline constexpr std::uint32_t kU3vPrefixControl = 0x43563355; // "U3VC"
inline constexpr std::uint32_t kU3vPrefixEvent = 0x45563355;   // "U3VE"
inline constexpr std::uint16_t kU3vFlagAckRequested = 0x4000;
inline constexpr std::uint16_t kU3vFlagResend = 0x8000;

inline constexpr std::uint16_t kU3vReadMemCmd = 0x0800;
inline constexpr std::uint16_t kU3vReadMemAck = 0x0801;
inline constexpr std::uint16_t kU3vWriteMemCmd = 0x0802;
inline constexpr std::uint16_t kU3vPendingAck = 0x0805;
inline constexpr std::uint16_t kU3vEventAck = 0x0C01;

#pragma pack(push, 1)
/// The 12-byte header of every control and event packet.
struct U3vCommandHeader {
    std::uint32_t prefix;
    std::uint16_t flags;
    std::uint16_t commandId;
    std::uint16_t length; // bytes behind the header
    std::uint16_t requestId;
};
#pragma pack(pop)
static_assert(sizeof(U3vCommandHeader) == 12 && offsetof(U3vCommandHeader, requestId) == 10);

inline constexpr std::size_t kU3vHeaderSize = sizeof(U3vCommandHeader);
/// A pending or write acknowledge: the header, a reserved u16, then a u16 value.
inline constexpr std::size_t kU3vShortAckSize = 16;

std::uint16_t GetLe16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t GetLe32(std::span<const std::uint8_t> bytes, std::size_t offset);

/// READMEM_CMD for count bytes at address: 24 bytes.
std::vector<std::uint8_t> BuildReadCommand(std::uint16_t flags, std::uint16_t requestId,
                                           std::uint64_t address, std::uint16_t count);
/// WRITEMEM_CMD of data at address: 20 + data bytes.
std::vector<std::uint8_t> BuildWriteCommand(std::uint16_t flags, std::uint16_t requestId,
                                            std::uint64_t address, std::span<const std::uint8_t> data);
/// EVENT_ACK of the event with requestId.
std::array<std::uint8_t, kU3vHeaderSize> BuildEventAck(std::uint16_t requestId);

/// The header of a received packet: empty when fewer than 12 bytes came or
/// the prefix is not the one expected.
std::optional<U3vCommandHeader> ParseHeader(std::span<const std::uint8_t> packet, std::uint32_t prefix);

/// What the event reader does with one packet from the event pipe.
struct EventDecision {
    bool valid = false;       ///< a whole event packet (prefix, header, and the data its header counts)
    bool deliver = false;     ///< new: not the repeat of the previous request id
    bool acknowledge = false; ///< the camera asked for an acknowledge
    std::uint16_t requestId = 0;
    std::size_t size = 0; ///< header and data: what a client receives
};

/// Judges a received event packet. A packet whose header counts more data
/// than arrived is not valid: it is neither delivered nor acknowledged.
EventDecision JudgeEvent(std::span<const std::uint8_t> packet, std::optional<std::uint16_t> lastRequestId);

} // namespace qorcam::usbdrv
