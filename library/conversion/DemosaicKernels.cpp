// Bilinear Bayer demosaicing of 8-bit, 16-bit and packed samples.
//
// Every destination pixel is computed straight from the source samples that
// its neighbourhood holds once placed in the destination's orientation, so
// each destination byte is written once and the rows are independent. The
// arithmetic is that of placing the samples and interpolating in place:
// interior colours are floor averages of the four or two nearest samples of
// that colour, border colours use only the neighbours along the border (or a
// copy where one neighbour is left), and the optional green revision then
// sweeps the interior's native greens in a fixed order on the destination.
#include "ConvTypes.h"
#include "KernelArgs.h"
#include "Parallel.h"
#include "Simd.h"

#include <algorithm>

namespace qorcam::conversion {
namespace {

// Columns per strip: three strip lines live on the stack, whatever the width;
// rows up to this width are done in one sweep.
constexpr int kStrip = 4096;
// The smallest band of rows handed out, so that each decoded source line
// serves the three destination rows that need it.
constexpr int kRowBlock = 16;

enum Site { SiteR, SiteG, SiteB };

struct Geometry {
    int w = 0;
    int h = 0;
    bool flip = false;
    bool mirror = false;
    uint32_t phase = 0; // the mosaic's phase as it lies in the destination

    Site At(int r, int c) const {
        const int x = (c + static_cast<int>(phase >> 1)) & 1;
        const int y = (r + static_cast<int>(phase & 1)) & 1;
        if (x == 0 && y == 0) return SiteR;
        if (x == 1 && y == 1) return SiteB;
        return SiteG;
    }
    // Rows that hold red (and green) samples.
    bool RedRow(int r) const { return ((r + static_cast<int>(phase & 1)) & 1) == 0; }
};

// One source sample reduced to 8 bits; sx is the source column.
template <SampleKind K> inline uint8_t Sample(const KernelArgs& a, const uint8_t* row, int sx) {
    if constexpr (K == SampleKind::Byte) {
        return row[sx];
    } else if constexpr (K == SampleKind::Word) {
        const uint8_t* s = row + 2 * static_cast<size_t>(sx);
        const uint32_t v = a.swapBytes ? (uint32_t{s[0]} << 8 | s[1]) : (uint32_t{s[1]} << 8 | s[0]);
        return static_cast<uint8_t>(v >> a.shift);
    } else if constexpr (K == SampleKind::Packed) {
        return row[3 * static_cast<size_t>(sx >> 1) + 2 * (sx & 1)];
    } else {
        // Least significant bits first: byte 3k and the low half of byte 3k + 1
        // make sample 2k, the high half of byte 3k + 1 and byte 3k + 2 sample 2k + 1.
        const uint8_t* s = row + 3 * static_cast<size_t>(sx >> 1);
        return (sx & 1) ? s[2] : static_cast<uint8_t>(s[0] >> 4 | s[1] << 4);
    }
}

#if QORCAM_CONV_SIMD
// Decodes destination columns [c, hi) of one source row into p[c - s] with
// vector code where 16 columns fit; returns the first column not done.
template <SampleKind K>
__attribute__((target("avx2"))) int DecodeSimd(const KernelArgs& a, const Geometry& g, const uint8_t* row,
                                               int c, int hi, uint8_t* p, int s) {
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(a.shift));
    // Packed samples come in pairs: start the blocks on an even source column.
    if ((K == SampleKind::Packed || K == SampleKind::Packed12p) && c < hi &&
        ((g.mirror ? g.w - 16 - c : c) & 1)) {
        p[c - s] = Sample<K>(a, row, g.mirror ? g.w - 1 - c : c);
        ++c;
    }
    for (; c + 16 <= hi; c += 16) {
        const int sx = g.mirror ? g.w - 16 - c : c;
        __m128i v;
        if constexpr (K == SampleKind::Byte)
            v = simd::Load(row + sx);
        else if constexpr (K == SampleKind::Word)
            v = simd::Reduce16(row + 2 * static_cast<size_t>(sx), a.swapBytes, shift);
        else if constexpr (K == SampleKind::Packed)
            v = simd::UnpackMsb(row + static_cast<size_t>(sx) / 2 * 3);
        else
            v = simd::UnpackLsb(row + static_cast<size_t>(sx) / 2 * 3);
        simd::Save(p + (c - s), g.mirror ? simd::Reverse(v) : v);
    }
    return c;
}
#endif

#if QORCAM_CONV_SIMD
// Byte permutes of the 64-column decode: sample j (of 64 in order, or of
// the mirrored 64 when rev) from the two registers loaded for it.
struct DecodeIndex {
    alignas(64) uint8_t byte[64];  // bytes of one register
    alignas(64) uint8_t swap[64];  // the two bytes of each 16-bit word swapped (in each 16-byte lane)
    alignas(64) uint8_t word[64];  // low bytes of 64 16-bit words in two registers
    alignas(64) uint8_t msb[64];   // bytes 3k and 3k + 2 of 96, loaded at 0 and 32
    alignas(64) uint8_t lsbLo[64]; // 16-bit words of samples 0 to 31 (12p), loaded at 0 and 32
    alignas(64) uint8_t lsbHi[64]; // and of samples 32 to 63
    constexpr DecodeIndex(bool rev) : byte{}, swap{}, word{}, msb{}, lsbLo{}, lsbHi{} {
        // q: byte of the 96 loaded at 0 (64 bytes) and 32 (64 bytes).
        auto at = [](int q) { return static_cast<uint8_t>(q < 64 ? q : 64 + q - 32); };
        for (int j = 0; j < 64; ++j) {
            const int k = rev ? 63 - j : j;
            byte[j] = static_cast<uint8_t>(k);
            swap[j] = static_cast<uint8_t>((j ^ 1) & 15);
            word[j] = static_cast<uint8_t>(2 * k);
            msb[j] = at(3 * (k >> 1) + 2 * (k & 1));
        }
        // 12p: word w of sample k holds bytes 3(k/2), 3(k/2) + 1 (even k,
        // shifted right by 4 below) or byte 3(k/2) + 2 and any (odd k).
        for (int w = 0; w < 64; ++w) {
            const int k = w % 32 + (w >= 32 ? 32 : 0);
            const int q = 3 * (k >> 1) + ((k & 1) ? 2 : 0);
            uint8_t* out = w < 32 ? lsbLo : lsbHi;
            out[2 * (w % 32)] = at(q);
            out[2 * (w % 32) + 1] = at((k & 1) ? q : q + 1);
        }
    }
};
inline constexpr DecodeIndex kDecode{false}, kDecodeRev{true};

// Decodes destination columns [c, hi) with 64-column blocks; returns the
// first column not done. The packed kinds start on an even source column
// (DecodeSimd's rule, for the same blocks).
template <SampleKind K>
QC_TARGET512 int DecodeAvx512(const KernelArgs& a, const Geometry& g, const uint8_t* row, int c, int hi,
                              uint8_t* p, int s) {
    if ((K == SampleKind::Packed || K == SampleKind::Packed12p) && c < hi &&
        ((g.mirror ? g.w - 64 - c : c) & 1)) {
        p[c - s] = Sample<K>(a, row, g.mirror ? g.w - 1 - c : c);
        ++c;
    }
    const DecodeIndex& x = g.mirror ? kDecodeRev : kDecode;
    // Source bytes of two samples.
    constexpr int kBytes = K == SampleKind::Byte ? 2 : (K == SampleKind::Word ? 4 : 3);
    // The same columns some rows on in the order the rows are decoded.
    const ptrdiff_t ahead = RowsAhead(SourcePrefetch(), a.srcStride, g.flip);
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(a.shift));
    for (; c + 64 <= hi; c += 64) {
        const size_t sx = static_cast<size_t>(g.mirror ? g.w - 64 - c : c);
        if (ahead) {
            const char* from = reinterpret_cast<const char*>(row) + sx * kBytes / 2 + ahead;
            _mm_prefetch(from, _MM_HINT_T0);
            if (kBytes > 2) _mm_prefetch(from + 64, _MM_HINT_T0);
        }
        __m512i v;
        if constexpr (K == SampleKind::Byte) {
            // Decoded only when mirrored: read in order, the samples are used where they lie.
            const __m512i in = simd::Load64(row + sx);
            v = _mm512_permutex2var_epi8(in, _mm512_load_si512(x.byte), in);
        } else if constexpr (K == SampleKind::Word) {
            __m512i lo = simd::Load64(row + 2 * sx), hi2 = simd::Load64(row + 2 * sx + 64);
            if (a.swapBytes) {
                const __m512i sw = _mm512_load_si512(x.swap);
                lo = _mm512_shuffle_epi8(lo, sw);
                hi2 = _mm512_shuffle_epi8(hi2, sw);
            }
            v = _mm512_permutex2var_epi8(_mm512_srl_epi16(lo, shift), _mm512_load_si512(x.word),
                                         _mm512_srl_epi16(hi2, shift));
        } else {
            const uint8_t* q = row + sx / 2 * 3;
            const __m512i b0 = simd::Load64(q), b1 = simd::Load64(q + 32);
            if constexpr (K == SampleKind::Packed) {
                v = _mm512_permutex2var_epi8(b0, _mm512_load_si512(x.msb), b1);
            } else {
                // Even samples: (byte 3k >> 4 | byte 3k + 1 << 4), odd ones byte 3k + 2.
                const __m512i by = _mm512_set1_epi32(0x00000004);
                const __m512i wlo =
                    _mm512_srlv_epi16(_mm512_permutex2var_epi8(b0, _mm512_load_si512(kDecode.lsbLo), b1), by);
                const __m512i whi =
                    _mm512_srlv_epi16(_mm512_permutex2var_epi8(b0, _mm512_load_si512(kDecode.lsbHi), b1), by);
                v = _mm512_permutex2var_epi8(wlo, _mm512_load_si512(x.word), whi);
            }
        }
        simd::Save64(p + (c - s), v);
    }
    return c;
}
#endif

