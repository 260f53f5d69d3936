// Vector building blocks of the hot kernels (x86-64 with AVX2 or AVX-512,
// internal).
//
// Every function here is compiled for AVX2 (or, the 64-byte ones, for
// AVX-512 BW, VL and VBMI) and called only after UseSimd() (UseAvx512())
// said yes, so the library still runs, on its scalar code, on a processor
// without it.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#define QORCAM_CONV_SIMD 1
#include <immintrin.h>
#define QC_SIMD __attribute__((target("avx2"), always_inline)) inline
// AVX-512 with byte permutes (BW, VL, VBMI): 64 pixels per step.
#define QC_TARGET512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512vbmi,prfchw")))
#define QC_SIMD512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512vbmi"), always_inline)) inline
#else
#define QORCAM_CONV_SIMD 0
#endif

namespace qorcam::conversion {

// True when the vector kernels may run: the processor has AVX2 and the
// scalar kernels were not asked for.
bool UseSimd();
// Makes every kernel take its scalar path (tests compare both paths).
void ForceScalarKernels(bool scalar);
// True when the processor stores bytes under a mask (AVX-512 BW and VL)
// and is not an AMD one (there merging was faster, see Simd.cpp): the
// Bayer and YUV kernels then write 32-bit pixels without reading their
// fourth byte back (5 to 15% faster on a flushed 4096x3000 image); the
// cheap kernels keep reading it, as those reads bring the destination
// lines in ahead of the stores (masked stores made Mono8 20% slower).
bool UseByteMaskedStores();
// At least how many bytes ahead of its stores a kernel asks for the
// destination lines to be brought in for writing (prefetchw), 0 for none;
// bottom-up the kernels round it up to whole rows (RowsAhead). See Simd.cpp.
int StorePrefetch();
// The same for the source lines it loads (prefetcht0).
int SourcePrefetch();
// The signed distance at which to prefetch, at least bytes (0: none), for
// rows of stride bytes visited top-down or, when backward, bottom-up.
// Top-down the rows lie one after the other in the order they are visited,
// so bytes on is where the kernel will be; bottom-up that place is in the
// rows before in memory: the same bytes whole rows back.
inline ptrdiff_t RowsAhead(int bytes, size_t stride, bool backward) {
    if (bytes <= 0 || stride == 0) return 0;
    if (!backward) return bytes;
    const size_t rows = (static_cast<size_t>(bytes) + stride - 1) / stride;
    return -static_cast<ptrdiff_t>(rows * stride);
}
// True when the 64-pixel kernels may run: UseSimd() and the processor has
// AVX-512 BW, VL and VBMI (byte permutes across the whole register).
bool UseAvx512();
// Tests: makes the vector kernels keep to AVX2 (both give the same bytes).
void ForceAvx2Kernels(bool avx2);
// Tests: makes the 32-bit stores read and merge the fourth byte even where
// the processor could store under a mask.
void ForceMergedStores(bool merged);
// True when the processor can store bytes under a mask, preferred or not.
bool CanStoreByteMasks();
// Tests: makes the Bayer and YUV kernels store under a byte mask where the
// processor can, also where it prefers merging.
void ForceByteMaskedStores(bool masked);

#if QORCAM_CONV_SIMD
namespace simd {

QC_SIMD __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
QC_SIMD void Save(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

QC_SIMD __m128i Reverse(__m128i v) {
    return _mm_shuffle_epi8(v, _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
}

// floor((a + b) / 2) per byte.
QC_SIMD __m128i FloorAvg(__m128i a, __m128i b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

// floor((a + b + c + d) / 4) per byte, exactly, without widening.
QC_SIMD __m128i FloorAvg4(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i one = _mm_set1_epi8(1);
    const __m128i h = FloorAvg(a, b);
    const __m128i v = FloorAvg(c, d);
    // The two halves dropped a bit each; both together make one more unit.
    const __m128i carry = _mm_and_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d));
    const __m128i odd = _mm_and_si128(_mm_xor_si128(h, v), one);
    return _mm_sub_epi8(_mm_avg_epu8(h, v), _mm_andnot_si128(carry, odd));
}

// Stores the blue, green and red bytes of the eight 32-bit pixels in v at
// p; each pixel's fourth byte keeps its old value. With masked set (see
// UseByteMaskedStores) one store under a byte mask does it, else the old
// bytes are read and merged.
QC_SIMD void StoreKeep4(uint8_t* p, __m256i v, bool masked) {
    if (masked) {
        // vmovdqu8 under a mask, written out so that the kernels around it
        // stay compiled for AVX2 alone; k1 is put back as it was, for code
        // built for a wider target that may hold a value there.
        uint64_t saved;
        __asm__("kmovq %%k1, %1\n\t"
                "kmovd %3, %%k1\n\t"
                "vmovdqu8 %2, %0%{%%k1%}\n\t"
                "kmovq %1, %%k1"
                : "+m"(*reinterpret_cast<uint8_t(*)[32]>(p)), "=&r"(saved)
                : "x"(v), "r"(0x77777777u));
        return;
    }
    auto* q = reinterpret_cast<__m256i*>(p);
    const __m256i keep = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    _mm256_storeu_si256(q, _mm256_or_si256(_mm256_andnot_si256(keep, v), _mm256_and_si256(_mm256_loadu_si256(q), keep)));
}

QC_SIMD __m256i Load32(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

QC_SIMD __m256i FloorAvg(__m256i a, __m256i b) {
    return _mm256_sub_epi8(_mm256_avg_epu8(a, b),
                           _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
}

QC_SIMD __m256i FloorAvg4(__m256i a, __m256i b, __m256i c, __m256i d) {
    const __m256i h = FloorAvg(a, b);
    const __m256i v = FloorAvg(c, d);
    const __m256i carry = _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(c, d));
    const __m256i odd = _mm256_and_si256(_mm256_xor_si256(h, v), _mm256_set1_epi8(1));
    return _mm256_sub_epi8(_mm256_avg_epu8(h, v), _mm256_andnot_si256(carry, odd));
}

// Stores 16 pixels from planes b, g, r: 48 bytes of B G R, or 64 bytes of
// B G R x where x keeps the destination's old fourth byte.
template <int P> QC_SIMD void StoreBgr(uint8_t* d, __m128i b, __m128i g, __m128i r, bool masked) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
    const __m128i r0Lo = _mm_unpacklo_epi8(r, zero), r0Hi = _mm_unpackhi_epi8(r, zero);
    __m128i q0 = _mm_unpacklo_epi16(bgLo, r0Lo), q1 = _mm_unpackhi_epi16(bgLo, r0Lo);
    __m128i q2 = _mm_unpacklo_epi16(bgHi, r0Hi), q3 = _mm_unpackhi_epi16(bgHi, r0Hi);
    if constexpr (P == 4) {
        StoreKeep4(d, _mm256_set_m128i(q1, q0), masked);
        StoreKeep4(d + 32, _mm256_set_m128i(q3, q2), masked);
    } else {
        const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        q0 = _mm_shuffle_epi8(q0, pack);
        q1 = _mm_shuffle_epi8(q1, pack);
        q2 = _mm_shuffle_epi8(q2, pack);
        q3 = _mm_shuffle_epi8(q3, pack);
        Save(d, _mm_or_si128(q0, _mm_slli_si128(q1, 12)));
        Save(d + 16, _mm_or_si128(_mm_srli_si128(q1, 4), _mm_slli_si128(q2, 8)));
        Save(d + 32, _mm_or_si128(_mm_srli_si128(q2, 8), _mm_slli_si128(q3, 4)));
    }
}

// Stores 32 pixels from 32-byte planes as 32-bit B G R x pixels, keeping
// each pixel's old fourth byte.
QC_SIMD void StoreBgr32x32(uint8_t* d, __m256i b, __m256i g, __m256i r, bool masked) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bgLo = _mm256_unpacklo_epi8(b, g), bgHi = _mm256_unpackhi_epi8(b, g);
    const __m256i r0Lo = _mm256_unpacklo_epi8(r, zero), r0Hi = _mm256_unpackhi_epi8(r, zero);
    // Each of these holds four pixels of the low half and four of the high half.
    const __m256i q0 = _mm256_unpacklo_epi16(bgLo, r0Lo), q1 = _mm256_unpackhi_epi16(bgLo, r0Lo);
    const __m256i q2 = _mm256_unpacklo_epi16(bgHi, r0Hi), q3 = _mm256_unpackhi_epi16(bgHi, r0Hi);
    const __m256i out[4] = {_mm256_permute2x128_si256(q0, q1, 0x20), _mm256_permute2x128_si256(q2, q3, 0x20),
                            _mm256_permute2x128_si256(q0, q1, 0x31), _mm256_permute2x128_si256(q2, q3, 0x31)};
    for (int k = 0; k < 4; ++k)
        StoreKeep4(d + 32 * k, out[k], masked);
}

// Shuffle masks that interleave three 16-byte planes into 48 bytes of
// B G R: chunk k of the output takes from plane c the bytes m[k][c] name
// (-1: none). Each mask is written for both lanes.
struct Interleave3Masks {
    alignas(32) int8_t m[3][3][32];
    constexpr Interleave3Masks() : m{} {
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c)
                for (int i = 0; i < 32; ++i) {
                    const int j = 16 * k + i % 16;
                    m[k][c][i] = static_cast<int8_t>(j % 3 == c ? j / 3 : -1);
                }
    }
};
inline constexpr Interleave3Masks kInterleave3{};

// Stores 32 pixels from 32-byte planes as 96 bytes of B G R; each lane
// makes the 48 bytes of its 16 pixels, which three 32-byte stores then
// write in order.
QC_SIMD void StoreBgr24x32(uint8_t* d, __m256i b, __m256i g, __m256i r) {
    __m256i o[3];
    for (int k = 0; k < 3; ++k) {
        const auto* m = kInterleave3.m[k];
        o[k] = _mm256_or_si256(
            _mm256_or_si256(_mm256_shuffle_epi8(b, Load32(reinterpret_cast<const uint8_t*>(m[0]))),
                            _mm256_shuffle_epi8(g, Load32(reinterpret_cast<const uint8_t*>(m[1])))),
            _mm256_shuffle_epi8(r, Load32(reinterpret_cast<const uint8_t*>(m[2]))));
    }
    // Lane k of o[j] holds bytes 48k + 16j to 48k + 16j + 15.
    auto* p = reinterpret_cast<__m256i*>(d);
    _mm256_storeu_si256(p, _mm256_permute2x128_si256(o[0], o[1], 0x20));
    _mm256_storeu_si256(p + 1, _mm256_blend_epi32(o[2], o[0], 0xF0));
    _mm256_storeu_si256(p + 2, _mm256_permute2x128_si256(o[1], o[2], 0x31));
}

// Stores 32 grey pixels (lo then hi) as 96 bytes of B G R.
QC_SIMD void StoreGrey24x32(uint8_t* d, __m128i lo, __m128i hi) {
    // Each 32-byte store takes its two lanes from the 16 greys they cover.
    const __m256i m0 = _mm256_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 6, 7, 7,
                                        7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m256i m1 = _mm256_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15, 0, 0,
                                        0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m256i m2 = _mm256_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10, 10, 11, 11, 11, 12,
                                        12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    auto* p = reinterpret_cast<__m256i*>(d);
    _mm256_storeu_si256(p, _mm256_shuffle_epi8(_mm256_set_m128i(lo, lo), m0));
    _mm256_storeu_si256(p + 1, _mm256_shuffle_epi8(_mm256_set_m128i(hi, lo), m1));
    _mm256_storeu_si256(p + 2, _mm256_shuffle_epi8(_mm256_set_m128i(hi, hi), m2));
}

// Stores 16 grey pixels: b = g = r = v.
template <int P> QC_SIMD void StoreGrey(uint8_t* d, __m128i v, bool masked) {
    if constexpr (P == 4) {
        // Two 32-byte stores, each lane four pixels; byte 3 keeps its old value.
        const __m256i keep = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
        const __m256i w = _mm256_broadcastsi128_si256(v);
        const __m256i m0 = _mm256_setr_epi8(0, 0, 0, -1, 1, 1, 1, -1, 2, 2, 2, -1, 3, 3, 3, -1, 4, 4, 4, -1,
                                            5, 5, 5, -1, 6, 6, 6, -1, 7, 7, 7, -1);
        const __m256i m1 = _mm256_add_epi8(m0, _mm256_set1_epi8(8)); // -1 + 8 = 7: masked below
        const __m256i lo = _mm256_shuffle_epi8(w, m0);
        const __m256i hi = _mm256_andnot_si256(keep, _mm256_shuffle_epi8(w, m1));
        StoreKeep4(d, lo, masked);
        StoreKeep4(d + 32, hi, masked);
    } else {
        Save(d, _mm_shuffle_epi8(v, _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5)));
        Save(d + 16, _mm_shuffle_epi8(v, _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10)));
        Save(d + 32, _mm_shuffle_epi8(
                         v, _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15)));
    }
}

