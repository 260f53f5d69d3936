// DriverSource: what tells the GigE and USB3 Vision message channels apart for a driver collector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qorcam::tracelog {

/// One driver's message channel: its codes, buffer and request sizes and how
/// a record becomes a log line.
struct DriverSource {
    const char* threadName;
    std::uint32_t enableCode;
    std::uint32_t messageCode;
    std::size_t bufferSize;    // each slot's buffer
    std::size_t requestLength; // output room given with each request
    /// The line of one record (ending in "\n"), from the bytes the request
    /// returned; empty when they do not hold the record's fixed fields.
    std::optional<std::string> (*formatLine)(std::span<const std::uint8_t> record);
};

/// The GigE service: GigeMessageRecord, "Number =0x%08X Status=0x%08X %s\n".
extern const DriverSource kGigeSource;
/// A USB3 Vision device: UsbMessageRecord,
/// "Vendor=0x%04X SerialNumber=%d Status=0x%08X %s\n".
extern const DriverSource kUsbSource;

std::optional<std::string> FormatGigeMessage(std::span<const std::uint8_t> record);
std::optional<std::string> FormatUsbMessage(std::span<const std::uint8_t> record);

/// UTF-16 little-endian text up to its zero or the end of the bytes, as
/// UTF-8 (the files' 8-bit code page); an unpaired surrogate becomes '?'.
std::string WideToNarrow(std::span<const std::uint8_t> text);

} // namespace qorcam::tracelog
