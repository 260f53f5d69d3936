// The address rules of the adapter and camera dialogs.
#pragma once

#include "GigeEntries.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qorcam::gigeconfig {

/// CIPAddrSetup's test of an adapter address (host order): an empty text
/// when it passes, else "IP Address Error", "Subnet Mask Error" or
/// "IP Address Overlap Error". adapterIps are the listed adapters' addresses
/// in network order; an address equal to startIp is not compared with them.
std::string CheckAdapterAddress(bool automatic, std::uint32_t ip, std::uint32_t mask, std::uint32_t startIp,
                                const std::vector<std::uint32_t>& adapterIps);

/// CCameraIPSetup::IsValidIpSetting, host order.
bool IsValidIpSetting(std::uint32_t ip, std::uint32_t mask, std::uint32_t gateway);

/// The address FORCEIP gives a camera (network order): the highest host
/// address of the adapter's subnet that no listed camera of that adapter
/// holds; never the subnet's own address, its broadcast address or the
/// adapter's address. None when no adapter or no free address.
std::optional<std::uint32_t> ChooseForceIpAddress(const NicEntry& nic,
                                                  const std::vector<CameraEntry>& cameras);

} // namespace qorcam::gigeconfig