// Rearranges 48 bytes; mask 3o + i picks the bytes of output register o
// from input register i (a negative lane picks none).
QC_SIMD void Permute48(const uint8_t* s, uint8_t* d, const __m128i (&masks)[9]) {
    const __m128i in[3] = {Load(s), Load(s + 16), Load(s + 32)};
    for (int o = 0; o < 3; ++o)
        Save(d + 16 * o, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], masks[3 * o]),
                                                   _mm_shuffle_epi8(in[1], masks[3 * o + 1])),
                                      _mm_shuffle_epi8(in[2], masks[3 * o + 2])));
}

// 16 three-byte pixels (48 bytes at s) into 32-bit B G R x pixels at d,
// keeping byte 3; masks[q] builds destination pixels 4q to 4q + 3 from the
// 16 bytes loaded at source offset kQuadLoad[q] (see Masks32).
QC_SIMD void Three2Four(const uint8_t* s, uint8_t* d, const int8_t (*masks)[16], const int* loads,
                        bool masked) {
    for (int h = 0; h < 2; ++h) {
        const __m256i in = _mm256_set_m128i(Load(s + loads[2 * h + 1]), Load(s + loads[2 * h]));
        const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(masks[2 * h]));
        StoreKeep4(d + 32 * h, _mm256_shuffle_epi8(in, m), masked);
    }
}