// Fills p[c - s] with the 8-bit sample that lands in the destination row
// that source row row makes, column c, for every c of [c, hi).
template <SampleKind K>
void DecodeRange(const KernelArgs& a, const Geometry& g, const uint8_t* row, int c, int hi, uint8_t* p, int s) {
#if QORCAM_CONV_SIMD
    if (UseAvx512()) c = DecodeAvx512<K>(a, g, row, c, hi, p, s);
    if (UseSimd()) c = DecodeSimd<K>(a, g, row, c, hi, p, s);
#endif
    for (; c < hi; ++c)
        p[c - s] = Sample<K>(a, row, g.mirror ? g.w - 1 - c : c);
}

// Fills p[c - s] with the 8-bit sample that lands in destination row r,
// column c, for every c of [s - 1, e + 1) inside the image.
template <SampleKind K>
void DecodeLine(const KernelArgs& a, const Geometry& g, const uint8_t* row, int s, int e, uint8_t* p) {
    DecodeRange<K>(a, g, row, std::max(s - 1, 0), std::min(e + 1, g.w), p, s);
}

const uint8_t* SourceRow(const KernelArgs& a, const Geometry& g, int r) {
    return a.src + static_cast<size_t>(g.flip ? g.h - 1 - r : r) * a.srcStride;
}

