// UsbParameters: reading CMDRETRY and CMDTIMEOUT.
#include "UsbParameters.h"

#include "os/SettingsStore.h"

namespace qorcam::usbdrv {

UsbParameters
UsbParameters::FromValues(const std::function<std::optional<std::uint32_t>(std::string_view)>& read) {
    UsbParameters parameters;
    const std::uint32_t retry = read("CMDRETRY").value_or(0);
    const std::uint32_t timeout = read("CMDTIMEOUT").value_or(0);
    parameters.cmdRetry = retry == 0 ? kDefaultCmdRetry : retry;
    parameters.cmdTimeoutMs = timeout == 0 ? kDefaultCmdTimeoutMs : timeout;
    return parameters;
}

UsbParameters UsbParameters::Load() {
    os::SettingsStore store(os::SettingsStore::Hive::Machine);
    return FromValues([&](std::string_view name) { return store.GetDword(kUsbParametersKey, name); });
}

} // namespace qorcam::usbdrv
