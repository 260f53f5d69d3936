// Kernels of every format that is not a Bayer mosaic, serial and in row bands.
#include "ConvTypes.h"
#include "KernelArgs.h"
#include "Parallel.h"
#include "Simd.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qorcam::conversion {
namespace {

inline uint8_t Clamp255(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Writes pixels of P bytes in the direction Dir (+1 or -1); only bytes 0 to 2
// of a pixel are ever touched.
template <int P, int Dir> struct PixelOut {
    uint8_t* d;
    inline void Put(uint8_t b, uint8_t g, uint8_t r) {
        d[0] = b;
        d[1] = g;
        d[2] = r;
        d += Dir * P;
    }
    inline void Grey(uint8_t v) { Put(v, v, v); }
};

struct Yuv {
    const int32_t* t;
    template <class Out> inline void Put(Out& out, int y, int u, int v) const {
        const uint8_t r = Clamp255(y + t[v]);
        const uint8_t g = Clamp255(y - (t[256 + v] + t[512 + u]));
        const uint8_t b = Clamp255(y + t[768 + u]);
        out.Put(b, g, r);
    }
};

inline uint8_t Sample16(const uint8_t* s, bool swap, uint32_t shift) {
    uint32_t v = swap ? (uint32_t{s[0]} << 8 | s[1]) : (uint32_t{s[1]} << 8 | s[0]);
    return static_cast<uint8_t>(v >> shift);
}

// 5- and 6-bit fields widened to 8 bits so that full scale stays full scale.
inline uint8_t Widen5(uint32_t v) {
    return static_cast<uint8_t>(v << 3 | v >> 2);
}
inline uint8_t Widen6(uint32_t v) {
    return static_cast<uint8_t>(v << 2 | v >> 4);
}

// The chroma byte that a partial group borrows from the group before it, or
// the neutral 128 when the row has no group before it.
inline int Borrow(const uint8_t* s, const uint8_t* rowStart, ptrdiff_t back) {
    return s - rowStart >= back ? s[-back] : 128;
}

// Bytes before pixel x0 of a row; x0 is 0 or a multiple of 16, so always
// the start of a whole group.
size_t SourceOffset(int32_t id, int x0) {
    const size_t x = static_cast<size_t>(x0);
    switch (id) {
    case ConvMono8:
        return x;
    case ConvYuv411:
    case ConvYCbCr411:
        return x / 4 * 6;
    case ConvYuv422:
    case ConvYuv422Yuyv:
    case ConvYCbCr422:
    case ConvMono16:
    case ConvRgb565:
    case ConvBgr565:
        return 2 * x;
    case ConvYuv444:
    case ConvYCbCr8:
    case ConvRgb8:
    case ConvBgr8:
        return 3 * x;
    case ConvRgb16:
    case ConvBgr16:
        return 6 * x;
    case ConvMono12Packed:
    case ConvMono10Packed:
    case ConvMono12p:
        return x / 2 * 3;
    case ConvRgb12V1Packed:
        return x / 2 * 9;
    default:
        return 4 * x;
    }
}

// Converts pixels x0 to width - 1 of the source row that starts at row; out
// points at the destination pixel of x0.
template <class Out> void ConvertRow(const KernelArgs& a, const uint8_t* row, int x0, Out out) {
    const int w = a.width;
    const uint8_t* s = row + SourceOffset(a.id, x0);
    const Yuv yuv{a.yuv};
    switch (a.id) {
    case ConvMono8:
        for (int x = x0; x < w; ++x)
            out.Grey(row[x]);
        break;
    case ConvYuv411: {
        int x = x0;
        for (; x + 4 <= w; x += 4, s += 6) {
            yuv.Put(out, s[1], s[0], s[3]);
            yuv.Put(out, s[2], s[0], s[3]);
            yuv.Put(out, s[4], s[0], s[3]);
            yuv.Put(out, s[5], s[0], s[3]);
        }
        const int rest = w - x;
        if (rest == 3) {
            yuv.Put(out, s[1], s[0], s[3]);
            yuv.Put(out, s[2], s[0], s[3]);
            yuv.Put(out, s[4], s[0], s[3]);
        } else if (rest > 0) {
            const int v = Borrow(s, row, 3);
            yuv.Put(out, s[1], s[0], v);
            if (rest == 2) yuv.Put(out, s[2], s[0], v);
        }
        break;
    }
    case ConvYCbCr411: {
        int x = x0;
        for (; x + 4 <= w; x += 4, s += 6) {
            yuv.Put(out, s[0], s[2], s[5]);
            yuv.Put(out, s[1], s[2], s[5]);
            yuv.Put(out, s[3], s[2], s[5]);
            yuv.Put(out, s[4], s[2], s[5]);
        }
        const int rest = w - x;
        if (rest == 1) {
            yuv.Put(out, s[0], Borrow(s, row, 4), Borrow(s, row, 1));
        } else if (rest > 1) {
            const int v = Borrow(s, row, 1);
            yuv.Put(out, s[0], s[2], v);
            yuv.Put(out, s[1], s[2], v);
            if (rest == 3) yuv.Put(out, s[3], s[2], v);
        }
        break;
    }
    case ConvYuv422: {
        int x = x0;
        for (; x + 2 <= w; x += 2, s += 4) {
            yuv.Put(out, s[1], s[0], s[2]);
            yuv.Put(out, s[3], s[0], s[2]);
        }
        if (x < w) yuv.Put(out, s[1], s[0], Borrow(s, row, 2));
        break;
    }
    case ConvYuv422Yuyv:
    case ConvYCbCr422: {
        int x = x0;
        for (; x + 2 <= w; x += 2, s += 4) {
            yuv.Put(out, s[0], s[1], s[3]);
            yuv.Put(out, s[2], s[1], s[3]);
        }
        if (x < w) yuv.Put(out, s[0], s[1], Borrow(s, row, 1));
        break;
    }
    case ConvYuv444:
        for (int x = x0; x < w; ++x, s += 3)
            yuv.Put(out, s[1], s[0], s[2]);
        break;
    case ConvYCbCr8:
        for (int x = x0; x < w; ++x, s += 3)
            yuv.Put(out, s[0], s[1], s[2]);
        break;
    case ConvRgb8:
        for (int x = x0; x < w; ++x, s += 3)
            out.Put(s[2], s[1], s[0]);
        break;
    case ConvBgr8:
        for (int x = x0; x < w; ++x, s += 3)
            out.Put(s[0], s[1], s[2]);
        break;
    case ConvRgbx8:
        for (int x = x0; x < w; ++x, s += 4)
            out.Put(s[2], s[1], s[0]);
        break;
    case ConvBgrx8:
        for (int x = x0; x < w; ++x, s += 4)
            out.Put(s[0], s[1], s[2]);
        break;
    case ConvMono16:
        for (int x = x0; x < w; ++x, s += 2)
            out.Grey(Sample16(s, a.swapBytes, a.shift));
        break;
    case ConvRgb16:
        for (int x = x0; x < w; ++x, s += 6)
            out.Put(Sample16(s + 4, a.swapBytes, a.shift), Sample16(s + 2, a.swapBytes, a.shift),
                    Sample16(s, a.swapBytes, a.shift));
        break;
    case ConvBgr16:
        for (int x = x0; x < w; ++x, s += 6)
            out.Put(Sample16(s, a.swapBytes, a.shift), Sample16(s + 2, a.swapBytes, a.shift),
                    Sample16(s + 4, a.swapBytes, a.shift));
        break;
    case ConvMono12Packed:
    case ConvMono10Packed: {
        int x = x0;
        for (; x + 2 <= w; x += 2, s += 3) {
            out.Grey(s[0]);
            out.Grey(s[2]);
        }
        if (x < w) out.Grey(s[0]);
        break;
    }
    case ConvMono12p: {
        int x = x0;
        for (; x + 2 <= w; x += 2, s += 3) {
            out.Grey(static_cast<uint8_t>(s[0] >> 4 | s[1] << 4));
            out.Grey(s[2]);
        }
        if (x < w) out.Grey(static_cast<uint8_t>(s[0] >> 4 | s[1] << 4));
        break;
    }
    case ConvRgb10V1Packed:
        for (int x = x0; x < w; ++x, s += 4)
            out.Put(s[1], s[2], s[3]);
        break;
    case ConvRgb10V2Packed:
        for (int x = x0; x < w; ++x, s += 4) {
            const uint32_t v =
                uint32_t{s[0]} | uint32_t{s[1]} << 8 | uint32_t{s[2]} << 16 | uint32_t{s[3]} << 24;
            out.Put(static_cast<uint8_t>(v >> 2), static_cast<uint8_t>(v >> 12),
                    static_cast<uint8_t>(v >> 22));
        }
        break;
    case ConvRgb12V1Packed: {
        int x = x0;
        for (; x + 2 <= w; x += 2, s += 9) {
            out.Put(s[3], s[2], s[0]);
            out.Put(s[8], s[6], s[5]);
        }
        if (x < w) out.Put(s[3], s[2], s[0]);
        break;
    }
    case ConvRgb565:
        for (int x = x0; x < w; ++x, s += 2) {
            const uint32_t v = uint32_t{s[0]} | uint32_t{s[1]} << 8;
            out.Put(Widen5(v >> 11), Widen6(v >> 5 & 63), Widen5(v & 31));
        }
        break;
    case ConvBgr565:
        for (int x = x0; x < w; ++x, s += 2) {
            const uint32_t v = uint32_t{s[0]} | uint32_t{s[1]} << 8;
            out.Put(Widen5(v & 31), Widen6(v >> 5 & 63), Widen5(v >> 11));
        }
        break;
    default:
        break;
    }
}

#if QORCAM_CONV_SIMD
// 8 x i32 -> 8 x i16, saturated.
QC_SIMD __m128i Narrow(__m256i x) {
    return _mm_packs_epi32(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
}

// Entries of table row k for eight 32-bit indices, by the row's arithmetic.
QC_SIMD __m256i LinearEntries(const YuvLinear& f, int k, __m256i index) {
    const __m256i n = _mm256_sub_epi32(index, _mm256_set1_epi32(128));
    const __m256i m = _mm256_mullo_epi32(_mm256_abs_epi32(n), _mm256_set1_epi32(f.mul[k]));
    const __m256i v = _mm256_sign_epi32(_mm256_srl_epi32(m, _mm_cvtsi32_si128(f.shift[k])), n);
    return f.negative[k] ? _mm256_sub_epi32(_mm256_setzero_si256(), v) : v;
}

// YUV pixels for 16 Y bytes whose pairs share the 8 U and 8 V bytes given as
// 32-bit indices; the saturating adds and packs give exactly the clamps of
// the scalar rule for any table entry. The entries are computed where the
// table has the arithmetic form, else gathered.
QC_SIMD void YuvPlanes(const KernelArgs& a, __m128i y, __m256i u, __m256i v, __m128i& b, __m128i& g,
                       __m128i& r) {
    __m256i tr, tg, tb;
    if (a.yuvLinear) {
        const YuvLinear& f = *a.yuvLinear;
        tr = LinearEntries(f, 0, v);
        tg = _mm256_add_epi32(LinearEntries(f, 1, v), LinearEntries(f, 2, u));
        tb = LinearEntries(f, 3, u);
    } else {
        const int32_t* t = a.yuv;
        tr = _mm256_i32gather_epi32(t, v, 4);
        tg = _mm256_add_epi32(_mm256_i32gather_epi32(t + 256, v, 4), _mm256_i32gather_epi32(t + 512, u, 4));
        tb = _mm256_i32gather_epi32(t + 768, u, 4);
    }
    const __m128i orr = Narrow(tr), og = Narrow(tg), ob = Narrow(tb);
    const __m128i ylo = _mm_cvtepu8_epi16(y), yhi = _mm_cvtepu8_epi16(_mm_srli_si128(y, 8));
    r = _mm_packus_epi16(_mm_adds_epi16(ylo, _mm_unpacklo_epi16(orr, orr)),
                         _mm_adds_epi16(yhi, _mm_unpackhi_epi16(orr, orr)));
    g = _mm_packus_epi16(_mm_subs_epi16(ylo, _mm_unpacklo_epi16(og, og)),
                         _mm_subs_epi16(yhi, _mm_unpackhi_epi16(og, og)));
    b = _mm_packus_epi16(_mm_adds_epi16(ylo, _mm_unpacklo_epi16(ob, ob)),
                         _mm_adds_epi16(yhi, _mm_unpackhi_epi16(ob, ob)));
}

// Table entries of eight chroma indices, by arithmetic or gathered.
QC_SIMD __m256i Entries(const KernelArgs& a, int k, __m256i index) {
    return a.yuvLinear ? LinearEntries(*a.yuvLinear, k, index) : _mm256_i32gather_epi32(a.yuv + 256 * k, index, 4);
}

// Y plus (or minus) each entry t, duplicated for the two pixels of its
// group, clamped to bytes in pixel order.
QC_SIMD __m256i YuvPlane32(__m256i ylo, __m256i yhi, __m256i t, bool subtract) {
    const __m256i dl = _mm256_unpacklo_epi16(t, t), dh = _mm256_unpackhi_epi16(t, t);
    const __m256i l = subtract ? _mm256_subs_epi16(ylo, dl) : _mm256_adds_epi16(ylo, dl);
    const __m256i h = subtract ? _mm256_subs_epi16(yhi, dh) : _mm256_adds_epi16(yhi, dh);
    // packus gives pixels 0-7, 16-23 | 8-15, 24-31.
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(l, h), 0xD8);
}

// 32 pixels of Y U Y V (or U Y V Y when uyvy) from 64 bytes, as 32-byte
// planes in pixel order; the same saturating arithmetic as YuvPlanes.
QC_SIMD void Yuv422x32(const KernelArgs& a, const uint8_t* s, bool uyvy, __m256i& b, __m256i& g, __m256i& r) {
    const __m256i lo = simd::Load32(s), hi = simd::Load32(s + 32);
    const __m256i byte = _mm256_set1_epi32(0xFF);
    // Y as 16-bit lanes: lo holds pixels 0-7 | 8-15, hi pixels 16-23 | 24-31.
    const __m256i ylo = uyvy ? _mm256_srli_epi16(lo, 8) : _mm256_and_si256(lo, _mm256_set1_epi16(0xFF));
    const __m256i yhi = uyvy ? _mm256_srli_epi16(hi, 8) : _mm256_and_si256(hi, _mm256_set1_epi16(0xFF));
    // One U and one V per 4-byte group, as 32-bit indices.
    const int uShift = uyvy ? 0 : 8, vShift = uyvy ? 16 : 24;
    const __m256i uLo = _mm256_and_si256(_mm256_srli_epi32(lo, uShift), byte);
    const __m256i uHi = _mm256_and_si256(_mm256_srli_epi32(hi, uShift), byte);
    const __m256i vLo = _mm256_and_si256(_mm256_srli_epi32(lo, vShift), byte);
    const __m256i vHi = _mm256_and_si256(_mm256_srli_epi32(hi, vShift), byte);
    // Saturated to 16 bits; lanes then hold groups 0-3, 8-11 | 4-7, 12-15,
    // so that duplicating each entry lines it up with the Y lanes.
    const __m256i tr = _mm256_packs_epi32(Entries(a, 0, vLo), Entries(a, 0, vHi));
    const __m256i tg = _mm256_packs_epi32(_mm256_add_epi32(Entries(a, 1, vLo), Entries(a, 2, uLo)),
                                          _mm256_add_epi32(Entries(a, 1, vHi), Entries(a, 2, uHi)));
    const __m256i tb = _mm256_packs_epi32(Entries(a, 3, uLo), Entries(a, 3, uHi));
    r = YuvPlane32(ylo, yhi, tr, false);
    g = YuvPlane32(ylo, yhi, tg, true);
    b = YuvPlane32(ylo, yhi, tb, false);
}

QC_SIMD __m256i Reverse32(__m256i v) {
    const __m256i rev = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
    return _mm256_permute2x128_si256(_mm256_shuffle_epi8(v, rev), _mm256_shuffle_epi8(v, rev), 0x01);
}

// Bytes k0 + 4j of two 16-byte halves as eight 32-bit indices.
QC_SIMD __m256i Chroma(__m128i lo, __m128i hi, int k0) {
    const char k = static_cast<char>(k0);
    const __m128i pick =
        _mm_setr_epi8(k, -1, -1, -1, static_cast<char>(k + 4), -1, -1, -1, static_cast<char>(k + 8), -1, -1,
                      -1, static_cast<char>(k + 12), -1, -1, -1);
    return _mm256_set_m128i(_mm_shuffle_epi8(hi, pick), _mm_shuffle_epi8(lo, pick));
}

// 16 grey values of a monochrome row from pixel x on.
QC_SIMD __m128i GreyBlock(const KernelArgs& a, const uint8_t* s, int x, __m128i shift) {
    if (a.id == ConvMono8) return simd::Load(s + x);
    if (a.id == ConvMono16) return simd::Reduce16(s + 2 * static_cast<size_t>(x), a.swapBytes, shift);
    if (a.id == ConvMono12p) return simd::UnpackLsb(s + static_cast<size_t>(x) / 2 * 3);
    return simd::UnpackMsb(s + static_cast<size_t>(x) / 2 * 3);
}

// Masks of Permute48 that turn 16 three-byte pixels into B G R, for RGB or
// BGR sources, in order or mirrored.
struct Masks48 {
    int8_t m[9][16];
    constexpr Masks48(bool rgb, bool mirror) : m{} {
        for (int j = 0; j < 48; ++j) {
            const int pixel = mirror ? 15 - j / 3 : j / 3;
            const int from = 3 * pixel + (rgb ? 2 - j % 3 : j % 3);
            for (int i = 0; i < 3; ++i)
                m[3 * (j / 16) + i][j % 16] = static_cast<int8_t>(from / 16 == i ? from % 16 : -1);
        }
    }
};
constexpr Masks48 kRgbFwd(true, false), kRgbRev(true, true), kBgrFwd(false, false), kBgrRev(false, true);

// Masks of Three2Four: destination pixels 4q to 4q + 3 come from the 16
// source bytes loaded at loads[q]; the last source quad is loaded from byte
// 32 so that no load leaves the 48 bytes.
struct Masks32 {
    int8_t m[4][16];
    int loads[4];
    constexpr Masks32(bool rgb, bool mirror) : m{}, loads{} {
        for (int q = 0; q < 4; ++q) {
            const int sq = mirror ? 3 - q : q; // source quad
            loads[q] = sq == 3 ? 32 : 12 * sq;
            for (int i = 0; i < 4; ++i) {
                const int pixel = 4 * sq + (mirror ? 3 - i : i);
                for (int c = 0; c < 4; ++c)
                    m[q][4 * i + c] =
                        static_cast<int8_t>(c == 3 ? -1 : 3 * pixel + (rgb ? 2 - c : c) - loads[q]);
            }
        }
    }
};
constexpr Masks32 kRgb4Fwd(true, false), kRgb4Rev(true, true), kBgr4Fwd(false, false), kBgr4Rev(false, true);

// Byte permutes of Yuv422x64: the Y, U and V bytes of 128 source bytes
// (two registers) as 16-bit words, in the order the packs below put back
// into pixel order.
struct Yuv64Index {
    alignas(64) uint8_t y[2][64]; // pixels 16k to 16k + 7 in lane k of y[0], 16k + 8 to 16k + 15 of y[1]
    alignas(64) uint8_t u[64];    // group g's chroma at word g
    alignas(64) uint8_t v[64];
    constexpr Yuv64Index(bool uyvy) : y{}, u{}, v{} {
        const int yOff = uyvy ? 1 : 0, uOff = uyvy ? 0 : 1, vOff = uyvy ? 2 : 3;
        for (int w = 0; w < 32; ++w) {
            const int lane = w / 8, j = w % 8;
            y[0][2 * w] = static_cast<uint8_t>(2 * (16 * lane + j) + yOff);
            y[1][2 * w] = static_cast<uint8_t>(2 * (16 * lane + 8 + j) + yOff);
            u[2 * w] = static_cast<uint8_t>(4 * w + uOff);
            v[2 * w] = static_cast<uint8_t>(4 * w + vOff);
        }
    }
};
constexpr Yuv64Index kUyvy64(true), kYuyv64(false);

// Table row k for 32 chroma words, by the 16-bit form: n = c - 128,
// magnitude ((|n| << pre) x mul) >> 16, sign that of n (flipped for a
// negative row).
QC_SIMD512 __m512i Entries16(const YuvLinear& f, int k, __m512i magnitude, __mmask32 negative) {
    const __m512i m = _mm512_mulhi_epu16(_mm512_sll_epi16(magnitude, _mm_cvtsi32_si128(f.pre16[k])),
                                         _mm512_set1_epi16(static_cast<short>(f.mul16[k])));
    return _mm512_mask_sub_epi16(m, f.negative[k] ? static_cast<__mmask32>(~negative) : negative,
                                 _mm512_setzero_si512(), m);
}

// 64 pixels of U Y V Y (uyvy) or Y U Y V from 128 bytes at s into pixels at
// d (mirrored: in reverse order from d on), for as many whole blocks of 64
// as n holds; returns the pixels done. The arithmetic is that of Yuv422x32:
// 16-bit saturating sums, so the same clamps.
template <int P>
QC_TARGET512 int Yuv422Avx512(const YuvLinear& f, const uint8_t* s, uint8_t* d, int n, bool uyvy, bool mirror,
                              bool masked, ptrdiff_t srcAhead, ptrdiff_t dstAhead) {
    const Yuv64Index& x = uyvy ? kUyvy64 : kYuyv64;
    const __mmask64 even = 0x5555555555555555u;
    const __m512i i128 = _mm512_set1_epi16(128);
    int i = 0;
    for (; i + 64 <= n; i += 64) {
        if (srcAhead) {
            const char* from = reinterpret_cast<const char*>(s) + 2 * static_cast<size_t>(i) + srcAhead;
            _mm_prefetch(from, _MM_HINT_T0);
            _mm_prefetch(from + 64, _MM_HINT_T0);
        }
        const __m512i lo = simd::Load64(s + 2 * static_cast<size_t>(i)),
                      hi = simd::Load64(s + 2 * static_cast<size_t>(i) + 64);
        const __m512i y0 = _mm512_maskz_permutex2var_epi8(even, lo, _mm512_load_si512(x.y[0]), hi);
        const __m512i y1 = _mm512_maskz_permutex2var_epi8(even, lo, _mm512_load_si512(x.y[1]), hi);
        const __m512i un =
            _mm512_sub_epi16(_mm512_maskz_permutex2var_epi8(even, lo, _mm512_load_si512(x.u), hi), i128);
        const __m512i vn =
            _mm512_sub_epi16(_mm512_maskz_permutex2var_epi8(even, lo, _mm512_load_si512(x.v), hi), i128);
        const __m512i ua = _mm512_abs_epi16(un), va = _mm512_abs_epi16(vn);
        const __mmask32 uneg = _mm512_movepi16_mask(un), vneg = _mm512_movepi16_mask(vn);
        const __m512i tr = Entries16(f, 0, va, vneg);
        const __m512i tg = _mm512_adds_epi16(Entries16(f, 1, va, vneg), Entries16(f, 2, ua, uneg));
        const __m512i tb = Entries16(f, 3, ua, uneg);
        // Each entry twice (the two pixels of its group), lined up with y0 and y1.
        const __m512i r = _mm512_packus_epi16(_mm512_adds_epi16(y0, _mm512_unpacklo_epi16(tr, tr)),
                                              _mm512_adds_epi16(y1, _mm512_unpackhi_epi16(tr, tr)));
        const __m512i g = _mm512_packus_epi16(_mm512_subs_epi16(y0, _mm512_unpacklo_epi16(tg, tg)),
                                              _mm512_subs_epi16(y1, _mm512_unpackhi_epi16(tg, tg)));
        const __m512i b = _mm512_packus_epi16(_mm512_adds_epi16(y0, _mm512_unpacklo_epi16(tb, tb)),
                                              _mm512_adds_epi16(y1, _mm512_unpackhi_epi16(tb, tb)));
        uint8_t* o = mirror ? d - static_cast<ptrdiff_t>(i + 64) * P : d + static_cast<size_t>(i) * P;
        if (dstAhead)
            for (int q = 0; q < P; ++q)
                _m_prefetchw(o + dstAhead + 64 * q);
        simd::StoreBgr64<P>(o, b, g, r, masked, mirror);
    }
    return i;
}

// Converts the whole 16-pixel blocks of a row with vector code and returns
// how many pixels it did (0 for formats it does not handle).
template <int P>
__attribute__((target("avx2"))) int SimdRow(const KernelArgs& a, const uint8_t* s, uint8_t* d, bool mirror) {
    const int w = a.width;
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(a.shift));
    // Masked stores pay off where the arithmetic is heavy (YUV); a cheap
    // kernel's reads of the destination bring its lines in ahead of the
    // stores and win.
    const bool masked = P == 4 && UseByteMaskedStores() &&
                        (a.id == ConvYuv422 || a.id == ConvYuv422Yuyv || a.id == ConvYCbCr422);
    int x = 0;
    auto at = [&](int x) { return d + static_cast<size_t>(mirror ? w - 16 - x : x) * P; };
    if (P == 3 && (a.id == ConvRgb8 || a.id == ConvBgr8)) {
        const Masks48& m = a.id == ConvRgb8 ? (mirror ? kRgbRev : kRgbFwd) : (mirror ? kBgrRev : kBgrFwd);
        __m128i masks[9];
        for (int i = 0; i < 9; ++i)
            masks[i] = simd::Load(reinterpret_cast<const uint8_t*>(m.m[i]));
        for (; x + 16 <= w; x += 16)
            simd::Permute48(s + 3 * static_cast<size_t>(x), at(x), masks);
        return x;
    }
    if (P == 4 && (a.id == ConvRgb8 || a.id == ConvBgr8)) {
        const Masks32& m = a.id == ConvRgb8 ? (mirror ? kRgb4Rev : kRgb4Fwd) : (mirror ? kBgr4Rev : kBgr4Fwd);
        for (; x + 16 <= w; x += 16)
            simd::Three2Four(s + 3 * static_cast<size_t>(x), at(x), m.m, m.loads, masked);
        return x;
    }
    if (a.id == ConvMono8 || a.id == ConvMono16 || a.id == ConvMono12Packed || a.id == ConvMono10Packed ||
        a.id == ConvMono12p) {
        if constexpr (P == 3) {
            for (; x + 32 <= w; x += 32) {
                const __m128i v0 = GreyBlock(a, s, x, shift), v1 = GreyBlock(a, s, x + 16, shift);
                uint8_t* d0 = d + static_cast<size_t>(mirror ? w - 32 - x : x) * P;
                if (mirror)
                    simd::StoreGrey24x32(d0, simd::Reverse(v1), simd::Reverse(v0));
                else
                    simd::StoreGrey24x32(d0, v0, v1);
            }
        }
        for (; x + 16 <= w; x += 16) {
            const __m128i v = GreyBlock(a, s, x, shift);
            simd::StoreGrey<P>(at(x), mirror ? simd::Reverse(v) : v, masked);
        }
        return x;
    }
    if (a.id == ConvYuv422 || a.id == ConvYuv422Yuyv || a.id == ConvYCbCr422) {
        if (a.yuvLinear && a.yuvLinear->fits16 && UseAvx512()) {
            // Prefetches go to the same bytes some rows on: the source is
            // read top-down, the destination written bottom-up when flipped.
            const bool flip = a.storeMode == StoreBmp || a.storeMode == StoreBmpLR;
            x = Yuv422Avx512<P>(*a.yuvLinear, s, mirror ? d + static_cast<size_t>(w) * P : d, w,
                                a.id == ConvYuv422, mirror, masked,
                                RowsAhead(SourcePrefetch(), a.srcStride, false),
                                RowsAhead(StorePrefetch(), a.dstStride, flip));
        }
        for (; x + 32 <= w; x += 32) {
            __m256i b, g, r;
            Yuv422x32(a, s + 2 * static_cast<size_t>(x), a.id == ConvYuv422, b, g, r);
            if (mirror) b = Reverse32(b), g = Reverse32(g), r = Reverse32(r);
            uint8_t* o = d + static_cast<size_t>(mirror ? w - 32 - x : x) * P;
            if constexpr (P == 4)
                simd::StoreBgr32x32(o, b, g, r, masked);
            else
                simd::StoreBgr24x32(o, b, g, r);
        }
    }
    for (; x + 16 <= w; x += 16) {
        __m128i b, g, r;
        switch (a.id) {
        case ConvRgb8:
            simd::Split3(s + 3 * static_cast<size_t>(x), r, g, b);
            break;
        case ConvBgr8:
            simd::Split3(s + 3 * static_cast<size_t>(x), b, g, r);
            break;
        case ConvYuv422: { // U Y V Y
            const __m128i lo = simd::Load(s + 2 * static_cast<size_t>(x)),
                          hi = simd::Load(s + 2 * static_cast<size_t>(x) + 16);
            const __m128i y = _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8));
            YuvPlanes(a, y, Chroma(lo, hi, 0), Chroma(lo, hi, 2), b, g, r);
            break;
        }
        case ConvYuv422Yuyv:
        case ConvYCbCr422: { // Y U Y V
            const __m128i lo = simd::Load(s + 2 * static_cast<size_t>(x)),
                          hi = simd::Load(s + 2 * static_cast<size_t>(x) + 16);
            const __m128i m = _mm_set1_epi16(0xFF);
            const __m128i y = _mm_packus_epi16(_mm_and_si128(lo, m), _mm_and_si128(hi, m));
            YuvPlanes(a, y, Chroma(lo, hi, 1), Chroma(lo, hi, 3), b, g, r);
            break;
        }
        default:
            return 0;
        }
        if (mirror)
            simd::StoreBgr<P>(at(x), simd::Reverse(b), simd::Reverse(g), simd::Reverse(r), masked);
        else
            simd::StoreBgr<P>(at(x), b, g, r, masked);
    }
    return x;
}
#endif

