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
// mask, bounded by the CPU quota of its control group. Whether helpers are
// worth waking is then measured, per kernel and image size: the last three
// times of its serial and of its parallel calls are kept, the form with the
// shorter least time runs, and the other is tried again now and then (after
// 2 calls, then after twice as many each time it loses again, at most 64),
// so that a machine whose
// processors are taken by other work, or whose memory is the limit, runs
// at the serial speed but for those few trials.
#pragma once

#include <cstddef>
#include <string>

namespace qorcam::conversion {

// Calls rows(r0, r1) for consecutive bands of [0, height) rows, possibly
// on several threads at once; returns when every band is done. rowBytes
// is the size of one destination row; minRows the smallest band worth
// handing out; kernel names the work (the times of each kernel and image
// size are kept apart).
template <class Rows>
void ForEachBand(int height, size_t rowBytes, int minRows, unsigned kernel, const Rows& rows);

// Tests: bands of exactly this many rows and the full thread count whatever
// the image size and the machine's load (0 restores the automatic choice).
void SetBandRowsForTests(int rows);

namespace detail {

struct BandPlan {
    int bandRows = 0;
    int threads = 1;
    bool measure = false; // the call's time counts for the choice of form
};
// Without a kernel (0) nothing is measured: the plan is the most threads
// the image and the processors allow.
BandPlan PlanBands(int height, size_t rowBytes, int minRows, unsigned kernel = 0);
// The time of a call that PlanBands said to measure, and whether it ran
// on helpers as planned.
void RecordBands(unsigned kernel, int height, size_t rowBytes, bool parallel, double seconds);

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
// helpers pool threads; false when it ran them all on the caller (another
// parallel call held the pool, or no helper could be started).
bool RunBands(int bands, int helpers, void (*body)(const void*, int), const void* ctx);
double Now();

} // namespace detail

template <class Rows>
void ForEachBand(int height, size_t rowBytes, int minRows, unsigned kernel, const Rows& rows) {
    const detail::BandPlan plan = detail::PlanBands(height, rowBytes, minRows, kernel);
    const int bands = (height + plan.bandRows - 1) / plan.bandRows;
    const double start = plan.measure ? detail::Now() : 0;
    if (plan.threads <= 1 || bands <= 1) {
        rows(0, height);
        if (plan.measure) detail::RecordBands(kernel, height, rowBytes, false, detail::Now() - start);
        return;
    }
    struct Ctx {
        const Rows* rows;
        int bandRows;
        int height;
    } ctx{&rows, plan.bandRows, height};
    const bool parallel = detail::RunBands(
        bands, plan.threads - 1,
        [](const void* p, int b) {
            const Ctx& c = *static_cast<const Ctx*>(p);
            const int r0 = b * c.bandRows;
            (*c.rows)(r0, r0 + c.bandRows < c.height ? r0 + c.bandRows : c.height);
        },
        &ctx);
    if (plan.measure && parallel) detail::RecordBands(kernel, height, rowBytes, true, detail::Now() - start);
}

} // namespace qorcam::conversion
