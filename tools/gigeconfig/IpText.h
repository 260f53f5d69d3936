// Address helpers of the IP configuration tool: byte order, texts, subnets.
#pragma once

#include <cstdint>
#include <string>

namespace qorcam::gigeconfig {

/// Reverses the four bytes: between network order (as stored) and host
/// order (first octet in the high byte, as the address fields hold it).
constexpr std::uint32_t SwapBytes32(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}
/// "%d.%d.%d.%d" of an address in network order.
std::string FormatIpAddress(std::uint32_t networkOrder);
/// "Static", "DHCP" or "LLA" for a current IP configuration.
const char* IpModeText(std::uint32_t ipConfigCurrent);
/// The wider of two masks in network order: the larger as a host-order number.
std::uint32_t WiderMask(std::uint32_t maskA, std::uint32_t maskB);
/// Whether a host-order mask has its one bits contiguous from the top.
bool IsContiguousMask(std::uint32_t hostMask);

} // namespace qorcam::gigeconfig
