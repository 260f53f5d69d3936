// UsbDevice: the service's device object of one USB3 Vision camera: its device socket, queues and pipes.
#pragma once

#include "CommandChannel.h"
#include "HardwareInfo.h"
#include "StreamLayout.h"
#include "UsbParameters.h"

#include "devio/DeviceServer.h"
#include "devio/RequestQueue.h"
#include "os/Event.h"
#include "os/Thread.h"
#include "usb/Device.h"

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace qorcam::usbdrv {

/// The NTSTATUS a client sees for the outcome of a USB transfer.
devio::NtStatus ToNtStatus(usb::Status status);

/// One camera as the service serves it.
///
/// Guarantees:
/// - PrepareHardware reads the descriptors, finds the pipes, claims the
///   interfaces and starts the event reader; Serve then answers the
///   device-control codes and stream reads on the device socket.
/// - Ownership is by process: a process registers with IOCTL_USB_ProcessId
///   (pending for the life of its handle) and may then own the camera; when
///   the handle closes, its process gives up what it held. The process id a
///   request names must be the caller's own (SO_PEERCRED). Stream and event
///   reads, the maximum sizes of an open camera and the stream pipe's reset
///   are for root and the owner's user only (STATUS_ACCESS_DENIED). When the
///   owner changes (closes, its process goes, another opens), every stream
///   read, block-start notice and event read that the new state no longer
///   allows completes with STATUS_ACCESS_DENIED and no data, its transfers
///   back before the change returns: no later owner's data reaches it.
/// - Commands are served one at a time; events, block-start notices,
///   registrations and message requests wait in queues of their own, each
///   cancelable.
/// - Nothing a camera or a client sends makes the device read or write
///   outside a buffer: acknowledges, events and stream transfers are checked
///   against the request that receives them.
/// - Once the camera is gone (Release, or the USB device reports removal)
///   every queued request and every later one completes with
///   STATUS_DEVICE_NOT_CONNECTED; requests in flight complete with the
///   failure of their transfers. The destructor removes the socket after
///   every request has completed.
class UsbDevice {
public:
    UsbDevice(std::unique_ptr<usb::Device> device, UsbParameters parameters);
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    /// Descriptors, pipes, acknowledge read and event reader. STATUS_INSUFFICIENT_RESOURCES
    /// without the control pipes or the stream pipe; the USB failure otherwise.
    devio::NtStatus PrepareHardware();
    /// Serves the device socket at path.
    devio::NtStatus Serve(const std::filesystem::path& socketPath);
    /// The camera is gone: fails what waits and everything that comes later.
    void Release();
    bool IsReleased() const { return released_.load(); }

    /// The device GUID text read at preparation (empty without a device-info descriptor).
    const std::u16string& DeviceGuid() const { return guid_; }
    const UsbPipes& Pipes() const { return pipes_; }

private:
    class AckPort;
    struct StreamRead;

    void Dispatch(const devio::RequestPtr& request);
    void DeviceControl(const devio::RequestPtr& request);
    void RegisterProcess(const devio::RequestPtr& request, std::uint32_t processId);
    // True when the process gave up the camera with it.
    bool ProcessGone(const devio::Request& request);
    devio::NtStatus DeviceOpen(std::uint32_t processId, std::uint32_t caller, std::uint32_t user);
    // Whether the caller may read the camera's stream and events or change its
    // pipes: root, or a process of the owner's user. ownerNeeded: a camera
    // nobody opened refuses everyone but root.
    bool MayUseStream(const devio::Request& request, bool ownerNeeded) const;
    bool MayUseStreamLocked(const devio::Request& request, bool ownerNeeded) const;
    // After a change of owner: fails what the caller's process may no longer read.
    void DenyForeignReads();
    void DenyForeignQueued();
    devio::NtStatus DeviceClose(std::uint32_t processId, std::uint32_t caller);
    devio::NtStatus SetStreamInfo(std::span<const std::uint8_t> input, std::uint32_t caller);
    void SetCmdTimeout(std::uint32_t processId, std::uint32_t caller, std::uint32_t milliseconds);
    devio::NtStatus SetMaxSize(std::span<const std::uint8_t> input);
    void SendCmd(const devio::RequestPtr& request);
    bool RegisteredLocked(std::uint32_t processId) const;

    void CommandLoop();
    void ServeCommand(const devio::RequestPtr& request);
    devio::NtStatus RebuildAckBuffer(std::uint32_t size);
    void CancelAckRead();

    void StartEventReader();
    void StopEventReader();
    void EventLoop(std::uint32_t transferSize);

    void StartRead(const devio::RequestPtr& request);
    void TransferDone(const std::shared_ptr<StreamRead>& read, std::size_t index, usb::Status status,
                      std::size_t transferred);
    void FinishRead(const std::shared_ptr<StreamRead>& read);
    void CancelRead(const std::shared_ptr<StreamRead>& read);
    /// Marks a read cancelled (and denied, with deny) and cancels its transfers in flight.
    void CancelTransfers(StreamRead& read, bool deny);

    void FailQueued();

    std::unique_ptr<usb::Device> device_;
    const UsbParameters parameters_;
    UsbPipes pipes_;
    std::u16string guid_;
    std::atomic<bool> released_{false};
    std::atomic<bool> prepared_{false};
    std::atomic<std::uint32_t> messageLevel_{0};

    // Small state of the dispatcher.
    mutable std::mutex mutex_;
    std::uint32_t owner_ = 0;
    std::uint32_t ownerUser_ = 0;
    std::uint32_t ownerAckTimeoutMs_ = 0;
    std::uint32_t ackWaitFloorMs_ = 0;
    std::uint32_t commandBufferSize_ = 0;
    std::uint32_t ackBufferSize_ = 0;
    std::uint32_t eventTransferSize_ = 0;
    StreamLayout layout_;
    std::multimap<const devio::Request*, std::uint32_t> processes_; // one entry per pending registration
    std::set<std::shared_ptr<StreamRead>> reads_;                   // stream reads not yet finished

    devio::RequestQueue processIdQueue_;
    devio::RequestQueue commandQueue_;
    devio::RequestQueue eventQueue_;
    devio::RequestQueue streamQueue_;
    devio::RequestQueue messageQueue_;

    // The command channel: one command at a time, the acknowledge read left posted between commands.
    std::mutex commandMutex_;
    std::uint16_t requestId_ = 0;
    std::vector<std::uint8_t> ackBuffer_;
    os::Event ackDone_{os::ResetMode::Manual, true}; // set: no acknowledge read pending
    std::atomic<usb::Status> ackStatus_{usb::Status::Success};
    std::atomic<std::size_t> ackLength_{0};
    usb::Device::TransferId ackTransfer_ = 0;
    os::Event commandWork_{os::ResetMode::Auto};
    os::Event commandStop_{os::ResetMode::Manual};
    os::Thread commandThread_{"QorUsbCmd"};

    // The event reader.
    std::mutex eventMutex_;
    os::Event eventStop_{os::ResetMode::Manual};
    std::unique_ptr<os::Thread> eventThread_;

    std::unique_ptr<devio::DeviceServer> server_;
};

} // namespace qorcam::usbdrv
