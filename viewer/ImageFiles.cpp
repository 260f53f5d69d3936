// ImageFiles: the snapshot and record file formats (raw payload files, 32-bit BMP, GIF).
#include "ImageFiles.h"

#include <gif_lib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorcam::viewer {
namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kBmpHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}
uint32_t Get16(const uint8_t* p) {
    return p[0] | (uint32_t{p[1]} << 8);
}
uint32_t Get32(const uint8_t* p) {
    return Get16(p) | (Get16(p + 2) << 16);
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

size_t ReadAll(int fd, uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void RemoveIfRegular(const std::string& name) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(name.c_str());
}

/// Writes a file from parts; a regular file it could not fill is removed
/// (never a device or anything else the name may stand for).
bool WriteFile(const std::string& name, std::initializer_list<std::pair<const uint8_t*, size_t>> parts) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (const auto& [data, size] : parts)
        if (ok && size) ok = WriteAll(fd, data, size);
    if (::close(fd) != 0) ok = false;
    if (!ok) RemoveIfRegular(name);
    return ok;
}

} // namespace

std::string ExtensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot + 1);
}

ImageFileType ImageFileTypeFor(const std::string& extension) {
    std::string e = extension;
    std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return std::tolower(c); });
    if (e == "bmp") return ImageFileType::Bmp;
    if (e == "jpg" || e == "jpe" || e == "jpeg") return ImageFileType::Jpeg;
    if (e == "png") return ImageFileType::Png;
    if (e == "tif") return ImageFileType::Tiff;
    if (e == "gif") return ImageFileType::Gif;
    if (e == "raw") return ImageFileType::Raw;
    return ImageFileType::None;
}

std::array<uint8_t, 16> RawFileHeader(uint32_t payloadBytes, int32_t width, int32_t height) {
    std::array<uint8_t, 16> h{};
    Put16(&h[0], static_cast<uint32_t>(width) & 0xFFFF);
    Put16(&h[2], static_cast<uint32_t>(height) & 0xFFFF);
    Put16(&h[4], payloadBytes >> 16);
    Put16(&h[6], payloadBytes & 0xFFFF);
    // Bits per pixel: taken to 16 bits before the division by the height;
    // an image without width or height has none.
    uint32_t bits = 0;
    if (width != 0 && height != 0) {
        const uint32_t perRow =
            static_cast<uint32_t>(uint64_t{payloadBytes} * 8 / static_cast<uint32_t>(width));
        bits = (perRow & 0xFFFF) / static_cast<uint32_t>(height);
    }
    Put16(&h[8], bits);
    Put32(&h[10], 16);
    Put16(&h[14], 0);
    return h;
}

int SaveRawFile(const std::string& name, const uint8_t* data, uint32_t size, int32_t width, int32_t height) {
    if (!data && size) return 0;
    const auto header = RawFileHeader(size, width, height);
    return WriteFile(name, {{header.data(), header.size()}, {data, size}}) ? 1 : 0;
}

uint32_t Bgrx32Size(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    const uint64_t bytes = uint64_t(width) * 4 * uint64_t(height);
    return bytes > 0xFFFFFFFFull - kBmpHeaderBytes ? 0 : static_cast<uint32_t>(bytes);
}

bool ToBgrx(const std::vector<uint8_t>& bitmapInfo, const uint8_t* bits, size_t size, Bgrx& out) {
    if (bitmapInfo.size() < sizeof(BITMAPINFOHEADER) || !bits) return false;
    BITMAPINFOHEADER hd;
    std::memcpy(&hd, bitmapInfo.data(), sizeof hd);
    const int64_t rows = hd.biHeight < 0 ? -int64_t{hd.biHeight} : int64_t{hd.biHeight};
    if (rows > INT32_MAX) return false;
    const int32_t w = hd.biWidth, h = static_cast<int32_t>(rows);
    const uint32_t outSize = Bgrx32Size(w, h);
    const uint32_t bytesPerPixel = hd.biBitCount / 8;
    if (!outSize || hd.biCompression != 0 ||
        (bytesPerPixel != 1 && bytesPerPixel != 3 && bytesPerPixel != 4) || hd.biBitCount % 8 != 0)
        return false;
    // Rows are padded to four bytes; an image without padding is taken as
    // it is when the bits are too few for padded rows.
    const uint64_t tight = uint64_t(w) * bytesPerPixel;
    uint64_t stride = (tight + 3) / 4 * 4;
    if (stride * uint64_t(h) > size) stride = tight;
    if (stride * uint64_t(h) > size) return false;

    uint8_t table[256][4];
    for (int i = 0; i < 256; ++i)
        table[i][0] = table[i][1] = table[i][2] = static_cast<uint8_t>(i), table[i][3] = 0;
    if (bytesPerPixel == 1 && hd.biSize >= sizeof(BITMAPINFOHEADER) && hd.biSize <= bitmapInfo.size()) {
        const size_t used = hd.biClrUsed && hd.biClrUsed < 256 ? hd.biClrUsed : 256;
        const size_t room = (bitmapInfo.size() - hd.biSize) / sizeof(RGBQUAD);
        for (size_t i = 0; i < used && i < room; ++i) {
            std::memcpy(table[i], bitmapInfo.data() + hd.biSize + i * sizeof(RGBQUAD), 4);
            table[i][3] = 0;
        }
    }
    Bgrx image;
    image.width = w;
    image.height = h;
    image.pixels.resize(outSize);
    // The camera's top row becomes the last, as bottom-up rows want it.
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = bits + stride * uint64_t(h - 1 - y);
        uint8_t* dst = image.pixels.data() + uint64_t(w) * 4 * y;
        for (int32_t x = 0; x < w; ++x, dst += 4) {
            if (bytesPerPixel == 1) {
                std::memcpy(dst, table[src[x]], 4);
            } else {
                const uint8_t* p = src + uint64_t(x) * bytesPerPixel;
                dst[0] = p[0], dst[1] = p[1], dst[2] = p[2], dst[3] = 0;
            }
        }
    }
    out = std::move(image);
    return true;
}

