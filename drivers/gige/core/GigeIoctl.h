// Control codes and completion statuses of the GigE network service's device.
#pragma once

#include <cstdint>

namespace qorcam::gige {

inline constexpr uint32_t LIBRARY_STRUCT_VERSION = 10106;

inline constexpr uint32_t kMethodInDirect = 1;
inline constexpr uint32_t kMethodOutDirect = 2;

// FILE_DEVICE_UNKNOWN (0x22), any access; function numbers 0x900 upwards.
constexpr uint32_t GigeCtlCode(uint32_t function, uint32_t method) {
    return (0x22u << 16) | (function << 2) | method;
}
constexpr uint32_t CtlFunction(uint32_t code) {
    return (code >> 2) & 0xFFF;
}
constexpr uint32_t CtlMethod(uint32_t code) {
    return code & 3;
}

inline constexpr uint32_t IOCTL_GIGE_GetVersion = 0x222402;
inline constexpr uint32_t IOCTL_GIGE_SetCmdTimeout = 0x222405;
inline constexpr uint32_t IOCTL_GIGE_GetNicCount = 0x22240A;
inline constexpr uint32_t IOCTL_GIGE_RegisterProcess = 0x22240D;
inline constexpr uint32_t IOCTL_GIGE_WaitBusEvent = 0x222415;
inline constexpr uint32_t IOCTL_GIGE_GetDeviceList = 0x22241A;
inline constexpr uint32_t IOCTL_GIGE_GetDeviceInfo = 0x22241E;
inline constexpr uint32_t IOCTL_GIGE_DeviceOpen = 0x222421;
inline constexpr uint32_t IOCTL_GIGE_DeviceClose = 0x222425;
// IOCTL_GIGE_DeviceOpen may carry a third u32 of flags; with this one the
// caller only watches: the open succeeds whoever owns the camera, and the
// owner stays as it was (a watcher has nothing to close).
inline constexpr uint32_t kGigeOpenWatch = 1;
inline constexpr uint32_t IOCTL_GIGE_PortAlloc = 0x222429;
inline constexpr uint32_t IOCTL_GIGE_PortFree = 0x22242D;
inline constexpr uint32_t IOCTL_GIGE_AddMultiCast = 0x222431;
inline constexpr uint32_t IOCTL_GIGE_DelMultiCast = 0x222435;
inline constexpr uint32_t IOCTL_GIGE_StartHeartbeat = 0x222439;
inline constexpr uint32_t IOCTL_GIGE_StopHeartbeat = 0x22243D;
inline constexpr uint32_t IOCTL_GIGE_SendCmd = 0x222442;
inline constexpr uint32_t IOCTL_GIGE_SetStreamInfo = 0x222445;
inline constexpr uint32_t IOCTL_GIGE_GetStreamStatus = 0x22244A;
inline constexpr uint32_t IOCTL_GIGE_GetStream = 0x22244E;
inline constexpr uint32_t IOCTL_GIGE_GetTestPacket = 0x222452;
inline constexpr uint32_t IOCTL_GIGE_Rediscover = 0x222455;
inline constexpr uint32_t IOCTL_GIGE_SetMessageEnable = 0x222459;
inline constexpr uint32_t IOCTL_GIGE_GetMessage = 0x22245E;
inline constexpr uint32_t IOCTL_GIGE_SetAdapterAddress = 0x222461;
inline constexpr uint32_t IOCTL_GIGE_GetAdapterAddress = 0x222466;
inline constexpr uint32_t IOCTL_GIGE_GetNicList = 0x22246A;
inline constexpr uint32_t IOCTL_GIGE_SendNicCmd = 0x22246E;
inline constexpr uint32_t IOCTL_GIGE_StartDiscovery = 0x222472;
inline constexpr uint32_t IOCTL_GIGE_GetDiscoveryAck = 0x222476;
inline constexpr uint32_t IOCTL_GIGE_SetCameraIp = 0x222479;
inline constexpr uint32_t IOCTL_GIGE_GetStreamSync = 0x22247D;
inline constexpr uint32_t IOCTL_GIGE_SetStreamEnable = 0x222481;
inline constexpr uint32_t IOCTL_GIGE_SetEventInfo = 0x222485;
inline constexpr uint32_t IOCTL_GIGE_GetEvent = 0x22248A;
inline constexpr uint32_t IOCTL_GIGE_SendActionCmd = 0x22248D;
inline constexpr uint32_t IOCTL_GIGE_WaitActionAck = 0x222492;
inline constexpr uint32_t IOCTL_GIGE_GetDeviceStatus = 0x222496;

static_assert(IOCTL_GIGE_GetVersion == GigeCtlCode(0x900, kMethodOutDirect));
static_assert(IOCTL_GIGE_SetCmdTimeout == GigeCtlCode(0x901, kMethodInDirect));
static_assert(IOCTL_GIGE_GetDeviceStatus == GigeCtlCode(0x925, kMethodOutDirect));

// NTSTATUS-style completion statuses.
inline constexpr uint32_t STATUS_SUCCESS = 0x00000000;
inline constexpr uint32_t STATUS_PENDING = 0x00000103;
inline constexpr uint32_t STATUS_POWER_PARKED = 0x40000001;
inline constexpr uint32_t STATUS_NO_MORE_ENTRIES_LISTED = 0x801C0001;
inline constexpr uint32_t STATUS_UNSUCCESSFUL = 0xC0000001;
inline constexpr uint32_t STATUS_INVALID_PARAMETER = 0xC000000D;
inline constexpr uint32_t STATUS_INVALID_DEVICE_REQUEST = 0xC0000010;
inline constexpr uint32_t STATUS_ACCESS_DENIED = 0xC0000022;
inline constexpr uint32_t STATUS_BUFFER_TOO_SMALL = 0xC0000023;
inline constexpr uint32_t STATUS_INSUFFICIENT_RESOURCES = 0xC000009A;
inline constexpr uint32_t STATUS_NO_MEMORY_MAPPING = 0xC00000A0;
inline constexpr uint32_t STATUS_CANCELLED = 0xC0000120;
inline constexpr uint32_t STATUS_GIGE_DEVICE_LOST = 0xE0000005;
inline constexpr uint32_t STATUS_GIGE_NOT_SENT = 0xE0000100;
inline constexpr uint32_t STATUS_GIGE_NO_ACK = 0xE0000101;

} // namespace qorcam::gige
