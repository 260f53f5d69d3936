// U3vPackets: building control packets and checking what a camera sends.
#include "U3vPackets.h"

namespace qorcam::usbdrv {

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, static_cast<std::uint16_t>(value));
    Put16(out, static_cast<std::uint16_t>(value >> 16));
}
void Put64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    Put32(out, static_cast<std::uint32_t>(value));
    Put32(out, static_cast<std::uint32_t>(value >> 32));
}
void PutHeader(std::vector<std::uint8_t>& out, std::uint32_t prefix, std::uint16_t flags,
               std::uint16_t command, std::uint16_t length, std::uint16_t requestId) {
    Put32(out, prefix);
    Put16(out, flags);
    Put16(out, command);
    Put16(out, length);
    Put16(out, requestId);
}

} // namespace

std::uint16_t GetLe16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t GetLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return GetLe16(bytes, offset) | static_cast<std::uint32_t>(GetLe16(bytes, offset + 2)) << 16;
}

std::vector<std::uint8_t> BuildReadCommand(std::uint16_t flags, std::uint16_t requestId,
                                           std::uint64_t address, std::uint16_t count) {
    std::vector<std::uint8_t> packet;
    packet.reserve(24);
    PutHeader(packet, kU3vPrefixControl, flags, kU3vReadMemCmd, 12, requestId);
    Put64(packet, address);
    Put16(packet, 0);
    Put16(packet, count);
    return packet;
}

std::vector<std::uint8_t> BuildWriteCommand(std::uint16_t flags, std::uint16_t requestId,
                                            std::uint64_t address, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> packet;
    packet.reserve(20 + data.size());
    // The header's length field is 16 bits: callers keep data at most 0xFFFF - 8 bytes.
    PutHeader(packet, kU3vPrefixControl, flags, kU3vWriteMemCmd, static_cast<std::uint16_t>(data.size() + 8),
              requestId);
    Put64(packet, address);
    packet.insert(packet.end(), data.begin(), data.end());
    return packet;
}

std::array<std::uint8_t, kU3vHeaderSize> BuildEventAck(std::uint16_t requestId) {
    std::vector<std::uint8_t> bytes;
    PutHeader(bytes, kU3vPrefixEvent, 0, kU3vEventAck, 0, requestId);
    std::array<std::uint8_t, kU3vHeaderSize> ack{};
    for (std::size_t i = 0; i < ack.size(); ++i)
        ack[i] = bytes[i];
    return ack;
}

std::optional<U3vCommandHeader> ParseHeader(std::span<const std::uint8_t> packet, std::uint32_t prefix) {
    if (packet.size() < kU3vHeaderSize || GetLe32(packet, 0) != prefix) return std::nullopt;
    return U3vCommandHeader{prefix, GetLe16(packet, 4), GetLe16(packet, 6), GetLe16(packet, 8),
                            GetLe16(packet, 10)};
}

EventDecision JudgeEvent(std::span<const std::uint8_t> packet, std::optional<std::uint16_t> lastRequestId) {
    EventDecision decision;
    const auto header = ParseHeader(packet, kU3vPrefixEvent);
    if (!header || kU3vHeaderSize + header->length > packet.size()) return decision;
    decision.valid = true;
    decision.requestId = header->requestId;
    decision.deliver = !lastRequestId || *lastRequestId != header->requestId;
    decision.acknowledge = (header->flags & kU3vFlagAckRequested) != 0;
    decision.size = kU3vHeaderSize + header->length;
    return decision;
}

} // namespace qorcam::usbdrv