// The last three decoded lines of a strip; destination rows r - 1, r, r + 1
// always sit in different slots.
struct LineCache {
    uint8_t buf[3][kStrip + 2];
    int row[3] = {-1, -1, -1};
    void Reset() { row[0] = row[1] = row[2] = -1; }
};

// Returns p with p[c - s] the 8-bit sample of destination row r, column c,
// for every c of [s - 1, e + 1) inside the image.
template <SampleKind K>
const uint8_t* Line(const KernelArgs& a, const Geometry& g, LineCache& cache, int r, int s, int e) {
    if (K == SampleKind::Byte && !g.mirror) return SourceRow(a, g, r) + s;
    const int slot = r % 3;
    uint8_t* p = cache.buf[slot] + 1;
    if (cache.row[slot] != r) {
        DecodeLine<K>(a, g, SourceRow(a, g, r), s, e, p);
        cache.row[slot] = r;
    }
    return p;
}

// Decodes a line piece by piece as a row's interior reaches it, so that
// the reads of the source row overlap the stores of the row before
// instead of waiting for memory on their own.
template <SampleKind K> struct LazyLine {
    const KernelArgs& a;
    const Geometry& g;
    const uint8_t* row = nullptr; // null: the line is decoded already
    uint8_t* p = nullptr;
    int s = 0;
    int done = 0; // first column not decoded
    int end = 0;

    // Decodes at least the columns below c (whole vector blocks).
    void Upto(int c) {
        if (!row || c <= done) return;
        const int to = std::min(end, done + ((c - done + 15) & ~15));
        DecodeRange<K>(a, g, row, done, to, p, s);
        done = to;
    }
};

