// VirtualDevice: the host's handle to a simulated USB device, over the device's socket.
#pragma once

#include "usb/Device.h"
#include "usb/SimProtocol.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace qorcam::usb {

/// A connection to one simulated device (see SimProtocol.h), with the
/// guarantees of Device. Its completion thread reads the socket. A transfer
/// whose time-out passes is cancelled on the device; a device that answers
/// neither the transfer nor its cancellation within kCancelGraceMs more is
/// given up on, and the transfer completes with Timeout (or Cancelled)
/// then, so no wait is unbounded. A record from the device that breaks the
/// protocol (a length beyond what was asked, an unknown type) ends the
/// connection as a removal. Not to be destroyed from its own completions.
class VirtualDevice final : public Device {
public:
    static constexpr std::uint32_t kCancelGraceMs = 1000;
    static constexpr std::uint32_t kSocketTimeoutMs = 5000;

    /// Connects to the device socket at path; null when nothing answers there.
    static std::unique_ptr<VirtualDevice> Connect(const std::string& id, const std::string& socketPath);
    ~VirtualDevice() override;

    std::string Id() const override { return id_; }
    Status Claim() override;
    Status ControlTransfer(const SetupPacket& setup, std::span<std::uint8_t> data, std::uint32_t timeoutMs,
                           std::size_t& transferred) override;
    Status SubmitBulk(std::uint8_t endpoint, std::span<std::uint8_t> buffer, std::uint32_t timeoutMs,
                      Completion done, TransferId* id = nullptr) override;
    void Cancel(TransferId id) override;
    void AbortPipe(std::uint8_t endpoint) override;
    Status ResetPipe(std::uint8_t endpoint) override;
    bool OnCompletionThread() const override;

    /// Sends a text command to the simulation (faults, events) and returns
    /// its answer; empty when the device is gone or does not answer in time.
    std::optional<std::string> SimCommand(const std::string& text, std::uint32_t timeoutMs = 5000);

private:
    using Clock = std::chrono::steady_clock;

    struct Pending {
        sim::RecordType type;
        std::uint8_t endpoint = 0;
        std::span<std::uint8_t> buffer; ///< where read data lands
        std::size_t sent = 0;           ///< bytes sent with the request
        Completion done;
        std::string* reply = nullptr; ///< SimCommand's answer
        Clock::time_point deadline = Clock::time_point::max();
        Clock::time_point giveUpAt = Clock::time_point::max();
        bool cancelSent = false;
        bool timedOut = false;
    };

    VirtualDevice(std::string id, int fd, int wake);
    Status Submit(sim::RecordType type, std::uint64_t tag, Pending pending,
                  std::span<const std::uint8_t> head, std::span<const std::uint8_t> data);
    Status Wait(sim::RecordType type, std::span<const std::uint8_t> head, std::span<const std::uint8_t> data,
                std::span<std::uint8_t> buffer, std::uint32_t timeoutMs, std::size_t& transferred,
                std::string* reply = nullptr);
    bool SendRecord(sim::RecordType type, std::uint64_t tag, std::span<const std::uint8_t> head,
                    std::span<const std::uint8_t> data);
    void SendCancelLocked(Pending& pending, std::uint64_t tag);
    void Wake();
    void IoLoop();
    /// Reads one record; false when the connection is over (closed or broken).
    bool ReadRecord();
    void CompleteExpired();
    void Finish(Status status);

    const std::string id_;
    const int fd_;
    const int wake_;
    mutable std::mutex mutex_;
    std::mutex sendMutex_;
    std::map<std::uint64_t, Pending> pending_;
    std::uint64_t nextTag_ = 1;
    bool gone_ = false; ///< the connection is over; requests are refused
    bool closing_ = false;
    std::thread io_;
};

} // namespace qorcam::usb
