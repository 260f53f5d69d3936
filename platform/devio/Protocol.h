// Protocol: the records that a device client and a service exchange on the device socket.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorcam::devio::wire {

// Every message is a MessageHeader followed by bodyLength bytes of body.
// Integers are little-endian (client and service run on the same machine).
//
// client -> service
//   Request           body RequestBody + inputLength input bytes; id = request id
//   Cancel            no body; id = request id (unknown ids are ignored: the
//                     request may have completed meanwhile)
//   RegisterRegion    no body; id = region id; one descriptor (SCM_RIGHTS)
//                     travels with the message
//   UnregisterRegion  no body; id = region id
// service -> client
//   Pending           no body; id = request id
//   Completion        body CompletionBody + outputLength output bytes
//   RegionStatus      body RegionStatusBody; id = region id
//
// Each Request gets exactly one first answer, Pending or Completion; a
// Pending is followed later by exactly one Completion. A Request whose
// header carries kFlagNoPending (a caller that waits for the final status
// anyway) gets no Pending: its only answer is the Completion. Every other
// message has flags 0.

inline constexpr std::uint32_t kMagic = 0x56454451; // "QDEV" in memory order

enum class MessageType : std::uint16_t {
    Request = 1,
    Cancel = 2,
    RegisterRegion = 3,
    UnregisterRegion = 4,
    Pending = 0x101,
    Completion = 0x102,
    RegionStatus = 0x103,
};

/// Request header flag: answer with the Completion only, never a Pending.
inline constexpr std::uint16_t kFlagNoPending = 0x0001;

enum class OutputMode : std::uint32_t {
    Inline = 0, ///< output bytes travel back in the Completion
    Region = 1, ///< output lands in a registered region
};

#pragma pack(push, 1)
struct MessageHeader {
    std::uint32_t magic;
    std::uint16_t type;
    std::uint16_t flags; ///< 0, or kFlagNoPending on a Request; anything else is malformed
    std::uint32_t bodyLength;
    std::uint64_t id;
};

struct RequestBody {
    std::uint32_t kind; ///< RequestKind
    std::uint32_t code;
    std::uint32_t inputLength;
    std::uint32_t outputMode; ///< OutputMode
    std::uint32_t regionId;
    std::uint64_t outputOffset; ///< in the region; 0 for inline
    std::uint64_t outputLength;
};

struct CompletionBody {
    std::uint32_t status;
    std::uint64_t information;
    std::uint32_t outputLength; ///< inline output bytes that follow
};

struct RegionStatusBody {
    std::uint32_t status;
    std::uint64_t size;
};
#pragma pack(pop)

static_assert(sizeof(MessageHeader) == 20);
static_assert(offsetof(MessageHeader, bodyLength) == 8 && offsetof(MessageHeader, id) == 12);
static_assert(sizeof(RequestBody) == 36);
static_assert(offsetof(RequestBody, outputOffset) == 20 && offsetof(RequestBody, outputLength) == 28);
static_assert(sizeof(CompletionBody) == 16);
static_assert(sizeof(RegionStatusBody) == 12);

/// Largest input of one request.
inline constexpr std::uint32_t kMaxInputLength = 1u << 20;
/// Largest inline output room of one request; larger outputs use a region.
inline constexpr std::uint64_t kMaxInlineOutputLength = 64ull << 20;
/// Largest body of any message.
inline constexpr std::uint64_t kMaxBodyLength = sizeof(CompletionBody) + kMaxInlineOutputLength;
/// Requests of one connection in flight at the same time; more are refused
/// with STATUS_INSUFFICIENT_RESOURCES.
inline constexpr std::size_t kMaxRequestsPerConnection = 4096;
/// Input and inline output bytes of one connection's requests in flight;
/// a request beyond is refused with STATUS_INSUFFICIENT_RESOURCES.
inline constexpr std::size_t kMaxBytesInFlightPerConnection = 1ull << 30;
/// Regions one connection may register, and their bytes together; more are
/// refused with STATUS_INSUFFICIENT_RESOURCES.
inline constexpr std::size_t kMaxRegionsPerConnection = 1024;
inline constexpr std::uint64_t kMaxRegionBytesPerConnection = 64ull << 30;

} // namespace qorcam::devio::wire