inline void Store(uint8_t* p, int b, int g, int r) {
    p[0] = static_cast<uint8_t>(b);
    p[1] = static_cast<uint8_t>(g);
    p[2] = static_cast<uint8_t>(r);
}

// A pixel of the border: every missing colour from the neighbours of that
// colour inside the image; a red or blue site with three neighbours inside
// takes its green from the two along the border. Lines are indexed c - s;
// A (above) or B (below) is null on the first or last row.
void EdgePixel(const Geometry& g, const uint8_t* A, const uint8_t* C, const uint8_t* B, int r, int c, int s,
               uint8_t* p) {
    const int i = c - s;
    const bool hasL = c > 0;
    const bool hasR = c < g.w - 1;
    const Site site = g.At(r, c);
    const int own = C[i];
    if (site == SiteG) {
        const int h = hasL && hasR ? (C[i - 1] + C[i + 1]) >> 1 : (hasL ? C[i - 1] : C[i + 1]);
        const int v = A && B ? (A[i] + B[i]) >> 1 : (A ? A[i] : B[i]);
        if (g.RedRow(r))
            Store(p, v, own, h);
        else
            Store(p, h, own, v);
        return;
    }
    int green;
    if (hasL && hasR && A && B)
        green = (C[i - 1] + C[i + 1] + A[i] + B[i]) >> 2;
    else if (hasL && hasR)
        green = (C[i - 1] + C[i + 1]) >> 1;
    else if (A && B)
        green = (A[i] + B[i]) >> 1;
    else
        green = ((hasL ? C[i - 1] : C[i + 1]) + (A ? A[i] : B[i])) >> 1;
    int sum = 0;
    int count = 0;
    for (const uint8_t* line : {A, B}) {
        if (!line) continue;
        if (hasL) sum += line[i - 1], ++count;
        if (hasR) sum += line[i + 1], ++count;
    }
    const int other = count == 4 ? sum >> 2 : (count == 2 ? sum >> 1 : sum);
    if (site == SiteR)
        Store(p, other, green, own);
    else
        Store(p, own, green, other);
}

// A run of interior pixels of one row; A, C, B and d point at its first
// pixel. Red says the row holds red samples, FirstG that the run starts on
// a green sample; the sites alternate from there.
template <int P, bool Red, bool FirstG>
void InteriorRun(const uint8_t* A, const uint8_t* C, const uint8_t* B, uint8_t* d, int n) {
    auto site = [&](int i) {
        const int g = (C[i - 1] + C[i + 1] + A[i] + B[i]) >> 2;
        const int o = (A[i - 1] + A[i + 1] + B[i - 1] + B[i + 1]) >> 2;
        if (Red)
            Store(d + i * P, o, g, C[i]);
        else
            Store(d + i * P, C[i], g, o);
    };
    auto green = [&](int i) {
        const int h = (C[i - 1] + C[i + 1]) >> 1;
        const int v = (A[i] + B[i]) >> 1;
        if (Red)
            Store(d + i * P, v, C[i], h);
        else
            Store(d + i * P, h, C[i], v);
    };
    int i = 0;
    for (; i + 2 <= n; i += 2) {
        if (FirstG) {
            green(i);
            site(i + 1);
        } else {
            site(i);
            green(i + 1);
        }
    }
    if (i < n) FirstG ? green(i) : site(i);
}

