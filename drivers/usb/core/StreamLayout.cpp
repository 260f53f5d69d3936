// StreamLayout: the checked transfer plan of a stream read.
#include "StreamLayout.h"

namespace qorcam::usbdrv {

using namespace devio;

NtStatus PlanStreamRead(const StreamLayout& layout, std::uint64_t readLength,
                        std::vector<StreamTransfer>& transfers) {
    transfers.clear();
    if (!layout.set) return STATUS_INVALID_PARAMETER;
    const std::uint64_t leader = layout.leaderOffset;
    const std::uint64_t trailer = layout.trailerOffset;
    if (leader >= trailer || trailer >= readLength) return STATUS_INVALID_PARAMETER;
    if (layout.transferCount > 0 && layout.transferSize == 0) return STATUS_INVALID_PARAMETER;
    const std::uint64_t payloadEnd = static_cast<std::uint64_t>(layout.transferSize) * layout.transferCount +
                                     layout.final1Size + layout.final2Size;
    if (payloadEnd > readLength) return STATUS_INVALID_PARAMETER;
    if (layout.transferCount + 4ull > kMaxStreamTransfers) return STATUS_INSUFFICIENT_RESOURCES;

    transfers.reserve(layout.transferCount + 4ull);
    transfers.push_back({TransferKind::Leader, leader, trailer - leader});
    std::uint64_t offset = 0;
    for (std::uint32_t i = 0; i < layout.transferCount; ++i, offset += layout.transferSize)
        transfers.push_back({TransferKind::Payload, offset, layout.transferSize});
    if (layout.final1Size != 0) transfers.push_back({TransferKind::Final1, offset, layout.final1Size});
    offset += layout.final1Size;
    if (layout.final2Size != 0) transfers.push_back({TransferKind::Final2, offset, layout.final2Size});
    transfers.push_back({TransferKind::Trailer, trailer, readLength - trailer});
    return STATUS_SUCCESS;
}

} // namespace qorcam::usbdrv
