// Byte order helpers, the Internet checksum and the frames the service builds.
#include "WireFormat.h"

#include <algorithm>

namespace qorcam::gige {

uint32_t ChecksumAdd(uint32_t sum, const uint8_t* data, size_t length) {
    size_t i = 0;
    for (; i + 1 < length; i += 2) {
        sum += Get16(data + i);
        if (sum > 0xFFFF0000u) sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (i < length) sum += uint32_t(data[i]) << 8;
    return sum;
}

uint16_t ChecksumFold(uint32_t sum) {
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(sum);
}

uint16_t InternetChecksum(const uint8_t* data, size_t length) {
    return static_cast<uint16_t>(~ChecksumFold(ChecksumAdd(0, data, length)));
}

size_t FinishIpv4Frame(std::span<uint8_t> buffer, size_t ipTotal) {
    if (buffer.size() < kEthernetHeader + kIpv4Header) return 0;
    uint8_t* ip = buffer.data() + kEthernetHeader;
    size_t ihl = size_t(ip[0] & 0x0F) * 4;
    if (ihl < kIpv4Header || kEthernetHeader + ihl > buffer.size()) return 0;
    uint8_t protocol = ip[9];
    uint8_t* l4 = ip + ihl;
    size_t room = buffer.size() - kEthernetHeader - ihl;
    if (ipTotal == 0) {
        if (protocol != kProtoUdp || room < kUdpHeader) return 0;
        ipTotal = ihl + Get16(l4 + 4);
    }
    if (ipTotal < ihl || ipTotal > 0xFFFF || ipTotal - ihl > room) return 0;
    size_t l4Length = ipTotal - ihl;
    Put16(ip + 2, static_cast<uint16_t>(ipTotal));
    Put16(ip + 10, 0);
    Put16(ip + 10, InternetChecksum(ip, ihl));

    auto pseudo = [&](size_t len) {
        uint32_t sum = ChecksumAdd(0, ip + 12, 8);
        sum += protocol;
        sum += static_cast<uint32_t>(len);
        return sum;
    };
    if (protocol == kProtoUdp && l4Length >= kUdpHeader) {
        Put16(l4 + 6, 0);
        uint16_t c = static_cast<uint16_t>(~ChecksumFold(ChecksumAdd(pseudo(l4Length), l4, l4Length)));
        Put16(l4 + 6, c == 0 ? 0xFFFF : c);
    } else if (protocol == kProtoTcp && l4Length >= 20) {
        Put16(l4 + 16, 0);
        Put16(l4 + 16, static_cast<uint16_t>(~ChecksumFold(ChecksumAdd(pseudo(l4Length), l4, l4Length))));
    } else if (protocol == kProtoIcmp && l4Length >= 4) {
        Put16(l4 + 2, 0);
        Put16(l4 + 2, InternetChecksum(l4, l4Length));
    }
    size_t length = kEthernetHeader + ipTotal;
    if (length < kMinFrame) {
        std::memset(buffer.data() + length, 0, std::min(kMinFrame, buffer.size()) - length);
        length = std::min(kMinFrame, buffer.size());
    }
    return length;
}

} // namespace qorcam::gige
