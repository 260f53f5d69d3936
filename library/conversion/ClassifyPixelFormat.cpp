// The table of accepted pixel format codes.
#include "ClassifyPixelFormat.h"

#include <algorithm>
#include <array>

namespace qorcam::conversion {
namespace {

struct FormatEntry {
    uint32_t code;
    int32_t id;
    uint32_t bits;
    uint32_t phase;
};

// Bayer rows give the four codes in the phase order RG, GB, GR, BG.
// clang-format off
constexpr std::array<FormatEntry, 73> kFormats{{
    {0x01080001, ConvMono8, 8, 0},
    {0x01080009, ConvBayer8, 8, 0}, {0x0108000A, ConvBayer8, 8, 1}, {0x01080008, ConvBayer8, 8, 2}, {0x0108000B, ConvBayer8, 8, 3},
    {0x010C0004, ConvMono10Packed, 10, 0},
    {0x010C003A, ConvMono10Packed, 10, 0},
    {0x010C0046, ConvMono10Packed, 10, 0},
    {0x010C0006, ConvMono12Packed, 12, 0},
    {0x010C003B, ConvMono12Packed, 12, 0},
    {0x010C0047, ConvMono12p, 12, 0},
    {0x010C0027, ConvBayer10Packed, 10, 0}, {0x010C0028, ConvBayer10Packed, 10, 1}, {0x010C0026, ConvBayer10Packed, 10, 2}, {0x010C0029, ConvBayer10Packed, 10, 3},
    {0x010C003D, ConvBayer10Packed, 10, 0}, {0x010C003E, ConvBayer10Packed, 10, 1}, {0x010C003C, ConvBayer10Packed, 10, 2}, {0x010C003F, ConvBayer10Packed, 10, 3},
    {0x010C0058, ConvBayer10Packed, 10, 0}, {0x010C0054, ConvBayer10Packed, 10, 1}, {0x010C0056, ConvBayer10Packed, 10, 2}, {0x010C0052, ConvBayer10Packed, 10, 3},
    {0x010C002B, ConvBayer12Packed, 12, 0}, {0x010C002C, ConvBayer12Packed, 12, 1}, {0x010C002A, ConvBayer12Packed, 12, 2}, {0x010C002D, ConvBayer12Packed, 12, 3},
    {0x010C0041, ConvBayer12Packed, 12, 0}, {0x010C0042, ConvBayer12Packed, 12, 1}, {0x010C0040, ConvBayer12Packed, 12, 2}, {0x010C0043, ConvBayer12Packed, 12, 3},
    {0x010C0059, ConvBayer12p, 12, 0}, {0x010C0055, ConvBayer12p, 12, 1}, {0x010C0057, ConvBayer12p, 12, 2}, {0x010C0053, ConvBayer12p, 12, 3},
    {0x01100003, ConvMono16, 10, 0},
    {0x01100005, ConvMono16, 12, 0},
    {0x01100007, ConvMono16, 16, 0},
    {0x0110000D, ConvBayer16, 10, 0}, {0x0110000E, ConvBayer16, 10, 1}, {0x0110000C, ConvBayer16, 10, 2}, {0x0110000F, ConvBayer16, 10, 3},
    {0x01100011, ConvBayer16, 12, 0}, {0x01100012, ConvBayer16, 12, 1}, {0x01100010, ConvBayer16, 12, 2}, {0x01100013, ConvBayer16, 12, 3},
    {0x0110002F, ConvBayer16, 16, 0}, {0x01100030, ConvBayer16, 16, 1}, {0x0110002E, ConvBayer16, 16, 2}, {0x01100031, ConvBayer16, 16, 3},
    {0x020C001E, ConvYuv411, 12, 0},
    {0x020C005A, ConvYCbCr411, 12, 0},
    {0x0210001F, ConvYuv422, 16, 0},
    {0x02100032, ConvYuv422Yuyv, 16, 0},
    {0x02100035, ConvRgb565, 16, 0},
    {0x02100036, ConvBgr565, 16, 0},
    {0x0210003B, ConvYCbCr422, 16, 0},
    {0x02180014, ConvRgb8, 24, 0},
    {0x02180015, ConvBgr8, 24, 0},
    {0x02180016, ConvRgbx8, 32, 0},
    {0x02180017, ConvBgrx8, 32, 0},
    {0x02180020, ConvYuv444, 24, 0},
    {0x0218005B, ConvYCbCr8, 24, 0},
    {0x0220001C, ConvRgb10V1Packed, 30, 0},
    {0x02200044, ConvRgb10V1Packed, 30, 0},
    {0x0220001D, ConvRgb10V2Packed, 30, 0},
    {0x02240034, ConvRgb12V1Packed, 36, 0},
    {0x02240045, ConvRgb12V1Packed, 36, 0},
    {0x02300018, ConvRgb16, 30, 0},
    {0x0230001A, ConvRgb16, 36, 0},
    {0x02300033, ConvRgb16, 48, 0},
    {0x02300019, ConvBgr16, 30, 0},
    {0x0230001B, ConvBgr16, 36, 0},
}};
// clang-format on

} // namespace

int32_t ClassifyPixelFormat(uint32_t pixelFormat, uint32_t* phase, uint32_t* bits) {
    if (phase) *phase = 0;
    auto it = std::find_if(kFormats.begin(), kFormats.end(),
                           [pixelFormat](const FormatEntry& e) { return e.code == pixelFormat; });
    if (it == kFormats.end()) return ConvUnknown;
    if (phase) *phase = it->phase;
    if (bits) *bits = it->bits;
    return it->id;
}

uint32_t AutoShiftFor(int32_t convFormatId, uint32_t bits) {
    switch (convFormatId) {
    case ConvMono16:
    case ConvBayer16:
        return bits == 0 ? 8 : std::clamp<uint32_t>(bits, 8, 16) - 8;
    case ConvRgb16:
    case ConvBgr16:
        return bits == 0 ? 8 : std::clamp<uint32_t>(bits / 3, 8, 16) - 8;
    default:
        return 0;
    }
}

} // namespace qorcam::conversion