// Splits 16 pixels of 3 bytes (48 bytes at s) into their three planes.
QC_SIMD void Split3(const uint8_t* s, __m128i& c0, __m128i& c1, __m128i& c2) {
    const __m128i a = Load(s), b = Load(s + 16), c = Load(s + 32);
    // Byte k of plane j comes from source byte 3k + j.
    c0 = _mm_or_si128(
        _mm_or_si128(
            _mm_shuffle_epi8(a, _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
            _mm_shuffle_epi8(b, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1))),
        _mm_shuffle_epi8(c, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13)));
    c1 = _mm_or_si128(
        _mm_or_si128(
            _mm_shuffle_epi8(a, _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
            _mm_shuffle_epi8(b, _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1))),
        _mm_shuffle_epi8(c, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14)));
    c2 = _mm_or_si128(
        _mm_or_si128(
            _mm_shuffle_epi8(a, _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
            _mm_shuffle_epi8(b, _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1))),
        _mm_shuffle_epi8(c, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15)));
}

// 16 samples of 16 bits (32 bytes at s) reduced to bytes: optionally
// byte-swapped, shifted right, low 8 bits kept.
QC_SIMD __m128i Reduce16(const uint8_t* s, bool swap, __m128i shift) {
    __m128i lo = Load(s), hi = Load(s + 16);
    if (swap) {
        const __m128i sw = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
        lo = _mm_shuffle_epi8(lo, sw);
        hi = _mm_shuffle_epi8(hi, sw);
    }
    const __m128i mask = _mm_set1_epi16(0xFF);
    lo = _mm_and_si128(_mm_srl_epi16(lo, shift), mask);
    hi = _mm_and_si128(_mm_srl_epi16(hi, shift), mask);
    return _mm_packus_epi16(lo, hi);
}

