// Descriptors: the USB descriptor records that this layer and its users read, and their checked parsers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qorcam::usb {

inline constexpr std::uint8_t kDescriptorDevice = 0x01;
inline constexpr std::uint8_t kDescriptorConfiguration = 0x02;
inline constexpr std::uint8_t kDescriptorString = 0x03;
inline constexpr std::uint8_t kDescriptorInterface = 0x04;
inline constexpr std::uint8_t kDescriptorEndpoint = 0x05;
inline constexpr std::uint8_t kDescriptorInterfaceAssociation = 0x0B;
/// The class-specific USB3 Vision device-info descriptor.
inline constexpr std::uint8_t kDescriptorU3vDeviceInfo = 0x24;

/// Interface class and subclass of every USB3 Vision interface; the
/// protocol tells control (0), event (1) and streaming (2) apart.
inline constexpr std::uint8_t kClassMiscellaneous = 0xEF;
inline constexpr std::uint8_t kSubclassU3v = 0x05;
inline constexpr std::uint8_t kU3vProtocolControl = 0;
inline constexpr std::uint8_t kU3vProtocolEvent = 1;
inline constexpr std::uint8_t kU3vProtocolStream = 2;

inline constexpr std::uint8_t kEndpointDirectionIn = 0x80;
inline constexpr std::uint8_t kTransferTypeBulk = 0x02;
inline constexpr std::uint16_t kLanguageEnglishUs = 0x0409;

/// The 18-byte device descriptor, decoded.
struct DeviceDescriptor {
    std::uint16_t bcdUSB = 0;
    std::uint8_t deviceClass = 0;
    std::uint8_t deviceSubClass = 0;
    std::uint8_t deviceProtocol = 0;
    std::uint8_t maxPacketSize0 = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t bcdDevice = 0;
    std::uint8_t manufacturerIndex = 0;
    std::uint8_t productIndex = 0;
    std::uint8_t serialNumberIndex = 0;
    std::uint8_t numConfigurations = 0;
};

struct EndpointInfo {
    std::uint8_t address = 0; ///< bit 7 set: IN
    std::uint8_t attributes = 0;
    std::uint16_t maxPacketSize = 0;

    bool IsIn() const { return (address & kEndpointDirectionIn) != 0; }
    bool IsBulk() const { return (attributes & 0x03) == kTransferTypeBulk; }
};

struct InterfaceInfo {
    std::uint8_t number = 0;
    std::uint8_t alternateSetting = 0;
    std::uint8_t interfaceClass = 0;
    std::uint8_t interfaceSubClass = 0;
    std::uint8_t interfaceProtocol = 0;
    std::vector<EndpointInfo> endpoints;
};

/// A configuration descriptor with everything behind it, decoded.
struct ConfigurationInfo {
    std::uint8_t configurationValue = 0;
    std::uint8_t attributes = 0;
    std::uint8_t numInterfaces = 0;
    /// Every interface descriptor in the order given (all alternate settings).
    std::vector<InterfaceInfo> interfaces;
    /// The raw bytes of the first USB3 Vision device-info descriptor; empty
    /// when the configuration carries none.
    std::vector<std::uint8_t> deviceInfo;

    /// The interface with this protocol at alternate setting 0, if any.
    const InterfaceInfo* FindU3vInterface(std::uint8_t protocol) const;
    /// True for a USB3 Vision device: it carries the device-info descriptor
    /// or a USB3 Vision interface.
    bool IsUsb3Vision() const;
};

/// The USB3 Vision device-info descriptor, decoded. String indexes are 0
/// where the descriptor is too short to hold them.
struct U3vDeviceInfo {
    std::uint32_t genCpVersion = 0; ///< major in the upper 16 bits
    std::uint32_t u3vVersion = 0;
    std::uint8_t deviceGuidIndex = 0; ///< byte 11
    std::uint8_t vendorNameIndex = 0;
    std::uint8_t modelNameIndex = 0;
    std::uint8_t familyNameIndex = 0;
    std::uint8_t deviceVersionIndex = 0;
    std::uint8_t manufacturerInfoIndex = 0;
    std::uint8_t serialNumberIndex = 0;
    std::uint8_t userDefinedNameIndex = 0;
    std::uint8_t speedSupport = 0;
};

/// The standard request of a control transfer (the setup packet).
struct SetupPacket {
    std::uint8_t requestType = 0; ///< bit 7 set: device to host
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

inline constexpr std::uint8_t kRequestGetStatus = 0x00;
inline constexpr std::uint8_t kRequestClearFeature = 0x01;
inline constexpr std::uint8_t kRequestSetFeature = 0x03;
inline constexpr std::uint8_t kRequestGetDescriptor = 0x06;
inline constexpr std::uint8_t kRequestGetConfiguration = 0x08;
inline constexpr std::uint8_t kRequestSetConfiguration = 0x09;
inline constexpr std::uint8_t kRecipientDevice = 0x00;
inline constexpr std::uint8_t kRecipientEndpoint = 0x02;
inline constexpr std::uint16_t kFeatureEndpointHalt = 0x00;

// Parsers. Guarantees: every length is checked against the bytes given
// before it is used; malformed input gives an empty result, never a read
// past the end.

/// The device descriptor at the start of bytes (18 bytes, type 1).
std::optional<DeviceDescriptor> ParseDeviceDescriptor(std::span<const std::uint8_t> bytes);
/// A whole configuration (wTotalLength bytes, which must all be given).
std::optional<ConfigurationInfo> ParseConfiguration(std::span<const std::uint8_t> bytes);
/// A device-info descriptor (at least 12 bytes, type 0x24).
std::optional<U3vDeviceInfo> ParseU3vDeviceInfo(std::span<const std::uint8_t> bytes);
/// The UTF-16 text of a string descriptor (type 3; an odd byte is dropped).
std::optional<std::u16string> ParseStringDescriptor(std::span<const std::uint8_t> bytes);
/// UTF-16 text of plain ASCII characters as a narrow string ('?' elsewhere).
std::string NarrowAscii(const std::u16string& text);

} // namespace qorcam::usb
