// CommandChannel: the command, resend and acknowledge logic of the control channel.
#include "CommandChannel.h"

#include "U3vPackets.h"
#include "UsbDeviceControl.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qorcam::usbdrv {

using namespace devio;

namespace {

void Store16(std::span<std::uint8_t> out, std::size_t offset, std::uint16_t value) {
    out[offset] = static_cast<std::uint8_t>(value);
    out[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

} // namespace

CommandResult UsbSendCmd(CommandPort& port, const CommandSettings& settings, const CommandOrder& order,
                         std::uint16_t requestId, std::span<std::uint8_t> output) {
    const bool read = order.operation == kUsbCmdReadMemory;
    const bool acknowledged = order.operation != kUsbCmdWriteMemoryNoAck;
    const std::size_t packetSize = read ? 24 : 20 + static_cast<std::size_t>(order.length);
    // A packet that does not fit the command buffer would have been built past its end.
    if (packetSize > settings.commandBufferSize || (!read && order.data.size() < order.length))
        return {STATUS_INVALID_PARAMETER, 0};

    std::uint32_t attemptsLeft = settings.attempts;
    for (std::uint32_t attempt = 0;; ++attempt) {
        if (port.Cancelled()) return {STATUS_CANCELLED, 0};
        if (attemptsLeft == 0) return {STATUS_RETRY, 0};
        if (acknowledged) {
            if (!port.AckReadPending()) port.PostAckRead();
            if (!port.AckReadPending()) return {STATUS_UNSUCCESSFUL, 0};
        }
        const bool resend = attempt > 0;
        std::vector<std::uint8_t> packet;
        if (read) {
            packet = BuildReadCommand(resend ? kU3vFlagAckRequested | kU3vFlagResend : kU3vFlagAckRequested,
                                      requestId, order.address, order.length);
        } else {
            std::uint16_t flags = order.operation == kUsbCmdWriteMemory ? kU3vFlagAckRequested : 0;
            if (resend) flags |= kU3vFlagResend;
            packet = BuildWriteCommand(flags, requestId, order.address, order.data.first(order.length));
        }
        const NtStatus sent = port.Send(packet, settings.sendTimeoutMs);
        if (!NtSuccess(sent)) return {sent, 0};
        if (!acknowledged) return {STATUS_SUCCESS, 0};

        std::uint32_t waitMs = settings.ackTimeoutMs;
        bool nextAttempt = false;
        while (!nextAttempt) {
            const CommandPort::Wake wake = port.WaitAck(waitMs);
            if (wake == CommandPort::Wake::Cancelled) return {STATUS_CANCELLED, 0};
            if (wake == CommandPort::Wake::Timeout) {
                nextAttempt = true;
                break;
            }
            const NtStatus readStatus = port.AckStatus();
            if (!NtSuccess(readStatus)) return {readStatus, 0};
            const std::span<const std::uint8_t> ack = port.AckBytes();
            const auto header = ParseHeader(ack, kU3vPrefixControl);
            if (!header || header->requestId != requestId) {
                nextAttempt = true; // a stray or late acknowledge of another command
                break;
            }
            if (header->commandId == kU3vReadMemAck) {
                const std::size_t count = ack.size() - kU3vHeaderSize;
                if (output.size() < 4 + count) return {STATUS_BUFFER_TOO_SMALL, 0};
                Store16(output, 0, GetLe16(ack, 4 + 0));
                Store16(output, 2, static_cast<std::uint16_t>(count));
                std::memcpy(output.data() + 4, ack.data() + kU3vHeaderSize, count);
                if (output.size() > 4 + count) output[4 + count] = 0;
                return {STATUS_SUCCESS, 4 + count};
            }
            // Pending and write acknowledges carry a u16 at offset 14; a shorter one is malformed.
            if (ack.size() < kU3vShortAckSize) {
                nextAttempt = true;
                break;
            }
            if (header->commandId == kU3vPendingAck) {
                waitMs = GetLe16(ack, 14);
                port.PostAckRead();
                if (!port.AckReadPending()) nextAttempt = true;
                continue;
            }
            if (output.size() < 4) return {STATUS_BUFFER_TOO_SMALL, 0};
            Store16(output, 0, GetLe16(ack, 4));
            Store16(output, 2, GetLe16(ack, 14));
            return {STATUS_SUCCESS, ack.size() - kU3vHeaderSize};
        }
        --attemptsLeft;
    }
}

} // namespace qorcam::usbdrv
