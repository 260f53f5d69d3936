// Address helpers of the IP configuration tool: byte order, texts, subnets.
#include "IpText.h"

#include "GigeEntries.h"

#include <cstdio>

namespace qorcam::gigeconfig {

const char* CameraStatusText(std::uint32_t status) {
    static const char* texts[] = {"OK", "Subnet Outside", "DHCP Off", "Initializing", "Other Error"};
    return status < 5 ? texts[status] : "Other Error";
}

std::string FormatIpAddress(std::uint32_t ip) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(ip & 0xFF),
                  static_cast<int>((ip >> 8) & 0xFF), static_cast<int>((ip >> 16) & 0xFF),
                  static_cast<int>(ip >> 24));
    return text;
}

const char* IpModeText(std::uint32_t current) {
    if (current & 1) return "Static";
    if (current & 2) return "DHCP";
    return "LLA";
}

std::uint32_t WiderMask(std::uint32_t a, std::uint32_t b) {
    return SwapBytes32(a) >= SwapBytes32(b) ? a : b;
}

bool IsContiguousMask(std::uint32_t m) {
    const std::uint32_t inverted = ~m;
    return (inverted & (inverted + 1)) == 0;
}

} // namespace qorcam::gigeconfig
