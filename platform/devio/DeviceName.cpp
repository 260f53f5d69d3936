// DeviceName: device names mapped onto the socket folder under the run-time root.
#include "devio/DeviceName.h"

#include "os/Paths.h"

namespace qorcam::devio {
namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

} // namespace

std::filesystem::path DeviceDirectory() {
    return std::filesystem::path(os::Paths::Run()) / "dev";
}

std::filesystem::path DeviceInterfaceDirectory(std::string_view classGuid) {
    if (!IsPlainName(classGuid)) return {};
    return DeviceDirectory() / std::string(classGuid);
}

std::filesystem::path DevicePath(std::string_view name) {
    if (name.starts_with(kDevicePrefix)) {
        const std::string_view device = name.substr(kDevicePrefix.size());
        if (!IsPlainName(device)) return {};
        return DeviceDirectory() / std::string(device);
    }
    if (!name.empty() && name.front() == '/' && name.find('\0') == std::string_view::npos)
        return std::string(name);
    return {};
}

} // namespace qorcam::devio
