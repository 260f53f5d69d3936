// ImageFiles: the snapshot and record file formats (raw payload files, 32-bit BMP, GIF).
#pragma once

#include "QorCam.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qorcam::viewer {

/// The file type a snapshot is written as, chosen by its extension.
enum class ImageFileType { None, Raw, Bmp, Jpeg, Png, Tiff, Gif };

/// "bmp", "jpg"/"jpe"/"jpeg", "png", "tif", "gif" and "raw", in any case;
/// every other extension is None (nothing is written).
ImageFileType ImageFileTypeFor(const std::string& extension);
/// The extension of a path (after the last '.' of its last component), or empty.
std::string ExtensionOf(const std::string& path);

/// The 16-byte header of a raw payload file, little-endian.
std::array<uint8_t, 16> RawFileHeader(uint32_t payloadBytes, int32_t width, int32_t height);
/// Creates (or replaces) the raw file with the header and the payload. 1
/// when every byte was written; otherwise 0, and a file it created is removed.
int SaveRawFile(const std::string& name, const uint8_t* data, uint32_t size, int32_t width, int32_t height);

/// A picture as 32-bit blue-green-red-unused pixels, rows bottom-up as in a
/// BMP file (the first row in memory is the bottom of the picture).
struct Bgrx {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels; ///< width * 4 * height bytes
};

/// Converts a camera image of 8 (with its colour table, grey without one),
/// 24 or 32 bits a pixel into Bgrx. The camera's rows run top-down (the
/// windows draw them so), whatever the sign of the height. bitmapInfo is
/// the BITMAPINFO with its table; bits holds size bytes. False, with out
/// untouched, when the header is not one of those or the bits are too few.
bool ToBgrx(const std::vector<uint8_t>& bitmapInfo, const uint8_t* bits, size_t size, Bgrx& out);

/// The byte count of a 32-bit image's pixels, 0 when it is out of range.
uint32_t Bgrx32Size(int32_t width, int32_t height);
/// Writes a BMP file: the 14-byte file header, the 40-byte info header and
/// the pixels right behind them, no colour table.
bool WriteBmpFile(const std::string& name, const Bgrx& image);
/// Reads the pixels of a BMP file that WriteBmpFile made for a width x
/// height picture into size bytes at buffer, in up to five attempts. Fails
/// (buffer contents undefined) unless the file is exactly such a file: its
/// headers say 32 bits, no compression, that size and that picture, the
/// pixels start right behind the headers and the file ends with them.
bool ReadBmpFile(const std::string& name, uint8_t* buffer, uint32_t size, int32_t width, int32_t height);
/// Writes a GIF file of the picture, its colours reduced to 256.
bool WriteGifFile(const std::string& name, const Bgrx& image);

/// Writes the picture in one of the formats the display toolkit encodes
/// (JPEG, PNG, TIFF); the windows provide it.
using ImageEncoder = std::function<bool(const Bgrx& image, ImageFileType type, const std::string& name)>;

} // namespace qorcam::viewer
