// DeviceDescription: the simulated camera's GenICam description, plain or zipped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorcam::usb::sim {

/// The description file that the camera keeps in its memory: Width, Height,
/// PixelFormat, PayloadSize, AcquisitionStart and AcquisitionStop on the
/// camera's feature registers.
class DeviceDescription {
public:
    /// The XML text for the camera's vendor and model names.
    static std::string Xml(const std::string& vendor, const std::string& model);
    /// A zip archive that holds content, deflated, as the one file name.
    static std::vector<std::uint8_t> Zip(const std::string& name, const std::string& content);
};

} // namespace qorcam::usb::sim