#if QORCAM_CONV_SIMD
// The whole 32- and 16-pixel blocks of an interior run, as InteriorRun computes
// them; returns how many pixels it did.
template <int P>
__attribute__((target("avx2"))) int InteriorSimd(const Geometry& g, int r, const uint8_t* A, const uint8_t* C,
                                                 const uint8_t* B, uint8_t* d, int c, int n) {
    const bool red = g.RedRow(r);
    // Lanes that hold native greens: the even ones when the run starts on one.
    const __m128i even = _mm_set1_epi16(0x00FF);
    const __m128i gmask = g.At(r, c) == SiteG ? even : _mm_xor_si128(even, _mm_set1_epi8(-1));
    const __m256i gmask2 = _mm256_set_m128i(gmask, gmask);
    const bool masked = P == 4 && UseByteMaskedStores();
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i cl = simd::Load32(C + i - 1), cc = simd::Load32(C + i), cr = simd::Load32(C + i + 1);
        const __m256i ac = simd::Load32(A + i), bc = simd::Load32(B + i);
        const __m256i h2 = simd::FloorAvg(cl, cr);
        const __m256i v2 = simd::FloorAvg(ac, bc);
        const __m256i cross = simd::FloorAvg4(cl, cr, ac, bc);
        const __m256i diag = simd::FloorAvg4(simd::Load32(A + i - 1), simd::Load32(A + i + 1),
                                             simd::Load32(B + i - 1), simd::Load32(B + i + 1));
        const __m256i own = _mm256_blendv_epi8(cc, h2, gmask2);
        const __m256i green = _mm256_blendv_epi8(cross, cc, gmask2);
        const __m256i other = _mm256_blendv_epi8(diag, v2, gmask2);
        const __m256i b = red ? other : own, r8 = red ? own : other;
        uint8_t* p = d + static_cast<size_t>(i) * P;
        if constexpr (P == 4)
            simd::StoreBgr32x32(p, b, green, r8, masked);
        else
            simd::StoreBgr24x32(p, b, green, r8);
    }
    for (; i + 16 <= n; i += 16) {
        const __m128i cl = simd::Load(C + i - 1), cc = simd::Load(C + i), cr = simd::Load(C + i + 1);
        const __m128i al = simd::Load(A + i - 1), ac = simd::Load(A + i), ar = simd::Load(A + i + 1);
        const __m128i bl = simd::Load(B + i - 1), bc = simd::Load(B + i), br = simd::Load(B + i + 1);
        const __m128i h2 = simd::FloorAvg(cl, cr);
        const __m128i v2 = simd::FloorAvg(ac, bc);
        const __m128i cross = simd::FloorAvg4(cl, cr, ac, bc);
        const __m128i diag = simd::FloorAvg4(al, ar, bl, br);
        const __m128i own = _mm_blendv_epi8(cc, h2, gmask); // the row's own colour
        const __m128i green = _mm_blendv_epi8(cross, cc, gmask);
        const __m128i other = _mm_blendv_epi8(diag, v2, gmask); // the colour of the rows above and below
        if (red)
            simd::StoreBgr<P>(d + static_cast<size_t>(i) * P, other, green, own, masked);
        else
            simd::StoreBgr<P>(d + static_cast<size_t>(i) * P, own, green, other, masked);
    }
    return i;
}
#endif

#if QORCAM_CONV_SIMD
// Byte j of left(x, y) is byte j - 1 of x:y (x the block before y), byte j
// of right(y, z) byte j + 1 of y:z.
struct Shift64 {
    alignas(64) uint8_t left[64];
    alignas(64) uint8_t right[64];
    constexpr Shift64() : left{}, right{} {
        for (int j = 0; j < 64; ++j) {
            left[j] = static_cast<uint8_t>(63 + j);
            right[j] = static_cast<uint8_t>(j + 1);
        }
    }
};
constexpr Shift64 kShift64{};

// 64 interior pixels from the blocks of each line before (p), at (c) and
// after (n) them: only the last byte of p and the first of n count. gk
// marks the lanes of native greens.
template <int P>
QC_SIMD512 void Interior64(__m512i ap, __m512i ac, __m512i an, __m512i cp, __m512i cc, __m512i cn, __m512i bp,
                           __m512i bc, __m512i bn, __mmask64 gk, bool red, uint8_t* p, bool masked) {
    const __m512i toLeft = _mm512_load_si512(kShift64.left), toRight = _mm512_load_si512(kShift64.right);
    const __m512i cl = _mm512_permutex2var_epi8(cp, toLeft, cc),
                  cr = _mm512_permutex2var_epi8(cc, toRight, cn);
    const __m512i al = _mm512_permutex2var_epi8(ap, toLeft, ac),
                  ar = _mm512_permutex2var_epi8(ac, toRight, an);
    const __m512i bl = _mm512_permutex2var_epi8(bp, toLeft, bc),
                  br = _mm512_permutex2var_epi8(bc, toRight, bn);
    const __m512i h2 = simd::FloorAvg(cl, cr);
    const __m512i v2 = simd::FloorAvg(ac, bc);
    const __m512i cross = simd::FloorAvg4(cl, cr, ac, bc, h2, v2);
    const __m512i diag = simd::FloorAvg4(al, ar, bl, br, simd::FloorAvg(al, ar), simd::FloorAvg(bl, br));
    const __m512i own = _mm512_mask_blend_epi8(gk, cc, h2); // the row's own colour
    const __m512i green = _mm512_mask_blend_epi8(gk, cross, cc);
    const __m512i other = _mm512_mask_blend_epi8(gk, diag, v2); // the colour of the rows above and below
    if (red)
        simd::StoreBgr64<P>(p, other, green, own, masked, false);
    else
        simd::StoreBgr64<P>(p, own, green, other, masked, false);
}

