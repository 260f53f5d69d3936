// Row bands shared among threads: the parallel form of every kernel (internal).
//
// An image is cut into bands of whole rows, a few hundred kilobytes of
// output each, and the bands are handed out one at a time to the calling
// thread and to sleeping helper threads of a pool of our own. The caller
// works through the bands itself as well, so a helper that the scheduler
// sets aside costs at most the band it holds; helpers that come late find
// nothing left. Helpers wait on a condition variable between calls and
// never spin. The number of threads is at most the OpenMP default
// (omp_get_max_threads of the caller, so OMP_NUM_THREADS and
// omp_set_num_threads still count), one per 512 KB of output, at most the
// bands, and at most the processors this process may run on: its affinity
// mask, bounded by the CPU quota of its control group. Each parallel call
// measures what the helpers gained; when they gained nothing (their
// processors were taken by other work), the calls that follow run serially,
// more of them after every further loss, so a busy machine costs at most an
// occasional probe.
#pragma once

#include <cstddef>
#include <string>

namespace qorcam::conversion {

// Calls rows(r0, r1) for consecutive bands of [0, height) rows, possibly
// on several threads at once; returns when every band is done. rowBytes
// is the size of one destination row; minRows the smallest band worth
// handing out.
template <class Rows> void ForEachBand(int height, size_t rowBytes, int minRows, const Rows& rows);

// Tests: bands of exactly this many rows and the full thread count whatever
// the image size and the machine's load (0 restores the automatic choice).
void SetBandRowsForTests(int rows);

namespace detail {

struct BandPlan {
    int bandRows = 0;
    int threads = 1;
};
BandPlan PlanBands(int height, size_t rowBytes, int minRows);

// Where the plan learns about the processors of this process.
struct CpuReaders {
    // The processors of the affinity mask; 0 or less when not known.
    int (*affinity)() = nullptr;
    // The whole text of a file; false when it cannot be read.
    bool (*read)(const std::string& path, std::string& text) = nullptr;
};
// The processors this process may use: the affinity mask, bounded by the
// CPU quota (quota / period, rounded down, at least 1) of its control group
// and of every group above it, cgroup v2 (cpu.max) and v1
// (cpu.cfs_quota_us, cpu.cfs_period_us) alike. At least 1.
int UsableCpus(const CpuReaders& readers);
// Tests: the plan reads through these (null: the real ones) and forgets
// what it measured of earlier parallel calls.
void SetCpuReadersForTests(const CpuReaders* readers);
// Runs body(ctx, b) for every b of [0, bands), on the caller and on up to
// helpers pool threads.
void RunBands(int bands, int helpers, void (*body)(const void*, int), const void* ctx);

} // namespace detail

template <class Rows> void ForEachBand(int height, size_t rowBytes, int minRows, const Rows& rows) {
    const detail::BandPlan plan = detail::PlanBands(height, rowBytes, minRows);
    const int bands = (height + plan.bandRows - 1) / plan.bandRows;
    if (plan.threads <= 1 || bands <= 1) {
        rows(0, height);
        return;
    }
    struct Ctx {
        const Rows* rows;
        int bandRows;
        int height;
    } ctx{&rows, plan.bandRows, height};
    detail::RunBands(
        bands, plan.threads - 1,
        [](const void* p, int b) {
            const Ctx& c = *static_cast<const Ctx*>(p);
            const int r0 = b * c.bandRows;
            (*c.rows)(r0, r0 + c.bandRows < c.height ? r0 + c.bandRows : c.height);
        },
        &ctx);
}

} // namespace qorcam::conversion
