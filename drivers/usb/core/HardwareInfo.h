// HardwareInfo: what hardware preparation takes from a camera's descriptors: its GUID string and its pipes.
#pragma once

#include "usb/Descriptors.h"

#include <cstdint>
#include <optional>
#include <span>

namespace qorcam::usbdrv {

/// The bulk pipes of one camera, by the protocol of their interface.
struct UsbPipes {
    std::uint8_t controlOut = 0, controlIn = 0, event = 0, stream = 0; ///< endpoint addresses, 0 = none
    std::uint16_t controlOutMaxPacket = 0, controlInMaxPacket = 0, eventMaxPacket = 0;

    /// The control pipes and the stream pipe are there; the event pipe may be missing.
    bool Complete() const { return controlOut != 0 && controlIn != 0 && stream != 0; }
};

/// Walks the configuration descriptor by the descriptors' length bytes to
/// the first device-info descriptor (0x24) and returns its device GUID
/// string index (byte 11). Empty when there is none, or when a descriptor
/// is too short to hold it, has length 0, or runs past the bytes given.
std::optional<std::uint8_t> FindDeviceGuidIndex(std::span<const std::uint8_t> configuration);

/// The pipes of every interface at alternate setting 0: protocol 1 is the
/// event pipe, 2 the stream pipe, 0 the control pipes (IN and OUT); other
/// protocols and non-bulk endpoints are ignored; a later pipe of a role
/// replaces an earlier one.
UsbPipes FindPipes(const usb::ConfigurationInfo& configuration);

} // namespace qorcam::usbdrv