// An interior run of at least 64 pixels, as InteriorSimd computes it, in
// 64-pixel blocks; a last partial block is done as the 64 pixels that end
// the run, over pixels already written with the same bytes. Each line is
// loaded once per block (the neighbours to the left and right come from
// byte permutes of this block and the ones beside it), not three times at
// unaligned offsets, which made this slower than AVX2 on a flushed image.
template <int P>
QC_TARGET512 void InteriorAvx512(const KernelArgs& a, const Geometry& g, int r, const uint8_t* A,
                                 const uint8_t* C, const uint8_t* B, uint8_t* d, int c, int n,
                                 bool belowInSource) {
    const bool red = g.RedRow(r);
    // Lanes that hold native greens: the even ones when the run starts on one.
    const __mmask64 even = 0x5555555555555555u;
    const __mmask64 gk = g.At(r, c) == SiteG ? even : static_cast<__mmask64>(~even);
    const bool masked = P == 4 && UseByteMaskedStores();
    // The destination rows are written top-down.
    const ptrdiff_t prefetch = RowsAhead(StorePrefetch(), a.dstStride, false);
    // B read where it lies in the source (8-bit samples in order): ask for
    // its lines ahead; decoded lines were asked for by the decode.
    const ptrdiff_t ahead = belowInSource ? RowsAhead(SourcePrefetch(), a.srcStride, g.flip) : 0;
    // The byte before the first block, in the last lane.
    const __mmask64 last = __mmask64{1} << 63;
    __m512i ap = _mm512_maskz_loadu_epi8(last, A - 64), cp = _mm512_maskz_loadu_epi8(last, C - 64),
            bp = _mm512_maskz_loadu_epi8(last, B - 64);
    __m512i ac = simd::Load64(A), cc = simd::Load64(C), bc = simd::Load64(B);
    int i = 0;
    for (; i + 64 <= n; i += 64) {
        // The next block, or at the end of the run its first byte (the
        // run's interior always has one).
        __m512i an, cn, bn;
        if (i + 128 <= n) {
            an = simd::Load64(A + i + 64), cn = simd::Load64(C + i + 64), bn = simd::Load64(B + i + 64);
        } else {
            an = _mm512_maskz_loadu_epi8(1, A + i + 64), cn = _mm512_maskz_loadu_epi8(1, C + i + 64);
            bn = _mm512_maskz_loadu_epi8(1, B + i + 64);
        }
        uint8_t* p = d + static_cast<size_t>(i) * P;
        if (ahead) _mm_prefetch(reinterpret_cast<const char*>(B) + i + ahead, _MM_HINT_T0);
        if (prefetch)
            for (int q = 0; q < P; ++q)
                _m_prefetchw(p + prefetch + 64 * q);
        Interior64<P>(ap, ac, an, cp, cc, cn, bp, bc, bn, gk, red, p, masked);
        ap = ac, cp = cc, bp = bc;
        ac = an, cc = cn, bc = bn;
    }
    if (i == n) return;
    const int j = n - 64;
    const uint8_t *la = A + j, *lc = C + j, *lb = B + j;
    Interior64<P>(
        _mm512_maskz_loadu_epi8(last, la - 64), simd::Load64(la), _mm512_maskz_loadu_epi8(1, la + 64),
        _mm512_maskz_loadu_epi8(last, lc - 64), simd::Load64(lc), _mm512_maskz_loadu_epi8(1, lc + 64),
        _mm512_maskz_loadu_epi8(last, lb - 64), simd::Load64(lb), _mm512_maskz_loadu_epi8(1, lb + 64),
        (j & 1) ? static_cast<__mmask64>(~gk) : gk, red, d + static_cast<size_t>(j) * P, masked);
}
#endif

