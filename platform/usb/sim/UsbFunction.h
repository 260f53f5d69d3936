// UsbFunction: what a simulated device does on top of the USB plumbing of SimDeviceServer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qorcam::usb::sim {

/// The device's own behaviour: its descriptors, what it does with the bytes
/// that the host writes, and its simulation commands. Called on the server's
/// one thread.
class UsbFunction {
public:
    virtual ~UsbFunction() = default;

    virtual std::vector<std::uint8_t> DeviceDescriptor() const = 0;
    virtual std::vector<std::uint8_t> ConfigurationDescriptor() const = 0;
    /// The text of string descriptor index (from 1); empty when there is none.
    virtual std::optional<std::u16string> String(std::uint8_t index) const = 0;

    /// A bulk OUT transfer that the device took.
    virtual void OnBulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) = 0;
    /// The host cleared the halt of endpoint.
    virtual void OnHaltCleared(std::uint8_t endpoint) = 0;
    /// The host that held the interfaces let them go (or went away).
    virtual void OnReleased() = 0;
    /// A text command of the simulation; the answer goes back to the sender.
    virtual std::string OnCommand(const std::string& text) = 0;
};

} // namespace qorcam::usb::sim
