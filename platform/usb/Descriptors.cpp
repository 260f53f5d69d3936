// Descriptors: checked parsers of the USB descriptors.
#include "usb/Descriptors.h"

namespace qorcam::usb {

namespace {

std::uint16_t Le16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(Le16(bytes, offset)) |
           (static_cast<std::uint32_t>(Le16(bytes, offset + 2)) << 16);
}

} // namespace

const InterfaceInfo* ConfigurationInfo::FindU3vInterface(std::uint8_t protocol) const {
    for (const auto& interface : interfaces) {
        if (interface.alternateSetting == 0 && interface.interfaceClass == kClassMiscellaneous &&
            interface.interfaceSubClass == kSubclassU3v && interface.interfaceProtocol == protocol)
            return &interface;
    }
    return nullptr;
}

bool ConfigurationInfo::IsUsb3Vision() const {
    return !deviceInfo.empty() || FindU3vInterface(kU3vProtocolControl) != nullptr;
}

std::optional<DeviceDescriptor> ParseDeviceDescriptor(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 18 || bytes[0] < 18 || bytes[1] != kDescriptorDevice) return std::nullopt;
    DeviceDescriptor d;
    d.bcdUSB = Le16(bytes, 2);
    d.deviceClass = bytes[4];
    d.deviceSubClass = bytes[5];
    d.deviceProtocol = bytes[6];
    d.maxPacketSize0 = bytes[7];
    d.vendorId = Le16(bytes, 8);
    d.productId = Le16(bytes, 10);
    d.bcdDevice = Le16(bytes, 12);
    d.manufacturerIndex = bytes[14];
    d.productIndex = bytes[15];
    d.serialNumberIndex = bytes[16];
    d.numConfigurations = bytes[17];
    return d;
}

std::optional<ConfigurationInfo> ParseConfiguration(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 9 || bytes[0] < 9 || bytes[1] != kDescriptorConfiguration) return std::nullopt;
    const std::size_t total = Le16(bytes, 2);
    if (total < bytes[0] || total > bytes.size()) return std::nullopt;
    bytes = bytes.first(total);

    ConfigurationInfo config;
    config.numInterfaces = bytes[4];
    config.configurationValue = bytes[5];
    config.attributes = bytes[7];
    InterfaceInfo* current = nullptr;
    for (std::size_t offset = bytes[0]; offset < total;) {
        const std::size_t length = bytes[offset];
        // A length below 2 would never advance; one running past the end is cut off.
        if (length < 2 || length > total - offset) return std::nullopt;
        const auto descriptor = bytes.subspan(offset, length);
        switch (descriptor[1]) {
        case kDescriptorInterface: {
            if (length < 9) return std::nullopt;
            InterfaceInfo interface;
            interface.number = descriptor[2];
            interface.alternateSetting = descriptor[3];
            interface.interfaceClass = descriptor[5];
            interface.interfaceSubClass = descriptor[6];
            interface.interfaceProtocol = descriptor[7];
            config.interfaces.push_back(std::move(interface));
            current = &config.interfaces.back();
            break;
        }
        case kDescriptorEndpoint: {
            if (length < 7) return std::nullopt;
            // An endpoint outside any interface belongs to nobody.
            if (current != nullptr)
                current->endpoints.push_back({descriptor[2], descriptor[3], Le16(descriptor, 4)});
            break;
        }
        case kDescriptorU3vDeviceInfo:
            if (config.deviceInfo.empty()) config.deviceInfo.assign(descriptor.begin(), descriptor.end());
            break;
        default:
            break;
        }
        offset += length;
    }
    return config;
}

std::optional<U3vDeviceInfo> ParseU3vDeviceInfo(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 12 || bytes[0] < 12 || bytes[0] > bytes.size() || bytes[1] != kDescriptorU3vDeviceInfo)
        return std::nullopt;
    const std::size_t length = bytes[0];
    U3vDeviceInfo info;
    info.genCpVersion = Le32(bytes, 3);
    info.u3vVersion = Le32(bytes, 7);
    info.deviceGuidIndex = bytes[11];
    auto at = [&](std::size_t offset) -> std::uint8_t { return offset < length ? bytes[offset] : 0; };
    info.vendorNameIndex = at(12);
    info.modelNameIndex = at(13);
    info.familyNameIndex = at(14);
    info.deviceVersionIndex = at(15);
    info.manufacturerInfoIndex = at(16);
    info.serialNumberIndex = at(17);
    info.userDefinedNameIndex = at(18);
    info.speedSupport = at(19);
    return info;
}

std::optional<std::u16string> ParseStringDescriptor(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2 || bytes[0] < 2 || bytes[0] > bytes.size() || bytes[1] != kDescriptorString)
        return std::nullopt;
    std::u16string text;
    for (std::size_t offset = 2; offset + 1 < bytes[0]; offset += 2)
        text.push_back(static_cast<char16_t>(Le16(bytes, offset)));
    return text;
}

std::string NarrowAscii(const std::u16string& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (char16_t c : text)
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

} // namespace qorcam::usb
