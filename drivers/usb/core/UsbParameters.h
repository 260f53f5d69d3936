// UsbParameters: the service's settings CMDRETRY and CMDTIMEOUT.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace qorcam::usbdrv {

inline constexpr char kUsbParametersKey[] = "System\\CurrentControlSet\\Services\\QORUSBDRV\\Parameters";
inline constexpr std::uint32_t kDefaultCmdRetry = 5;
inline constexpr std::uint32_t kDefaultCmdTimeoutMs = 100;

/// The values read once when the service starts.
struct UsbParameters {
    std::uint32_t cmdRetry = kDefaultCmdRetry;         ///< attempts of one command
    std::uint32_t cmdTimeoutMs = kDefaultCmdTimeoutMs; ///< send time-out and default acknowledge time-out

    /// From a value reader; a missing value reads as 0, and 0 means the default.
    static UsbParameters
    FromValues(const std::function<std::optional<std::uint32_t>(std::string_view)>& read);
    /// From the machine settings under the runtime root.
    static UsbParameters Load();
};

} // namespace qorcam::usbdrv
