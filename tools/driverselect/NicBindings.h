// NicBindingEntry and ConfigureNicBindings: the adapters and the numbered binding passes.
#pragma once

#include "NetCfg.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorcam::driverselect {

/// One adapter reached by a binding path, with the components bound to it.
struct NicBindingEntry {
    std::string displayName;
    std::string bindName;
    std::uint32_t ipv4 = 0;   ///< ms_tcpip bound
    std::uint32_t ipv6 = 0;   ///< ms_tcpip6 bound
    std::uint32_t client = 0; ///< ms_msclient bound
    std::uint32_t other = 0;  ///< the other services (the last one that reaches the adapter decides)
    std::uint32_t filter = 0; ///< QorGigEFilter bound: the row's check box
    std::array<std::uint8_t, 6> mac{};
};
using NicBindingEntries = std::vector<std::unique_ptr<NicBindingEntry>>;

/// The services behind the other-services flag, in pass order.
inline constexpr const char* kOtherServices[6] = {"ms_server", "ms_psched", "ms_pacer",
                                                  "ms_lltdio", "ms_rspndr", "ms_lldp"};

/// Modes: 0 "Original" (the GigE service alone), 1 IPv4 beside it, 2 the default set beside it.
const char* NicModeComboText(std::uint32_t mode);
const char* NicModeListText(std::uint32_t mode);
/// The mode the flags of an entry give.
std::uint32_t NicMode(const NicBindingEntry& entry);
/// Sets the IPv4, IPv6, client and other-services flags of a mode.
void SetModeFlags(NicBindingEntry& entry, std::uint32_t mode);

/// One binding pass (0 to 21) over the configuration: builds entries, reads
/// flags into them or applies them. A pass never applies the configuration;
/// a component that is not installed makes the pass do nothing.
void ConfigureNicBindings(NicBindingEntries& entries, CNetCfg& cfg, int pass);

} // namespace qorcam::driverselect
