// UsbDriver: one device object per USB3 Vision camera on the bus, with its device socket.
#pragma once

#include "UsbDevice.h"
#include "UsbParameters.h"

#include "usb/Bus.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qorcam::usbdrv {

/// The socket of a camera: <run>/dev/{097BDA20-...}/<instance>, the instance
/// being the bus id with every character other than a letter, a digit, '-',
/// '_' or '.' replaced by '_' (and never "." or "..").
std::filesystem::path DeviceSocketPath(const std::string& busId);

/// The service's devices.
///
/// Guarantees: every camera the bus reports gets one prepared device object
/// whose socket exists while the camera is there; a camera that cannot be
/// prepared gets none (and a line on stderr). A removal releases the device
/// (its waiting requests complete with STATUS_DEVICE_NOT_CONNECTED) and
/// removes its socket. Stop (and the destructor) removes every device.
class UsbDriver {
public:
    UsbDriver(std::unique_ptr<usb::Bus> bus, UsbParameters parameters);
    ~UsbDriver();
    UsbDriver(const UsbDriver&) = delete;
    UsbDriver& operator=(const UsbDriver&) = delete;

    /// Starts watching the bus; false when it can't.
    bool Start();
    void Stop();
    /// Bus ids of the devices served now.
    std::vector<std::string> Devices() const;

private:
    void Arrived(const std::string& id);
    void Removed(const std::string& id);

    std::unique_ptr<usb::Bus> bus_;
    // The notices use the bus through this pointer: it stays valid while the bus's destructor
    // waits for a notice in progress.
    usb::Bus* const busForNotices_;
    const UsbParameters parameters_;
    mutable std::mutex mutex_;
    std::map<std::string, std::unique_ptr<UsbDevice>> devices_;
    bool stopped_ = false;
};

} // namespace qorcam::usbdrv
