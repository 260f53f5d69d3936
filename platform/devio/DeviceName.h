// DeviceName: where a device name such as \\.\QORGIGE lives in the file system.
#pragma once

#include <filesystem>
#include <string_view>

namespace qorcam::devio {

/// The folder that holds every device socket: <run>/dev.
std::filesystem::path DeviceDirectory();

/// The folder of a device interface class, "{GUID}" as the class names it:
/// <run>/dev/{GUID}/, one socket per device instance in it.
std::filesystem::path DeviceInterfaceDirectory(std::string_view classGuid);

/// The socket path of a device name: "\\.\NAME" is <run>/dev/NAME; an
/// absolute path (a device-interface path <run>/dev/{GUID}/<instance> as the
/// class folder lists it) is used as it stands. Any other name, and a
/// "\\.\" name that is empty, contains '/' or is "." or "..", gives an empty
/// path.
std::filesystem::path DevicePath(std::string_view name);

} // namespace qorcam::devio
