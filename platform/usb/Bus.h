// Bus: the USB3 Vision devices present, their arrival and removal, and opening one.
#pragma once

#include "usb/Device.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qorcam::usb {

/// A USB bus as seen by a driver: which USB3 Vision devices are there, when
/// one arrives or leaves, and a handle to one.
///
/// Guarantees: only USB3 Vision devices are listed and reported (a
/// configuration with the device-info descriptor or a USB3 Vision
/// interface). Watch reports every device present when it starts as an
/// arrival, then each change once, in order per device, from a thread of the
/// bus; it stops when the bus is destroyed. The callbacks may call Enumerate
/// and Open.
class Bus {
public:
    using Notice = std::function<void(const std::string& id)>;

    enum class Kind {
        Virtual, ///< simulated devices under <run>/usbsim
        Libusb,  ///< the machine's USB devices through libusb-1.0
    };

    virtual ~Bus() = default;
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    /// The ids of the USB3 Vision devices present now.
    virtual std::vector<std::string> Enumerate() = 0;
    /// A handle to the device, or null when it is gone or can't be opened.
    virtual std::unique_ptr<Device> Open(const std::string& id) = 0;
    /// Starts reporting arrivals and removals; false when it can't (or
    /// watches already).
    virtual bool Watch(Notice arrived, Notice removed) = 0;

    /// A bus of the kind; null when the backend can't start (no libusb).
    static std::unique_ptr<Bus> Create(Kind kind);
    /// The kind named by QORCAM_USB_BUS ("virtual" or "libusb"; unset or
    /// anything else: libusb).
    static Kind KindFromEnvironment();

protected:
    Bus() = default;
};

} // namespace qorcam::usb