// 16 samples packed two in 3 bytes (24 bytes at s), most significant
// bits first: bytes 3k and 3k + 2.
QC_SIMD __m128i UnpackMsb(const uint8_t* s) {
    const __m128i a = Load(s), b = Load(s + 8);
    return _mm_or_si128(
        _mm_shuffle_epi8(a, _mm_setr_epi8(0, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, -1, -1, -1, -1, -1)),
        _mm_shuffle_epi8(b, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 9, 10, 12, 13, 15)));
}

// 16 samples packed two in 3 bytes, least significant bits first: the top
// 8 of 12 bits are (b0 >> 4 | b1 << 4) for sample 2k and b2 for 2k + 1.
QC_SIMD __m128i UnpackLsb(const uint8_t* s) {
    const __m128i a = Load(s), b = Load(s + 8);
    const __m128i even = _mm_or_si128(
        _mm_shuffle_epi8(a, _mm_setr_epi8(0, 1, 3, 4, 6, 7, 9, 10, 12, 13, -1, -1, -1, -1, -1, -1)),
        _mm_shuffle_epi8(b, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 7, 8, 10, 11, 13, 14)));
    const __m128i odd = _mm_or_si128(
        _mm_shuffle_epi8(a, _mm_setr_epi8(-1, 2, -1, 5, -1, 8, -1, 11, -1, 14, -1, -1, -1, -1, -1, -1)),
        _mm_shuffle_epi8(b, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 9, -1, 12, -1, 15)));
    return _mm_or_si128(_mm_and_si128(_mm_srli_epi16(even, 4), _mm_set1_epi16(0xFF)), odd);
}

