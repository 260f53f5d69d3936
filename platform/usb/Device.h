// Device: one opened USB device: descriptors, control transfers, bulk transfers on its pipes, removal.
#pragma once

#include "usb/Descriptors.h"
#include "usb/Status.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace qorcam::usb {

/// An opened USB device, the same for every backend.
///
/// Guarantees: every submitted transfer completes exactly once, with its
/// status and the bytes moved, also when it is cancelled, times out or the
/// device goes away (Status::NoDevice); a time-out of 0 means none. A bulk IN
/// transfer ends at the device's short packet, so it may bring fewer bytes
/// than asked. Completions run on the backend's completion thread, never
/// inside SubmitBulk; a completion handler must not wait for another
/// transfer of the device (the blocking calls answer Status::Busy there).
/// The buffer of a transfer belongs to the device until its completion has
/// run. Destroying the device cancels what is in flight and waits for the
/// completions, so it must not happen inside one of them.
class Device {
public:
    using TransferId = std::uint64_t;
    using Completion = std::function<void(Status status, std::size_t transferred)>;

    virtual ~Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    /// The device's name on its bus, as Bus::Enumerate gives it.
    virtual std::string Id() const = 0;

    /// Takes the interfaces of the device's configuration for this handle,
    /// as bulk transfers need. Busy when another handle holds them.
    virtual Status Claim() = 0;

    /// One control transfer on the default pipe. For a device-to-host
    /// request data receives up to setup.length bytes; otherwise data holds
    /// the setup.length bytes sent. transferred is the byte count moved.
    virtual Status ControlTransfer(const SetupPacket& setup, std::span<std::uint8_t> data,
                                   std::uint32_t timeoutMs, std::size_t& transferred) = 0;

    /// Starts one bulk transfer on endpoint (bit 7 set: IN). On success the
    /// completion will run once and id (when given) names the transfer;
    /// otherwise it never runs.
    virtual Status SubmitBulk(std::uint8_t endpoint, std::span<std::uint8_t> buffer, std::uint32_t timeoutMs,
                              Completion done, TransferId* id = nullptr) = 0;
    /// Asks for the transfer to end; its completion follows, with Cancelled
    /// or with its real result when it finished first. Unknown ids are ignored.
    virtual void Cancel(TransferId id) = 0;
    /// Cancels every transfer in flight on endpoint, as Cancel does.
    virtual void AbortPipe(std::uint8_t endpoint) = 0;
    /// Cancels what is in flight on endpoint and clears its halt and its
    /// data toggle, on both sides.
    virtual Status ResetPipe(std::uint8_t endpoint) = 0;

    /// True once the device is gone; every later request then answers NoDevice.
    bool IsRemoved() const;
    /// Runs handler once, on the completion thread, when the device goes
    /// away (at once, on the caller's thread, when it is already gone).
    void SetRemovalHandler(std::function<void()> handler);
    /// True on the thread that runs this device's completions.
    virtual bool OnCompletionThread() const = 0;

    /// One bulk transfer, waited for.
    Status BulkTransfer(std::uint8_t endpoint, std::span<std::uint8_t> buffer, std::uint32_t timeoutMs,
                        std::size_t& transferred);
    /// Halts endpoint on the device (SET_FEATURE ENDPOINT_HALT).
    Status HaltPipe(std::uint8_t endpoint);
    /// Whether the device reports endpoint halted (GET_STATUS).
    Status IsPipeHalted(std::uint8_t endpoint, bool& halted);

    /// The device descriptor; raw receives its 18 bytes when given.
    Status GetDeviceDescriptor(DeviceDescriptor& descriptor, std::vector<std::uint8_t>* raw = nullptr);
    /// The whole configuration descriptor (its size first, then all of it).
    Status GetConfigurationDescriptor(std::vector<std::uint8_t>& bytes, std::uint8_t index = 0);
    /// The text of string descriptor index.
    Status GetStringDescriptor(std::uint8_t index, std::u16string& text,
                               std::uint16_t language = kLanguageEnglishUs);

    static constexpr std::uint32_t kDescriptorTimeoutMs = 1000;

protected:
    Device() = default;
    /// Marks the device gone and runs the removal handler when notify is
    /// set (a handle being closed is no removal); only the first call counts.
    void MarkRemoved(bool notify);

private:
    mutable std::mutex removalMutex_;
    bool removed_ = false;
    std::function<void()> removalHandler_;
};

} // namespace qorcam::usb
