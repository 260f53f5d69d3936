// UsbDeviceControl.h: the device-control codes of the USB3 Vision service and the records its clients
// exchange with it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorcam::usbdrv {

// Every device of the service answers these codes. All are of device type
// 0x22 (unknown), any access; function numbers run from 0xA00.
inline constexpr std::uint32_t kUsbMethodInDirect = 1;
inline constexpr std::uint32_t kUsbMethodOutDirect = 2;

constexpr std::uint32_t UsbCtlCode(std::uint32_t function, std::uint32_t method) {
    return (0x22u << 16) | (function << 2) | method;
}

inline constexpr std::uint32_t IOCTL_USB_GetVersion = 0x222802;
inline constexpr std::uint32_t IOCTL_USB_GetControllerName = 0x222806;
inline constexpr std::uint32_t IOCTL_USB_GetDeviceInfo = 0x22280A;
inline constexpr std::uint32_t IOCTL_USB_SetCmdTimeout = 0x22280D;
inline constexpr std::uint32_t IOCTL_USB_SetMaxSize = 0x222811;
inline constexpr std::uint32_t IOCTL_USB_ProcessId = 0x222815;
inline constexpr std::uint32_t IOCTL_USB_DeviceOpen = 0x22281D;
inline constexpr std::uint32_t IOCTL_USB_DeviceClose = 0x222821;
inline constexpr std::uint32_t IOCTL_USB_SetStreamInfo = 0x222825;
inline constexpr std::uint32_t IOCTL_USB_SendCmd = 0x22282A;
inline constexpr std::uint32_t IOCTL_USB_GetEvent = 0x22282E;
inline constexpr std::uint32_t IOCTL_USB_GetStream = 0x222831;
inline constexpr std::uint32_t IOCTL_USB_SetMessageEnable = 0x222835;
inline constexpr std::uint32_t IOCTL_USB_GetMessage = 0x22283A;
inline constexpr std::uint32_t IOCTL_USB_ResetStreamPipe = 0x22283E;

static_assert(IOCTL_USB_GetVersion == UsbCtlCode(0xA00, kUsbMethodOutDirect));
static_assert(IOCTL_USB_GetControllerName == UsbCtlCode(0xA01, kUsbMethodOutDirect));
static_assert(IOCTL_USB_GetDeviceInfo == UsbCtlCode(0xA02, kUsbMethodOutDirect));
static_assert(IOCTL_USB_SetCmdTimeout == UsbCtlCode(0xA03, kUsbMethodInDirect));
static_assert(IOCTL_USB_SetMaxSize == UsbCtlCode(0xA04, kUsbMethodInDirect));
static_assert(IOCTL_USB_ProcessId == UsbCtlCode(0xA05, kUsbMethodInDirect));
static_assert(IOCTL_USB_DeviceOpen == UsbCtlCode(0xA07, kUsbMethodInDirect));
static_assert(IOCTL_USB_DeviceClose == UsbCtlCode(0xA08, kUsbMethodInDirect));
static_assert(IOCTL_USB_SetStreamInfo == UsbCtlCode(0xA09, kUsbMethodInDirect));
static_assert(IOCTL_USB_SendCmd == UsbCtlCode(0xA0A, kUsbMethodOutDirect));
static_assert(IOCTL_USB_GetEvent == UsbCtlCode(0xA0B, kUsbMethodOutDirect));
static_assert(IOCTL_USB_GetStream == UsbCtlCode(0xA0C, kUsbMethodInDirect));
static_assert(IOCTL_USB_SetMessageEnable == UsbCtlCode(0xA0D, kUsbMethodInDirect));
static_assert(IOCTL_USB_GetMessage == UsbCtlCode(0xA0E, kUsbMethodOutDirect));
static_assert(IOCTL_USB_ResetStreamPipe == UsbCtlCode(0xA0F, kUsbMethodOutDirect));

/// The device interface class of the service's devices: one socket per camera in its folder.
inline constexpr char kUsbDeviceInterfaceClass[] = "{097BDA20-222C-4952-A3A6-FF618734C21A}";

/// Completion statuses of the service beyond the common ones of the transport.
inline constexpr std::uint32_t STATUS_USB_DEVICE_OWNED = 0xC000020E; ///< open while owned; no owner
inline constexpr std::uint32_t STATUS_RETRY = 0xC000022D;            ///< a command's attempts ran out