template <int P> void ConvertOneRow(const KernelArgs& a, int y) {
    const uint8_t* s = a.src + static_cast<size_t>(y) * a.srcStride;
    const bool flip = a.storeMode == StoreBmp || a.storeMode == StoreBmpLR;
    const bool mirror = a.storeMode == StoreMemLR || a.storeMode == StoreBmpLR;
    uint8_t* d = a.dst + static_cast<size_t>(flip ? a.height - 1 - y : y) * a.dstStride;
    int x0 = 0;
#if QORCAM_CONV_SIMD
    if (UseSimd()) x0 = SimdRow<P>(a, s, d, mirror);
#endif
    if (x0 == a.width) return;
    if (mirror)
        ConvertRow(a, s, x0, PixelOut<P, -1>{d + static_cast<size_t>(a.width - 1 - x0) * P});
    else
        ConvertRow(a, s, x0, PixelOut<P, 1>{d + static_cast<size_t>(x0) * P});
}

template <int P> void Convert(const KernelArgs& a) {
    const auto rows = [&a](int r0, int r1) {
        for (int y = r0; y < r1; ++y)
            ConvertOneRow<P>(a, y);
    };
    // Rows are independent: a band computes each of its rows as the serial
    // loop does.
    if (a.parallel)
        ForEachBand(a.height, a.dstStride, 1, static_cast<unsigned>(a.id) << 4 | P, rows);
    else
        rows(0, a.height);
}

} // namespace

