// Status: the NTSTATUS-style completion codes and the layout of device-control codes.
#pragma once

#include <cstdint>

namespace qorcam::devio {

/// A completion status as the services report it: 0 is success, values with
/// the top bit set are errors, 0x4xxxxxxx are informational (still success).
using NtStatus = std::uint32_t;

inline constexpr NtStatus STATUS_SUCCESS = 0x00000000;
/// Returned by a request call when the service has queued the request; the
/// completion arrives later in the request's Overlapped record.
inline constexpr NtStatus STATUS_PENDING = 0x00000103;
inline constexpr NtStatus STATUS_UNSUCCESSFUL = 0xC0000001;
inline constexpr NtStatus STATUS_INVALID_HANDLE = 0xC0000008;
inline constexpr NtStatus STATUS_INVALID_PARAMETER = 0xC000000D;
inline constexpr NtStatus STATUS_INVALID_DEVICE_REQUEST = 0xC0000010;
inline constexpr NtStatus STATUS_ACCESS_DENIED = 0xC0000022;
inline constexpr NtStatus STATUS_BUFFER_TOO_SMALL = 0xC0000023;
inline constexpr NtStatus STATUS_OBJECT_NAME_INVALID = 0xC0000033;
inline constexpr NtStatus STATUS_OBJECT_NAME_NOT_FOUND = 0xC0000034;
inline constexpr NtStatus STATUS_NOT_FOUND = 0xC0000225;
inline constexpr NtStatus STATUS_OBJECT_NAME_COLLISION = 0xC0000035;
inline constexpr NtStatus STATUS_INSUFFICIENT_RESOURCES = 0xC000009A;
inline constexpr NtStatus STATUS_DEVICE_NOT_CONNECTED = 0xC000009D;
inline constexpr NtStatus STATUS_CANCELLED = 0xC0000120;

/// True for success and informational statuses, as NT_SUCCESS.
constexpr bool NtSuccess(NtStatus status) {
    return static_cast<std::int32_t>(status) >= 0;
}

inline constexpr std::uint32_t FILE_DEVICE_UNKNOWN = 0x22;
inline constexpr std::uint32_t METHOD_BUFFERED = 0;
inline constexpr std::uint32_t METHOD_IN_DIRECT = 1;
inline constexpr std::uint32_t METHOD_OUT_DIRECT = 2;
inline constexpr std::uint32_t METHOD_NEITHER = 3;
inline constexpr std::uint32_t FILE_ANY_ACCESS = 0;

/// Builds a device-control code from its four fields, the way the services'
/// code tables are written (device type 0x22, function 0x900 and
/// METHOD_OUT_DIRECT give 0x222402).
constexpr std::uint32_t CTL_CODE(std::uint32_t deviceType, std::uint32_t function, std::uint32_t method,
                                 std::uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

/// The transfer method in the low two bits of a control code.
constexpr std::uint32_t ControlCodeMethod(std::uint32_t code) {
    return code & 3u;
}

} // namespace qorcam::devio