// ---- 64 bytes per register (AVX-512 BW, VL, VBMI) ----

QC_SIMD512 __m512i Load64(const uint8_t* p) {
    return _mm512_loadu_si512(p);
}
QC_SIMD512 void Save64(uint8_t* p, __m512i v) {
    _mm512_storeu_si512(p, v);
}

// floor((a + b) / 2) per byte.
QC_SIMD512 __m512i FloorAvg(__m512i a, __m512i b) {
    // 0x28: (a ^ b) & c, c the ones.
    return _mm512_sub_epi8(_mm512_avg_epu8(a, b), _mm512_ternarylogic_epi32(a, b, _mm512_set1_epi8(1), 0x28));
}

// floor((a + b + c + d) / 4) per byte given h = FloorAvg(a, b) and
// v = FloorAvg(c, d): the two halves dropped a bit each, both together one
// more unit.
QC_SIMD512 __m512i FloorAvg4(__m512i a, __m512i b, __m512i c, __m512i d, __m512i h, __m512i v) {
    // 0x2A: ~(x & y) & ones; 0x28: (h ^ v) & that.
    const __m512i none =
        _mm512_ternarylogic_epi32(_mm512_xor_si512(a, b), _mm512_xor_si512(c, d), _mm512_set1_epi8(1), 0x2A);
    return _mm512_sub_epi8(_mm512_avg_epu8(h, v), _mm512_ternarylogic_epi32(h, v, none, 0x28));
}

// Byte permutes that interleave 64-byte planes b, g, r into pixels: byte t
// of output register o takes pixel (64 o + t) / P, colour (64 o + t) % P;
// idx picks b or g (bit 6: g), kr marks the bytes of r, kx the fourth
// bytes (P == 4), which the stores keep.
template <int P> struct Interleave64 {
    alignas(64) uint8_t idx[P][64];
    uint64_t kr[P];
    uint64_t kx = 0;
    constexpr Interleave64(bool mirror) : idx{}, kr{} {
        for (int o = 0; o < P; ++o) {
            kr[o] = 0;
            for (int t = 0; t < 64; ++t) {
                const int j = 64 * o + t;
                int pixel = j / P;
                if (mirror) pixel = 63 - pixel;
                const int colour = j % P;
                idx[o][t] = static_cast<uint8_t>(pixel | (colour == 1 ? 64 : 0));
                if (colour == 2) kr[o] |= uint64_t{1} << t;
                if (colour == 3 && o == 0) kx |= uint64_t{1} << t;
            }
        }
    }
};
inline constexpr Interleave64<3> kInterleave24{false}, kInterleave24Rev{true};
inline constexpr Interleave64<4> kInterleave32{false}, kInterleave32Rev{true};

// Stores 64 pixels from the 64-byte planes b, g, r: 192 bytes of B G R,
// or 256 bytes of B G R x where x keeps the destination's old fourth byte
// (stored under a byte mask when masked, else read and merged). With
// mirror the pixels go in reverse order.
template <int P>
QC_SIMD512 void StoreBgr64(uint8_t* d, __m512i b, __m512i g, __m512i r, bool masked, bool mirror) {
    const Interleave64<P>* mp;
    if constexpr (P == 3)
        mp = mirror ? &kInterleave24Rev : &kInterleave24;
    else
        mp = mirror ? &kInterleave32Rev : &kInterleave32;
    const Interleave64<P>& m = *mp;
    for (int o = 0; o < P; ++o) {
        const __m512i idx = _mm512_load_si512(m.idx[o]);
        __m512i v = _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(b, idx, g), m.kr[o], idx, r);
        uint8_t* p = d + 64 * o;
        if constexpr (P == 4) {
            if (masked) {
                _mm512_mask_storeu_epi8(p, ~m.kx, v);
                continue;
            }
            v = _mm512_mask_blend_epi8(m.kx, v, Load64(p));
        }
        Save64(p, v);
    }
}

} // namespace simd
#endif

} // namespace qorcam::conversion
