// The address rules of the adapter and camera dialogs.
#include "AddressRules.h"

#include "IpText.h"

#include <algorithm>

namespace qorcam::gigeconfig {

namespace {

// The private ranges an adapter may take: whether the first two octets fit,
// and whether the mask's second octet must be 255.
bool RangeOf(std::uint32_t ip, bool* secondMaskOctetFixed) {
    const std::uint32_t a = ip >> 24, b = (ip >> 16) & 0xFF;
    *secondMaskOctetFixed = true;
    if (a == 10) {
        *secondMaskOctetFixed = false;
        return true;
    }
    return (a == 169 && b == 254) || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168);
}

} // namespace

std::string CheckAdapterAddress(bool automatic, std::uint32_t ip, std::uint32_t mask, std::uint32_t startIp,
                                const std::vector<std::uint32_t>& adapterIps) {
    if (automatic) return {};
    bool fixedSecond = true;
    if (!RangeOf(ip, &fixedSecond) || (ip & ~mask) != 1) return "IP Address Error";
    if ((mask >> 24) != 0xFF || (fixedSecond && ((mask >> 16) & 0xFF) != 0xFF) || !IsContiguousMask(mask) ||
        mask == 0xFFFFFFFF)
        return "Subnet Mask Error";
    if (ip != startIp && std::find(adapterIps.begin(), adapterIps.end(), SwapBytes32(ip)) != adapterIps.end())
        return "IP Address Overlap Error";
    return {};
}

bool IsValidIpSetting(std::uint32_t ip, std::uint32_t mask, std::uint32_t gateway) {
    if (ip == 0 || mask == 0 || mask == 0xFFFFFFFF || !IsContiguousMask(mask)) return false;
    const std::uint32_t host = ip & ~mask;
    if (host == 0 || host == 1 || host == ~mask) return false;
    return gateway == 0 || (gateway != ip && (gateway & mask) == (ip & mask));
}

std::optional<std::uint32_t> ChooseForceIpAddress(const NicEntry& nic,
                                                  const std::vector<CameraEntry>& cameras) {
    const std::uint32_t ip = SwapBytes32(nic.ip), mask = SwapBytes32(nic.mask);
    if (ip == 0 || !IsContiguousMask(mask) || mask == 0xFFFFFFFF) return std::nullopt;
    const std::uint32_t net = ip & mask;
    for (std::uint32_t host = ~mask - 1; host >= 1; --host) {
        const std::uint32_t candidate = net | host;
        if (candidate == ip) continue;
        const bool taken = std::any_of(cameras.begin(), cameras.end(), [&](const CameraEntry& c) {
            return c.adapterNumber == nic.adapterNumber && SwapBytes32(c.ip) == candidate;
        });
        if (!taken) return SwapBytes32(candidate);
    }
    return std::nullopt;
}

} // namespace qorcam::gigeconfig
