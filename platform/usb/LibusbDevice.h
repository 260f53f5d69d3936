// LibusbDevice: an opened USB device of the machine, through libusb-1.0.
#pragma once

#include "usb/Device.h"
#include "usb/LibusbContext.h"

#include <condition_variable>
#include <map>
#include <mutex>

struct libusb_device_handle;
struct libusb_transfer;

namespace qorcam::usb {

/// A device handle of libusb with the guarantees of Device; completions run
/// on the context's event thread. The interfaces that Claim takes are given
/// back when the handle is destroyed.
class LibusbDevice final : public Device {
public:
    LibusbDevice(std::shared_ptr<LibusbContext> context, libusb_device_handle* handle, std::string id);
    ~LibusbDevice() override;

    std::string Id() const override { return id_; }
    Status Claim() override;
    Status ControlTransfer(const SetupPacket& setup, std::span<std::uint8_t> data, std::uint32_t timeoutMs,
                           std::size_t& transferred) override;
    Status SubmitBulk(std::uint8_t endpoint, std::span<std::uint8_t> buffer, std::uint32_t timeoutMs,
                      Completion done, TransferId* id = nullptr) override;
    void Cancel(TransferId id) override;
    void AbortPipe(std::uint8_t endpoint) override;
    Status ResetPipe(std::uint8_t endpoint) override;
    bool OnCompletionThread() const override { return context_->OnEventThread(); }

    /// libusb's error code as a status.
    static Status FromLibusb(int error);

private:
    struct InFlight {
        libusb_transfer* transfer;
        std::uint8_t endpoint;
        Completion done;
    };
    static void TransferDone(libusb_transfer* transfer);

    std::shared_ptr<LibusbContext> context_;
    libusb_device_handle* handle_;
    const std::string id_;
    mutable std::mutex mutex_;
    std::condition_variable drained_;
    std::map<TransferId, InFlight> inFlight_;
    TransferId nextId_ = 1;
    int running_ = 0; ///< completions taken out of inFlight_ and still running
    std::vector<int> claimed_;
};

} // namespace qorcam::usb
