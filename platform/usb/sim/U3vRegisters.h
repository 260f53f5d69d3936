// U3vRegisters: the simulated camera's memory map and the USB3 Vision constants it answers with.
#pragma once

#include <cstdint>

namespace qorcam::usb::sim::u3v {

// GenCP packet prefixes ("U3VC", "U3VE") and block prefixes ("U3VL", "U3VT").
inline constexpr std::uint32_t kPrefixControl = 0x43563355;
inline constexpr std::uint32_t kPrefixEvent = 0x45563355;
inline constexpr std::uint32_t kMagicLeader = 0x4C563355;
inline constexpr std::uint32_t kMagicTrailer = 0x54563355;

inline constexpr std::uint16_t kFlagAckRequested = 0x4000;
inline constexpr std::uint16_t kFlagResend = 0x8000;

inline constexpr std::uint16_t kReadMemCmd = 0x0800;
inline constexpr std::uint16_t kReadMemAck = 0x0801;
inline constexpr std::uint16_t kWriteMemCmd = 0x0802;
inline constexpr std::uint16_t kWriteMemAck = 0x0803;
inline constexpr std::uint16_t kPendingAck = 0x0805;
inline constexpr std::uint16_t kEventCmd = 0x0C00;
inline constexpr std::uint16_t kEventAck = 0x0C01;

inline constexpr std::uint16_t kStatusSuccess = 0x0000;
inline constexpr std::uint16_t kStatusNotImplemented = 0x8001;
inline constexpr std::uint16_t kStatusInvalidParameter = 0x8002;
inline constexpr std::uint16_t kStatusInvalidAddress = 0x8003;
inline constexpr std::uint16_t kStatusWriteProtect = 0x8004;
inline constexpr std::uint16_t kStatusBadAlignment = 0x8005;
inline constexpr std::uint16_t kStatusAccessDenied = 0x8006;
inline constexpr std::uint16_t kStatusInvalidHeader = 0x800E;
inline constexpr std::uint16_t kStatusDataDiscarded = 0xA100;

// Endpoints of the three interfaces.
inline constexpr std::uint8_t kEndpointControlOut = 0x01;
inline constexpr std::uint8_t kEndpointControlIn = 0x81;
inline constexpr std::uint8_t kEndpointEvent = 0x82;
inline constexpr std::uint8_t kEndpointStream = 0x83;

// Technology-agnostic bootstrap registers (ABRM), from address 0.
inline constexpr std::uint64_t kAbrmGenCpVersion = 0x0000;
inline constexpr std::uint64_t kAbrmManufacturerName = 0x0004;
inline constexpr std::uint64_t kAbrmModelName = 0x0044;
inline constexpr std::uint64_t kAbrmFamilyName = 0x0084;
inline constexpr std::uint64_t kAbrmDeviceVersion = 0x00C4;
inline constexpr std::uint64_t kAbrmManufacturerInfo = 0x0104;
inline constexpr std::uint64_t kAbrmSerialNumber = 0x0144;
inline constexpr std::uint64_t kAbrmUserDefinedName = 0x0184;
inline constexpr std::uint64_t kAbrmDeviceCapability = 0x01C4;
inline constexpr std::uint64_t kAbrmMaxDeviceResponseTime = 0x01CC;
inline constexpr std::uint64_t kAbrmManifestTableAddress = 0x01D0;
inline constexpr std::uint64_t kAbrmSbrmAddress = 0x01D8;
inline constexpr std::uint64_t kAbrmDeviceConfiguration = 0x01E0;
inline constexpr std::uint64_t kAbrmHeartbeatTimeout = 0x01E8;
inline constexpr std::uint64_t kAbrmMessageChannelId = 0x01EC;
inline constexpr std::uint64_t kAbrmTimestamp = 0x01F0;
inline constexpr std::uint64_t kAbrmTimestampLatch = 0x01F8;
inline constexpr std::uint64_t kAbrmTimestampIncrement = 0x01FC;
inline constexpr std::uint64_t kAbrmAccessPrivilege = 0x0204;
inline constexpr std::uint64_t kAbrmProtocolEndianness = 0x0208;
inline constexpr std::uint64_t kAbrmImplementationEndianness = 0x020C;
inline constexpr std::uint64_t kAbrmSize = 0x0210;
inline constexpr std::uint64_t kStringLength = 64;

// Where this camera keeps its other maps.
inline constexpr std::uint64_t kSbrmBase = 0x1000;
inline constexpr std::uint64_t kSirmBase = 0x2000;
inline constexpr std::uint64_t kEirmBase = 0x3000;
inline constexpr std::uint64_t kManifestBase = 0x4000;
inline constexpr std::uint64_t kFeatureBase = 0x10000;
inline constexpr std::uint64_t kDescriptionBase = 0x100000;

// USB3 Vision bootstrap registers (SBRM), from kSbrmBase.
inline constexpr std::uint64_t kSbrmU3vVersion = 0x00;
inline constexpr std::uint64_t kSbrmU3vcpCapability = 0x04;
inline constexpr std::uint64_t kSbrmU3vcpConfiguration = 0x0C;
inline constexpr std::uint64_t kSbrmMaxCommandTransfer = 0x14;
inline constexpr std::uint64_t kSbrmMaxAckTransfer = 0x18;
inline constexpr std::uint64_t kSbrmStreamChannels = 0x1C;
inline constexpr std::uint64_t kSbrmSirmAddress = 0x20;
inline constexpr std::uint64_t kSbrmSirmLength = 0x28;
inline constexpr std::uint64_t kSbrmEirmAddress = 0x2C;
inline constexpr std::uint64_t kSbrmEirmLength = 0x34;
inline constexpr std::uint64_t kSbrmIidc2Address = 0x38;
inline constexpr std::uint64_t kSbrmCurrentSpeed = 0x40;
inline constexpr std::uint64_t kSbrmSize = 0x44;

// Streaming interface registers (SIRM), from kSirmBase.
inline constexpr std::uint64_t kSiInfo = 0x00;
inline constexpr std::uint64_t kSiControl = 0x04;
inline constexpr std::uint64_t kSiRequiredPayloadSize = 0x08;
inline constexpr std::uint64_t kSiRequiredLeaderSize = 0x10;
inline constexpr std::uint64_t kSiRequiredTrailerSize = 0x14;
inline constexpr std::uint64_t kSiMaxLeaderSize = 0x18;
inline constexpr std::uint64_t kSiPayloadTransferSize = 0x1C;
inline constexpr std::uint64_t kSiPayloadTransferCount = 0x20;
inline constexpr std::uint64_t kSiPayloadFinalTransfer1Size = 0x24;
inline constexpr std::uint64_t kSiPayloadFinalTransfer2Size = 0x28;
inline constexpr std::uint64_t kSiMaxTrailerSize = 0x2C;
inline constexpr std::uint64_t kSirmSize = 0x30;

// Event interface registers (EIRM), from kEirmBase.
inline constexpr std::uint64_t kEiControl = 0x00;
inline constexpr std::uint64_t kEiMaxEventTransfer = 0x04;
inline constexpr std::uint64_t kEiEventTestControl = 0x08;
inline constexpr std::uint64_t kEirmSize = 0x0C;

// The camera's own features, from kFeatureBase.
inline constexpr std::uint64_t kFeatureWidth = 0x00;
inline constexpr std::uint64_t kFeatureHeight = 0x04;
inline constexpr std::uint64_t kFeaturePixelFormat = 0x08;
inline constexpr std::uint64_t kFeaturePayloadSize = 0x0C;
inline constexpr std::uint64_t kFeatureAcquisitionStart = 0x10;
inline constexpr std::uint64_t kFeatureAcquisitionStop = 0x14;
inline constexpr std::uint64_t kFeatureSize = 0x18;

inline constexpr std::uint32_t kPixelMono8 = 0x01080001;
inline constexpr std::uint32_t kPixelBayerRG8 = 0x01080009;

inline constexpr std::uint32_t kLeaderSize = 52;
inline constexpr std::uint32_t kTrailerSize = 32;
inline constexpr std::uint16_t kPayloadImage = 1;
inline constexpr std::uint16_t kEventIdTest = 0x4FFF;

} // namespace qorcam::usb::sim::u3v