bool WriteBmpFile(const std::string& name, const Bgrx& image) {
    const uint32_t size = Bgrx32Size(image.width, image.height);
    if (!size || image.pixels.size() != size) return false;
    uint8_t h[kBmpHeaderBytes] = {'B', 'M'};
    Put32(h + 2, size + kBmpHeaderBytes);
    Put32(h + 10, kBmpHeaderBytes);
    uint8_t* info = h + kFileHeaderBytes;
    Put32(info, kInfoHeaderBytes);
    Put32(info + 4, static_cast<uint32_t>(image.width));
    Put32(info + 8, static_cast<uint32_t>(image.height));
    Put16(info + 12, 1);
    Put16(info + 14, 32);
    Put32(info + 20, size);
    return WriteFile(name, {{h, sizeof h}, {image.pixels.data(), size}});
}

bool ReadBmpFile(const std::string& name, uint8_t* buffer, uint32_t size, int32_t width, int32_t height) {
    if (!buffer || !size || size != Bgrx32Size(width, height)) return false;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st {};
        uint8_t h[kBmpHeaderBytes];
        bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadAll(fd, h, sizeof h) == sizeof h;
        if (ok) {
            const uint8_t* info = h + kFileHeaderBytes;
            ok = h[0] == 'B' && h[1] == 'M' && Get32(h + 2) == size + kBmpHeaderBytes &&
                 Get32(h + 10) == kBmpHeaderBytes && Get32(info) == kInfoHeaderBytes &&
                 Get32(info + 4) == static_cast<uint32_t>(width) &&
                 Get32(info + 8) == static_cast<uint32_t>(height) && Get16(info + 14) == 32 &&
                 Get32(info + 16) == 0;
        }
        if (ok) {
            // The file ends with the pixels: one byte more is as wrong as one less.
            uint8_t extra;
            ok = ReadAll(fd, buffer, size) == size && ReadAll(fd, &extra, 1) == 0;
        }
        ::close(fd);
        if (ok) return true;
    }
    return false;
}

bool WriteGifFile(const std::string& name, const Bgrx& image) {
    const uint32_t size = Bgrx32Size(image.width, image.height);
    if (!size || image.pixels.size() != size || image.width > 0xFFFF || image.height > 0xFFFF) return false;
    const size_t n = size_t(image.width) * size_t(image.height);
    std::vector<GifByteType> red(n), green(n), blue(n), indices(n);
    // GIF rows run top-down.
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t* src = image.pixels.data() + size_t(image.width) * 4 * size_t(image.height - 1 - y);
        for (int32_t x = 0; x < image.width; ++x) {
            const size_t i = size_t(y) * size_t(image.width) + size_t(x);
            blue[i] = src[x * 4], green[i] = src[x * 4 + 1], red[i] = src[x * 4 + 2];
        }
    }
    int colours = 256;
    GifColorType palette[256] = {};
    if (GifQuantizeBuffer(image.width, image.height, &colours, red.data(), green.data(), blue.data(),
                          indices.data(), palette) == GIF_ERROR)
        return false;
    ColorMapObject* map = GifMakeMapObject(256, palette);
    if (!map) return false;
    int error = 0;
    GifFileType* gif = EGifOpenFileName(name.c_str(), false, &error);
    if (!gif) {
        GifFreeMapObject(map);
        return false;
    }
    bool ok = EGifPutScreenDesc(gif, image.width, image.height, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, image.width, image.height, false, nullptr) == GIF_OK;
    for (int32_t y = 0; ok && y < image.height; ++y)
        ok = EGifPutLine(gif, indices.data() + size_t(y) * size_t(image.width), image.width) == GIF_OK;
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    GifFreeMapObject(map);
    if (!ok) RemoveIfRegular(name);
    return ok;
}

} // namespace qorcam::viewer
