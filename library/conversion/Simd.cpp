// Whether the vector kernels may run on this processor.
#include "Simd.h"

#include <atomic>

namespace qorcam::conversion {
namespace {

std::atomic<bool> gForceScalar{false};

bool CpuHasAvx2() {
#if QORCAM_CONV_SIMD
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

} // namespace

bool UseSimd() {
    static const bool hasAvx2 = CpuHasAvx2();
    return hasAvx2 && !gForceScalar.load(std::memory_order_relaxed);
}

void ForceScalarKernels(bool scalar) {
    gForceScalar.store(scalar, std::memory_order_relaxed);
}

} // namespace qorcam::conversion
