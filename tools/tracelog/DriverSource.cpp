// DriverSource: the two drivers' message channels and their record lines.
#include "DriverSource.h"

#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "UsbDeviceControl.h"

#include <cstdio>
#include <cstring>

namespace qorcam::tracelog {
namespace {

std::uint32_t U32(std::span<const std::uint8_t> bytes, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string WideToNarrow(std::span<const std::uint8_t> text) {
    std::string out;
    const std::size_t units = text.size() / 2;
    auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(text[2 * i] | (text[2 * i + 1] << 8));
    };
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t u = unit(i);
        if (u == 0) break;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u < 0xE000) {
            out += '?';
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::optional<std::string> FormatGigeMessage(std::span<const std::uint8_t> record) {
    constexpr std::size_t kText = offsetof(gige::GigeMessageRecord, text);
    if (record.size() < kText) return std::nullopt;
    char head[64];
    std::snprintf(head, sizeof head, "Number =0x%08X Status=0x%08X ", U32(record, 0), U32(record, 4));
    return head + WideToNarrow(record.subspan(kText)) + "\n";
}

std::optional<std::string> FormatUsbMessage(std::span<const std::uint8_t> record) {
    constexpr std::size_t kText = offsetof(usbdrv::UsbMessageRecord, text);
    if (record.size() < kText) return std::nullopt;
    char head[96];
    std::snprintf(head, sizeof head, "Vendor=0x%04X SerialNumber=%d Status=0x%08X ", U32(record, 0),
                  static_cast<std::int32_t>(U32(record, 4)), U32(record, 8));
    return head + WideToNarrow(record.subspan(kText)) + "\n";
}

// The GigE service answers in 540-byte records; the slots keep their room
// of a full request block.
const DriverSource kGigeSource{"GigeDriverLog",
                               gige::IOCTL_GIGE_SetMessageEnable,
                               gige::IOCTL_GIGE_GetMessage,
                               802,
                               sizeof(gige::GigeMessageRecord),
                               FormatGigeMessage};

const DriverSource kUsbSource{"UsbDriverLog",
                              usbdrv::IOCTL_USB_SetMessageEnable,
                              usbdrv::IOCTL_USB_GetMessage,
                              usbdrv::kUsbMessageBufferSize,
                              usbdrv::kUsbMessageBufferSize,
                              FormatUsbMessage};

} // namespace qorcam::tracelog