template <int P>
void Interior(const Geometry& g, int r, const uint8_t* A, const uint8_t* C, const uint8_t* B, uint8_t* d,
              int c, int n) {
    const bool red = g.RedRow(r);
    const bool firstG = g.At(r, c) == SiteG;
    if (red)
        firstG ? InteriorRun<P, true, true>(A, C, B, d, n) : InteriorRun<P, true, false>(A, C, B, d, n);
    else
        firstG ? InteriorRun<P, false, true>(A, C, B, d, n) : InteriorRun<P, false, false>(A, C, B, d, n);
}

// Columns of the interior done between two pieces of the line below; the
// 64-pixel kernels to 24 bits take pieces of 1024 (on the AMD machine of
// bench/README.md, flushed, Bayer 10- to 16-bit and packed to 24 bits 5 to
// 12% faster than with 512; to 32 bits it made no difference either way).
constexpr int kPiece = 512;
constexpr int kPiece24Wide = 1024;

template <int P, SampleKind K>
void DemosaicRow(const KernelArgs& a, const Geometry& g, LineCache& cache, int r, int s, int e) {
    uint8_t* drow = a.dst + static_cast<size_t>(r) * a.dstStride;
    const uint8_t* C = Line<K>(a, g, cache, r, s, e);
    const uint8_t* A = r > 0 ? Line<K>(a, g, cache, r - 1, s, e) : nullptr;
    if (r == 0 || r == g.h - 1) {
        const uint8_t* B = r < g.h - 1 ? Line<K>(a, g, cache, r + 1, s, e) : nullptr;
        for (int c = s; c < e; ++c)
            EdgePixel(g, A, C, B, r, c, s, drow + static_cast<size_t>(c) * P);
        return;
    }
    // The line below is decoded as the interior goes (when it is decoded
    // at all: 8-bit samples read in order are used where they lie).
    LazyLine<K> below{a, g};
    below.s = s;
    below.done = std::max(s - 1, 0);
    below.end = std::min(e + 1, g.w);
    const uint8_t* B;
    if (K == SampleKind::Byte && !g.mirror) {
        B = SourceRow(a, g, r + 1) + s;
    } else {
        const int slot = (r + 1) % 3;
        below.p = cache.buf[slot] + 1;
        B = below.p;
        if (cache.row[slot] != r + 1) {
            below.row = SourceRow(a, g, r + 1);
            cache.row[slot] = r + 1;
        }
    }
    int lo = std::max(s, 1);
    const int hi = std::min(e, g.w - 1);
    const int piece = P == 3 && UseAvx512() ? kPiece24Wide : kPiece;
    below.Upto(lo + 1);
    if (s == 0) EdgePixel(g, A, C, B, r, 0, s, drow);
    while (hi > lo) {
        const int n = std::min(hi - lo, piece);
        below.Upto(lo + n + 1);
        int done = 0;
#if QORCAM_CONV_SIMD
        if (UseAvx512() && n >= 64) {
            InteriorAvx512<P>(a, g, r, A + (lo - s), C + (lo - s), B + (lo - s),
                              drow + static_cast<size_t>(lo) * P, lo, n, K == SampleKind::Byte && !g.mirror);
            done = n;
        }
        if (UseSimd() && n - done >= 16)
            done += InteriorSimd<P>(g, r, A + (lo + done - s), C + (lo + done - s), B + (lo + done - s),
                                    drow + static_cast<size_t>(lo + done) * P, lo + done, n - done);
#endif
        if (n > done)
            Interior<P>(g, r, A + (lo + done - s), C + (lo + done - s), B + (lo + done - s),
                        drow + static_cast<size_t>(lo + done) * P, lo + done, n - done);
        lo += n;
    }
    below.Upto(below.end);
    if (e == g.w) EdgePixel(g, A, C, B, r, g.w - 1, s, drow + static_cast<size_t>(g.w - 1) * P);
}

