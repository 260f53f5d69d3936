// NicEntry and CameraEntry: the adapters and cameras the IP configuration tool lists.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qorcam::gigeconfig {

/// One adapter bound to the GigE service. Addresses in network order.
struct NicEntry {
    std::string displayName;
    std::string bindName; ///< the interface name the service gives
    std::uint32_t adapterNumber = 0;
    std::uint32_t ip = 0;
    std::uint32_t mask = 0;
    std::uint32_t gateway = 0;
    std::array<std::uint8_t, 6> mac{};
    std::uint8_t windowsIp = 0;   ///< the system owns the adapter's address (it has a Linux IPv4 address)
    std::uint8_t autoAddress = 0; ///< the adapter's address is automatic (profile file)
};

/// Camera status values of the "Status" column.
enum CameraStatus : std::uint32_t {
    kStatusOk = 0,
    kStatusSubnetOutside = 1,
    kStatusDhcpOff = 2,
    kStatusInitializing = 3,
    kStatusOtherError = 4,
};
const char* CameraStatusText(std::uint32_t status);

/// One camera found by the search. Addresses in network order.
struct CameraEntry {
    std::uint32_t adapterNumber = 0;
    std::uint32_t ipConfigOptions = 0; ///< bit 0 persistent IP, bit 1 DHCP, bit 2 link-local
    std::uint32_t ipConfigCurrent = 0;
    std::uint32_t ip = 0;
    std::uint32_t mask = 0;
    std::uint32_t gateway = 0;
    std::array<std::uint8_t, 6> mac{};
    std::string vendorName, modelName, userName;
    std::string xmlBaseName, xmlFileName;
    std::uint32_t status = kStatusOtherError;
    std::uint8_t writeMem = 0;
};

} // namespace qorcam::gigeconfig
