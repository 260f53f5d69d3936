// Whether the vector kernels may run on this processor.
#include "Simd.h"

#include <atomic>

namespace qorcam::conversion {
namespace {

std::atomic<bool> gForceScalar{false};
std::atomic<bool> gForceMerged{false};

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

} // namespace

bool UseByteMaskedStores() {
    static const bool has = CpuHasByteMasks();
    return has && !gForceMerged.load(std::memory_order_relaxed);
}

void ForceMergedStores(bool merged) {
    gForceMerged.store(merged, std::memory_order_relaxed);
}

bool UseSimd() {
    static const bool hasAvx2 = CpuHasAvx2();
    return hasAvx2 && !gForceScalar.load(std::memory_order_relaxed);
}

void ForceScalarKernels(bool scalar) {
    gForceScalar.store(scalar, std::memory_order_relaxed);
}

} // namespace qorcam::conversion
