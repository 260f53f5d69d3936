// CGigeDevice: the IP configuration tool's handle on the GigE service's device.
#pragma once

#include "GigeRecords.h"
#include "devio/DeviceHandle.h"

#include <cstdint>
#include <vector>

namespace qorcam::gigeconfig {

using gige::GigeDiscoveryAnswer;
using gige::GvcpCommandBlock;
using gige::NicInfoRecord;

/// GVCP request ids shared by every request of the tool: 1, 2, ..., 65535, 1, ...; never 0.
class CRequestIds {
public:
    std::uint16_t Next() {
        const std::uint16_t id = next_;
        next_ = id == 65535 ? 1 : static_cast<std::uint16_t>(id + 1);
        return id;
    }

private:
    std::uint16_t next_ = 1;
};

/// What the camera commands need of the device.
class CGvcpSender {
public:
    virtual ~CGvcpSender() = default;
    /// One GVCP command; the answer lands in the block. The completion
    /// status: 0 success. Register and memory commands that stay unanswered
    /// are cancelled after 3000 ms; with noLimit (FORCEIP) the call waits.
    virtual std::uint32_t SendNicCmd(GvcpCommandBlock& block, bool noLimit = false) = 0;
    /// Tells the service a camera's new address (MAC, network-order IP).
    virtual std::uint32_t SetCameraIp(const std::uint8_t mac[6], std::uint32_t ip) = 0;
};

/// The device \\.\QORGIGE, opened for the tool's requests.
///
/// Guarantees: every request waits for its completion (register and memory
/// commands at most 3000 ms, then they are cancelled and collected); answers
/// are taken only as far as the service filled them; no request is left in
/// flight when a call returns.
class CGigeDevice : public CGvcpSender {
public:
    static constexpr std::uint32_t kCommandWaitMs = 3000;

    devio::NtStatus Open();
    bool IsOpen() const { return handle_.IsOpen(); }
    void Close() { handle_.Close(); }
    devio::DeviceHandle& Handle() { return handle_; }

    /// The service's version (0 when it doesn't answer).
    std::uint32_t GetVersion();
    /// The adapters the service is bound to; empty when it has none or fails.
    std::vector<NicInfoRecord> GetNicList();
    void SetAdapterAddress(const std::u16string& name, std::uint32_t ip, std::uint32_t mask);
    devio::NtStatus StartDiscovery();

    std::uint32_t SendNicCmd(GvcpCommandBlock& block, bool noLimit = false) override;
    std::uint32_t SetCameraIp(const std::uint8_t mac[6], std::uint32_t ip) override;

    /// An overlapped request waited for as the tool does it: pending ones at
    /// most waitMs (0: no limit), then cancelled; the final status.
    devio::NtStatus Request(std::uint32_t code, const void* in, std::size_t inLength, void* out,
                            std::size_t outLength, std::uint32_t waitMs, std::uint64_t* bytes = nullptr);

private:
    devio::DeviceHandle handle_;
};

} // namespace qorcam::gigeconfig