// Images narrower or shorter than 2 pixels have no neighbourhood to
// interpolate from: each pixel shows its own sample as grey.
template <int P, SampleKind K>
void GreyRow(const KernelArgs& a, const Geometry& g, LineCache& cache, int r, int s, int e) {
    uint8_t* drow = a.dst + static_cast<size_t>(r) * a.dstStride;
    const uint8_t* C = Line<K>(a, g, cache, r, s, e);
    for (int c = s; c < e; ++c)
        Store(drow + static_cast<size_t>(c) * P, C[c - s], C[c - s], C[c - s]);
}

// Destination rows [r0, r1), strip by strip.
template <int P, SampleKind K> void ConvertRows(const KernelArgs& a, const Geometry& g, int r0, int r1) {
    LineCache cache;
    for (int s = 0; s < g.w; s += kStrip) {
        const int e = std::min(s + kStrip, g.w);
        cache.Reset();
        for (int r = r0; r < r1; ++r) {
            if (g.w < 2 || g.h < 2)
                GreyRow<P, K>(a, g, cache, r, s, e);
            else
                DemosaicRow<P, K>(a, g, cache, r, s, e);
        }
    }
}

// The green revision: each native green of the interior becomes G / 2 plus
// an eighth of its four diagonal greens, in place, in a fixed sweep (row
// pairs from the top, 2 x 2 blocks from the left, upper green first; an odd
// last column after its pair, an odd last row after all pairs), so every
// green reads the revised greens above and to its left.
template <int P> void ReviseGreens(const KernelArgs& a, const Geometry& g) {
    const size_t stride = a.dstStride;
    auto revise = [&](int r, int c) {
        uint8_t* p = a.dst + static_cast<size_t>(r) * stride + static_cast<size_t>(c) * P + 1;
        const int sum = p[-static_cast<ptrdiff_t>(stride) - P] + p[-static_cast<ptrdiff_t>(stride) + P] +
                        p[stride - P] + p[stride + P];
        *p = static_cast<uint8_t>((*p >> 1) + (sum >> 3));
    };
    auto greenOf = [&](int r, int c) {
        if (g.At(r, c) == SiteG) revise(r, c);
    };
    int r = 1;
    for (; r + 1 <= g.h - 2; r += 2) {
        int c = 1;
        for (; c + 1 <= g.w - 2; c += 2) {
            g.At(r, c) == SiteG ? revise(r, c) : revise(r, c + 1);
            g.At(r + 1, c) == SiteG ? revise(r + 1, c) : revise(r + 1, c + 1);
        }
        if (c == g.w - 2) g.At(r, c) == SiteG ? revise(r, c) : revise(r + 1, c);
    }
    if (r == g.h - 2)
        for (int c = 1; c <= g.w - 2; ++c)
            greenOf(r, c);
}

template <int P, SampleKind K> void Demosaic(const KernelArgs& a) {
    Geometry g;
    g.w = a.width;
    g.h = a.height;
    g.mirror = a.storeMode == StoreMemLR || a.storeMode == StoreBmpLR;
    g.flip = a.storeMode == StoreBmp || a.storeMode == StoreBmpLR;
    g.phase = a.phase;
    if (g.mirror && g.w % 2 == 0) g.phase ^= 2;
    if (g.flip && g.h % 2 == 0) g.phase ^= 1;
    // Bands of rows are independent; the green revision, whose sweep order
    // is part of its result, follows on the calling thread.
    const auto rows = [&a, &g](int r0, int r1) { ConvertRows<P, K>(a, g, r0, r1); };
    if (a.parallel)
        ForEachBand(g.h, a.dstStride, kRowBlock, 0x10000u | static_cast<unsigned>(K) << 4 | P, rows);
    else
        rows(0, g.h);
    if (a.revision) ReviseGreens<P>(a, g);
}

template <int P> void DemosaicKind(const KernelArgs& a, SampleKind kind) {
    switch (kind) {
    case SampleKind::Byte:
        return Demosaic<P, SampleKind::Byte>(a);
    case SampleKind::Word:
        return Demosaic<P, SampleKind::Word>(a);
    case SampleKind::Packed:
        return Demosaic<P, SampleKind::Packed>(a);
    case SampleKind::Packed12p:
        return Demosaic<P, SampleKind::Packed12p>(a);
    }
}

} // namespace

void DemosaicBayer(const KernelArgs& args, int pixelBytes, SampleKind kind) {
    if (pixelBytes == 4)
        DemosaicKind<4>(args, kind);
    else
        DemosaicKind<3>(args, kind);
}

} // namespace qorcam::conversion
