// BmpInfo: the BITMAPINFO headers that describe converted and raw monochrome images.
#pragma once

#include "QorCam.h"

#include <cstdint>

namespace qorcam::library {

/// Bytes of a 32- or 24-bit header (one zeroed colour entry) and of an 8-bit
/// palettised one (256 grey entries).
constexpr std::uint32_t kColourBmpInfoSize = sizeof(BITMAPINFO);
constexpr std::uint32_t kMonoBmpInfoSize = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);

/// Writes the header of a converted image (32 bits, or 24 bits for DIB mode
/// 1): kColourBmpInfoSize bytes. False, and nothing written, when the width,
/// height or image size does not fit the header's fields.
bool FillColourBmpInfo(BITMAPINFO* info, std::uint32_t width, std::uint32_t height, std::uint32_t dibMode);

/// Writes an 8-bit grey header of kMonoBmpInfoSize bytes. paddedRows: rows
/// are counted at their 4-byte padded length (the camera's header), else at
/// the width (the stand-alone one). False, and nothing written, as above.
bool FillMonoBmpInfo(BITMAPINFO* info, std::uint32_t width, std::uint32_t height, bool paddedRows);

} // namespace qorcam::library
