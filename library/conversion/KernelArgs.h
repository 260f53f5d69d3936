// What the conversion kernels receive from CConv::ConvExec (internal).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorcam::conversion {

// The YUV table rows as integer arithmetic: entry i of row k is
// sign(i - 128) x sign x ((|i - 128| x mul[k]) >> shift[k]), where sign is
// -1 when negative[k] is set. Found, and checked against every entry, when
// the table is built.
struct YuvLinear {
    int32_t mul[4] = {};
    int32_t shift[4] = {};
    bool negative[4] = {};
    // The same in 16 bits, where every row has such a form (fits16): the
    // magnitude is ((|i - 128| << pre16[k]) x mul16[k]) >> 16, pre16 0 to 8,
    // mul16 below 65536.
    bool fits16 = false;
    uint16_t mul16[4] = {};
    uint16_t pre16[4] = {};
};

// The multipliers m with (k x m) >> shift equal to |row[128 + k]| for k of
// 1 to 128 (row[0] for 128), as [lo, hi], hi at most cap; false when there
// are none.
bool MultiplierRange(const int32_t* row, int shift, int64_t cap, int64_t& lo, int64_t& hi);

// Finds the 16-bit form of the four table rows (256 entries each) whose
// 32-bit form linear holds; sets linear.fits16.
void FitYuv16(const int32_t* table, YuvLinear& linear);

// One conversion, checked and resolved: width and height at least 1, sizes
// within 32 bits, store mode and Bayer phase 0 to 3, the shift resolved.
struct KernelArgs {
    int32_t width = 0;
    int32_t height = 0;
    int32_t id = 0;
    uint32_t phase = 0;
    bool swapBytes = false; // 16-bit samples arrive high byte first
    uint32_t shift = 0;     // already masked to 0..31
    uint32_t storeMode = 0;
    bool revision = false;
    bool parallel = false;
    const uint8_t* src = nullptr;
    uint8_t* dst = nullptr;
    const int32_t* yuv = nullptr;
    const YuvLinear* yuvLinear = nullptr; // null when the table has no such form
    size_t srcStride = 0;
    size_t dstStride = 0;
};

enum class SampleKind { Byte, Word, Packed, Packed12p };

// Generic (non-Bayer) formats into pixels of pixelBytes (3 or 4) bytes.
void ConvertGeneric(const KernelArgs& args, int pixelBytes);
// Bayer mosaics of the given sample kind into pixels of 3 or 4 bytes.
void DemosaicBayer(const KernelArgs& args, int pixelBytes, SampleKind kind);

} // namespace qorcam::conversion