/// Operations of UsbCmdRequest.
inline constexpr std::uint32_t kUsbCmdReadMemory = 0;
inline constexpr std::uint32_t kUsbCmdWriteMemory = 1; ///< with acknowledge
inline constexpr std::uint32_t kUsbCmdWriteMemoryNoAck = 2;

/// Smallest input and output of each code (0 = none required).
inline constexpr std::size_t kUsbCmdRequestMinimum = 24;
inline constexpr std::size_t kUsbControllerNameSize = 404;
inline constexpr std::size_t kUsbStreamSetupRequestSize = 1012; ///< what the producer sends

/// The interface version every client requires in the version answer.
inline constexpr std::uint32_t kUsbInterfaceVersion = 10106;

/// Output room an IOCTL_USB_GetMessage request must give; less is refused.
inline constexpr std::size_t kUsbMessageBufferSize = 1012;

#pragma pack(push, 1)

/// Answer of IOCTL_USB_GetVersion.
struct UsbVersionAnswer {
    std::uint32_t version; // kUsbInterfaceVersion
    std::uint32_t reserved;
};

/// One trace message of IOCTL_USB_GetMessage: the text is UTF-16,
/// zero-terminated unless it fills the record.
struct UsbMessageRecord {
    std::uint32_t vendorId;
    std::uint32_t serialNumber;
    std::uint32_t status;
    char16_t text[(kUsbMessageBufferSize - 12) / 2];
};

/// Input of IOCTL_USB_SendCmd: a header, then for writes length data bytes
/// from offset 18. A read request is exactly 24 bytes.
struct UsbCmdRequest {
    std::uint32_t processId;
    std::uint32_t operation; // kUsbCmd*
    std::uint64_t address;
    std::uint16_t length;
    std::uint8_t data[6];
};

/// Head of the answer of IOCTL_USB_SendCmd; read data follows from offset 4.
struct UsbCmdAnswer {
    std::uint16_t status; // GenCP status of the acknowledge
    std::uint16_t length; // read: data bytes; write: bytes written as acknowledged
};

/// Input of IOCTL_USB_SetStreamInfo (the first 32 bytes are read).
struct UsbStreamSetup {
    std::uint32_t processId;
    std::uint32_t payloadSize;
    std::uint32_t leaderOffset;
    std::uint32_t trailerOffset;
    std::uint32_t payloadTransferSize;
    std::uint32_t payloadTransferCount;
    std::uint32_t finalTransfer1Size;
    std::uint32_t finalTransfer2Size;
};

/// Input of IOCTL_USB_SetMaxSize: each value raises the current one when larger.
struct UsbMaxSizes {
    std::uint32_t ackWaitFloorMs;
    std::uint32_t commandBufferSize;
    std::uint32_t ackBufferSize;
    std::uint32_t eventTransferSize;
};

/// Input of IOCTL_USB_SetCmdTimeout.
struct UsbCmdTimeout {
    std::uint32_t processId;
    std::uint32_t milliseconds; // 0xFFFFFFFF: back to the service's default
};

/// Answer of IOCTL_USB_GetDeviceInfo.
struct UsbDeviceInfoRecord {
    std::uint32_t controlOutMaxPacketSize;
    char16_t deviceGuid[13];  // 12 hexadecimal characters and a zero
    std::uint8_t reserved[2]; // not written
};

#pragma pack(pop)

static_assert(sizeof(UsbCmdRequest) == kUsbCmdRequestMinimum);
static_assert(offsetof(UsbCmdRequest, address) == 8 && offsetof(UsbCmdRequest, length) == 16 &&
              offsetof(UsbCmdRequest, data) == 18);
static_assert(sizeof(UsbCmdAnswer) == 4);
static_assert(sizeof(UsbStreamSetup) == 32 && offsetof(UsbStreamSetup, payloadTransferSize) == 16);
static_assert(sizeof(UsbMaxSizes) == 16);
static_assert(sizeof(UsbCmdTimeout) == 8);
static_assert(sizeof(UsbDeviceInfoRecord) == 32 && offsetof(UsbDeviceInfoRecord, deviceGuid) == 4);
static_assert(sizeof(UsbVersionAnswer) == 8);
static_assert(sizeof(UsbMessageRecord) == kUsbMessageBufferSize);
static_assert(offsetof(UsbMessageRecord, status) == 8 && offsetof(UsbMessageRecord, text) == 12);

} // namespace qorcam::usbdrv
