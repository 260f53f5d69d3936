// SimProtocol: the records that a host and a simulated USB device exchange on the device's socket.
#pragma once

#include "usb/Status.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qorcam::usb::sim {

// A simulated device listens on <run>/usbsim/<name>.sock and holds an
// exclusive flock on <name>.lock while it runs, so a killed device is told
// from a live one. Every record is a RecordHeader followed by bodyLength
// bytes; integers little-endian.
//
// host -> device (id = the host's tag of the request)
//   Control     ControlBody, then setup.length bytes when host to device
//   BulkOut     TransferBody, then exactly length bytes
//   BulkIn      TransferBody (length = what the host can take)
//   Cancel      no body; a tag the device no longer holds is ignored
//   Claim       no body; bulk transfers need the claim, one host at a time
//   SimCommand  a text command for the simulation (faults, events)
// device -> host
//   Completion  CompletionBody, then length data bytes for control and bulk
//               reads (nothing for writes, where length counts the bytes taken)
//   SimReply    the text answer of a SimCommand
//
// Every request gets exactly one Completion (SimCommand: one SimReply).
// A record that breaks these rules closes the connection.

inline constexpr std::uint32_t kRecordMagic = 0x42535551; // "QUSB" in memory order
inline constexpr std::uint32_t kMaxTransferLength = 64u << 20;
inline constexpr std::uint32_t kMaxCommandText = 4096;

enum class RecordType : std::uint16_t {
    Control = 1,
    BulkOut = 2,
    BulkIn = 3,
    Cancel = 4,
    Claim = 5,
    SimCommand = 6,
    Completion = 0x101,
    SimReply = 0x102,
};

#pragma pack(push, 1)
struct RecordHeader {
    std::uint32_t magic;
    std::uint16_t type;
    std::uint16_t flags; ///< 0; anything else is malformed
    std::uint32_t bodyLength;
    std::uint64_t id;
};

struct ControlBody {
    std::uint8_t requestType;
    std::uint8_t request;
    std::uint16_t value;
    std::uint16_t index;
    std::uint16_t length;
    std::uint16_t reserved;
};

struct TransferBody {
    std::uint8_t endpoint;
    std::uint8_t reserved[3];
    std::uint32_t length;
};

struct CompletionBody {
    std::uint32_t status; ///< WireStatus
    std::uint32_t length;
};
#pragma pack(pop)

static_assert(sizeof(RecordHeader) == 20);
static_assert(sizeof(ControlBody) == 10);
static_assert(sizeof(TransferBody) == 8);
static_assert(sizeof(CompletionBody) == 8);

/// Status on the wire: fixed numbers, whatever the enum's order.
std::uint32_t ToWire(Status status);
/// The status of a wire number; empty for a number that means nothing.
std::optional<Status> FromWire(std::uint32_t value);

/// True when a header received by a device is well formed: magic, flags,
/// a host-to-device type and a body length that the type allows.
bool DeviceAccepts(const RecordHeader& header);
/// The same for a header received by a host.
bool HostAccepts(const RecordHeader& header);

/// The folder of the simulated devices: <run>/usbsim (created on demand).
std::string DeviceFolder();
/// True for a name that may stand for a simulated device: letters, digits,
/// '-', '_', '.', not starting with '.', at most 64 characters.
bool ValidDeviceName(const std::string& name);

} // namespace qorcam::usb::sim
