// StreamLayout: where each transfer of one stream block lands in a read buffer.
#pragma once

#include "devio/Status.h"

#include <cstdint>
#include <vector>

namespace qorcam::usbdrv {

/// The block layout a client stored with IOCTL_USB_SetStreamInfo.
struct StreamLayout {
    bool set = false;
    std::uint32_t payloadSize = 0;
    std::uint32_t leaderOffset = 0;
    std::uint32_t trailerOffset = 0;
    std::uint32_t transferSize = 0;
    std::uint32_t transferCount = 0;
    std::uint32_t final1Size = 0;
    std::uint32_t final2Size = 0;
};

enum class TransferKind : std::uint8_t { Leader = 0, Payload = 1, Final1 = 2, Final2 = 3, Trailer = 4 };

struct StreamTransfer {
    TransferKind kind;
    std::uint64_t offset;
    std::uint64_t length;
};

/// Most transfers one read may post (leader and trailer included).
inline constexpr std::uint64_t kMaxStreamTransfers = 65536;

/// The transfers of one read of readLength bytes, in posting order: leader,
/// payload transfers, final transfers, trailer. STATUS_INVALID_PARAMETER
/// when no layout was stored, or when a transfer would be empty or reach
/// outside the buffer (the leader area ends at the trailer offset, the
/// trailer area at the end of the buffer); STATUS_INSUFFICIENT_RESOURCES for
/// more than kMaxStreamTransfers transfers.
devio::NtStatus PlanStreamRead(const StreamLayout& layout, std::uint64_t readLength,
                               std::vector<StreamTransfer>& transfers);

} // namespace qorcam::usbdrv
