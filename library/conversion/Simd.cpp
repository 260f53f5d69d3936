// Whether the vector kernels may run on this processor.
#include "Simd.h"

#include <atomic>

namespace qorcam::conversion {
namespace {

std::atomic<bool> gForceScalar{false};
std::atomic<bool> gForceMerged{false};
std::atomic<bool> gForceAvx2{false};
std::atomic<bool> gForceMasked{false};

bool CpuHasAvx2() {
#if QORCAM_CONV_SIMD
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

bool CpuHasByteMasks() {
#if QORCAM_CONV_SIMD
    __builtin_cpu_init();
    // The built-in also checks that the system saves the mask registers.
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl");
#else
    return false;
#endif
}

// Masked stores where they were measured to win: on the Intel machine of
// bench/README.md they beat reading and merging the fourth byte by 5 to
// 15% on a flushed image; on the AMD one (Zen 5) they lost (1920x1200
// flushed, least thread time: Bayer 8-bit to 32 0.80 ms against 0.64
// merged, Bayer 10-bit 1.09 against 0.63, UYVY 0.80 against 0.68; 64-byte
// masked stores 0.77 against 0.65), so AMD processors merge.
bool CpuPrefersByteMasks() {
#if QORCAM_CONV_SIMD
    __builtin_cpu_init();
    return CpuHasByteMasks() && !__builtin_cpu_is("amd");
#else
    return false;
#endif
}

bool CpuHasAvx512Vbmi() {
#if QORCAM_CONV_SIMD
    __builtin_cpu_init();
    return CpuHasByteMasks() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vbmi");
#else
    return false;
#endif
}

} // namespace

bool CanStoreByteMasks() {
    static const bool has = CpuHasByteMasks();
    return has;
}

bool UseByteMaskedStores() {
    static const bool prefers = CpuPrefersByteMasks();
    if (!CanStoreByteMasks()) return false;
    if (gForceMasked.load(std::memory_order_relaxed)) return true;
    return prefers && !gForceMerged.load(std::memory_order_relaxed);
}

void ForceByteMaskedStores(bool masked) {
    gForceMasked.store(masked, std::memory_order_relaxed);
}

void ForceMergedStores(bool merged) {
    gForceMerged.store(merged, std::memory_order_relaxed);
}

bool UseSimd() {
    static const bool hasAvx2 = CpuHasAvx2();
    return hasAvx2 && !gForceScalar.load(std::memory_order_relaxed);
}

// `bytes` on AMD processors, 0 elsewhere (and without the SIMD kernels).
static int OnAmd(int bytes) {
#if QORCAM_CONV_SIMD
    static const bool amd = [] {
        __builtin_cpu_init();
        return __builtin_cpu_is("amd") != 0;
    }();
    return amd ? bytes : 0;
#else
    (void)bytes;
    return 0;
#endif
}

// On the AMD processor of bench/README.md (Zen 5) the 64-pixel kernels
// wait on the destination lines they write: asking for them 8 KB ahead
// made Bayer 8-bit to 32 1.5x as fast on a flushed image (4 KB 1.4x, 16 KB
// the same as 8). The Intel machine before it gained nothing from it.
int StorePrefetch() {
    return OnAmd(8192);
}

// The source 4 KB ahead (a row or two of a 1920-pixel image), on the same
// machine: Bayer 16-bit to 32 at 1920x1200 flushed 0.39 ms against 0.50,
// Bayer 8-bit 5 to 9% and YUV 4:2:2 4 to 8% faster (1 to 8 KB all within 4%
// of each other).
int SourcePrefetch() {
    return OnAmd(4096);
}

bool UseAvx512() {
    static const bool has = CpuHasAvx512Vbmi();
    return has && UseSimd() && !gForceAvx2.load(std::memory_order_relaxed);
}

void ForceAvx2Kernels(bool avx2) {
    gForceAvx2.store(avx2, std::memory_order_relaxed);
}

void ForceScalarKernels(bool scalar) {
    gForceScalar.store(scalar, std::memory_order_relaxed);
}

} // namespace qorcam::conversion