bool MultiplierRange(const int32_t* row, int shift, int64_t cap, int64_t& lo, int64_t& hi) {
    lo = 0;
    hi = cap;
    for (int64_t m = 1; m <= 128; ++m) {
        const int64_t t = std::abs(static_cast<int64_t>(row[m == 128 ? 0 : 128 + m]));
        lo = std::max(lo, (t * (int64_t{1} << shift) + m - 1) / m);
        hi = std::min(hi, ((t + 1) * (int64_t{1} << shift) - 1) / m);
    }
    return lo <= hi;
}

void FitYuv16(const int32_t* table, YuvLinear& linear) {
    linear.fits16 = false;
    for (int k = 0; k < 4; ++k) {
        const int32_t* row = table + 256 * k;
        bool found = false;
        for (int s = 16; s >= 8 && !found; --s) {
            int64_t lo = 0, hi = 0;
            if (!MultiplierRange(row, s, 65535, lo, hi)) continue;
            bool exact = true;
            for (int i = 0; i < 256 && exact; ++i) {
                const int64_t n = i - 128;
                int64_t v = ((std::abs(n) << (16 - s)) * lo) >> 16;
                if (n < 0) v = -v;
                if (linear.negative[k]) v = -v;
                exact = v == row[i];
            }
            if (!exact) continue;
            linear.mul16[k] = static_cast<uint16_t>(lo);
            linear.pre16[k] = static_cast<uint16_t>(16 - s);
            found = true;
        }
        if (!found) return;
    }
    linear.fits16 = true;
}

void ConvertGeneric(const KernelArgs& args, int pixelBytes) {
    if (pixelBytes == 4)
        Convert<4>(args);
    else
        Convert<3>(args);
}

} // namespace qorcam::conversion
