// CommandChannel: one GenCP memory read or write with resends, acknowledge time-outs and pending
// acknowledges.
#pragma once

#include "devio/Status.h"

#include <cstdint>
#include <span>

namespace qorcam::usbdrv {

using devio::NtStatus;

/// The control pipes of one camera as the command channel sees them. The
/// acknowledge read stays posted between commands; its completion is what
/// WaitAck waits for.
class CommandPort {
public:
    enum class Wake { Ack, Timeout, Cancelled };

    virtual ~CommandPort() = default;
    /// Sends one packet on the control-out pipe and waits for it.
    virtual NtStatus Send(std::span<const std::uint8_t> packet, std::uint32_t timeoutMs) = 0;
    /// True while an acknowledge read is posted and not completed.
    virtual bool AckReadPending() = 0;
    /// Posts an acknowledge read; a failure leaves none pending.
    virtual NtStatus PostAckRead() = 0;
    /// Waits for the posted read to complete (Ack), the time-out, or the
    /// command's cancellation.
    virtual Wake WaitAck(std::uint32_t timeoutMs) = 0;
    /// Status and bytes of the completed acknowledge read.
    virtual NtStatus AckStatus() = 0;
    virtual std::span<const std::uint8_t> AckBytes() = 0;
    /// True once the client cancelled the command.
    virtual bool Cancelled() = 0;
};

/// The settings one command runs with.
struct CommandSettings {
    std::uint32_t attempts = 5;        ///< CMDRETRY
    std::uint32_t sendTimeoutMs = 100; ///< CMDTIMEOUT
    std::uint32_t ackTimeoutMs = 100;  ///< max(owner's acknowledge timeout, wait floor)
    std::uint32_t commandBufferSize = 1024;
};

/// One memory read or write as the client asked for it.
struct CommandOrder {
    std::uint32_t operation = 0; ///< kUsbCmd*
    std::uint64_t address = 0;
    std::uint16_t length = 0;
    std::span<const std::uint8_t> data; ///< writes: length bytes
};

struct CommandResult {
    NtStatus status = devio::STATUS_SUCCESS;
    std::uint64_t information = 0; ///< byte count the client sees
};

/// Serves one command with requestId on every attempt, writing the answer
/// (UsbCmdAnswer and read data) into output. Never writes beyond output nor
/// reads beyond the acknowledge received; the caller advances the request id.
CommandResult UsbSendCmd(CommandPort& port, const CommandSettings& settings, const CommandOrder& order,
                         std::uint16_t requestId, std::span<std::uint8_t> output);

} // namespace qorcam::usbdrv
