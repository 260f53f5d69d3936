// BmpInfo: the BITMAPINFO headers that describe converted and raw monochrome images.
#include "BmpInfo.h"

#include <cstring>
#include <limits>

namespace qorcam::library {

namespace {

// The fields both kinds share; false when a field would overflow.
bool FillHeader(BITMAPINFOHEADER& header, std::uint32_t width, std::uint32_t height, std::uint16_t bits,
                std::uint64_t imageBytes, std::uint32_t colours) {
    constexpr std::uint64_t kMaxSigned = std::numeric_limits<std::int32_t>::max();
    if (width > kMaxSigned || height > kMaxSigned || imageBytes > std::numeric_limits<std::uint32_t>::max())
        return false;
    std::memset(&header, 0, sizeof header);
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = static_cast<std::int32_t>(width);
    header.biHeight = static_cast<std::int32_t>(height); // positive: bottom-up
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<std::uint32_t>(imageBytes);
    header.biClrUsed = colours;
    return true;
}

} // namespace

bool FillColourBmpInfo(BITMAPINFO* info, std::uint32_t width, std::uint32_t height, std::uint32_t dibMode) {
    const std::uint64_t w = width, h = height;
    const bool dib24 = dibMode == QORCAM_DIB24;
    const std::uint64_t bytes = dib24 ? ((3 * w + 3) >> 2) * 4 * h : w * h * 4;
    BITMAPINFOHEADER header;
    if (!FillHeader(header, width, height, dib24 ? 24 : 32, bytes, 0)) return false;
    std::memcpy(&info->bmiHeader, &header, sizeof header);
    std::memset(&info->bmiColors[0], 0, sizeof(RGBQUAD));
    return true;
}

bool FillMonoBmpInfo(BITMAPINFO* info, std::uint32_t width, std::uint32_t height, bool paddedRows) {
    const std::uint64_t w = width, h = height;
    const std::uint64_t bytes = paddedRows ? ((w + 3) / 4) * 4 * h : w * h;
    BITMAPINFOHEADER header;
    if (!FillHeader(header, width, height, 8, bytes, 256)) return false;
    std::memcpy(&info->bmiHeader, &header, sizeof header);
    // The caller's block holds 256 entries behind the header.
    auto* table = reinterpret_cast<unsigned char*>(info) + sizeof(BITMAPINFOHEADER);
    for (unsigned i = 0; i < 256; ++i) {
        const RGBQUAD grey{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i),
                           static_cast<std::uint8_t>(i), 0};
        std::memcpy(table + i * sizeof(RGBQUAD), &grey, sizeof grey);
    }
    return true;
}

} // namespace qorcam::library
