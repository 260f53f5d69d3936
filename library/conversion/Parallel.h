// Row bands shared among threads: the parallel form of every kernel (internal).
//
// The calling thread starts converting at once. It wakes one sleeping helper
// thread of a pool of our own (each helper that finds work left wakes the
// next), and every thread takes the next band of rows from a shared counter
// when it is ready for one, until none is left; the caller then waits only
// for the bands already taken. A helper that the scheduler runs late thus
// converts less, and one that never runs converts nothing: the parallel
// form costs the caller one wake-up more than the serial one. Which form
// runs is chosen from the times of both lately, per kernel and image size
// (see PlanBands). Bands are a
// few hundred kilobytes of output while much of the image is left and
// shrink towards its end, so that the threads finish together; each is a
// multiple of the rows the kernel asks for. Helpers never spin between
// calls: they sleep until the next one. Each is kept on one processor of
// the caller's affinity mask, and the caller wakes those of processors
// other than its own, so that the scheduler cannot queue a helper behind
// its caller (or let it take the caller's place).
//
// The number of threads is at most the OpenMP default (omp_get_max_threads
// of the caller, so OMP_NUM_THREADS and omp_set_num_threads still count),
// one per 512 KB of output, and the processors this process may run on: its
// affinity mask, bounded by the CPU quota of its control group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qorcam::conversion {

// Calls rows(r0, r1) for consecutive bands of [0, height) rows, possibly
// on several threads at once; returns when every band is done. Every row
// is in exactly one band, and every band but the last starts and ends on a
// multiple of minRows. rowBytes is the size of one destination row; kernel
// names the work (its times are kept apart; see PlanBands).
template <class Rows>
void ForEachBand(int height, size_t rowBytes, int minRows, unsigned kernel, const Rows& rows);

// Tests: bands of exactly this many rows (minRows does not count) and the
// full thread count whatever the image size (0 restores the automatic
// choice).
void SetBandRowsForTests(int rows);

namespace detail {

struct BandPlan {
    int threads = 1;
    // The largest band, and the smallest one handed out while rows are
    // left to fill it; both multiples of minRows (or the forced size).
    int bandRows = 0;
    int tailRows = 0;
    // Set when the call's time counts for the kernel's pace (see below).
    unsigned kernel = 0;
    size_t rowBytes = 0;
};
// With a kernel, the plan keeps the form that was faster lately for that
// kernel and image size, by the typical time of each form: the median of
// its last five times (whole calls, timed on the caller; of an even count
// the lower middle one for the serial form, the upper for the parallel).
// The serial form runs until it has a time, and whenever its least time is
// below ten times what waking a helper lately cost the caller (the median
// of the last few); otherwise the two forms take turns until each has
// three times, and then the parallel one runs when its typical time is at
// most 15/16 of the serial one's. The form that lost still runs now and
// then: after 8 calls, then after twice as many each time it loses again,
// up to 256 (back to 8 when the choice changes, or when a trial beat the
// other form's typical time), so that a change of load is noticed. Without
// a kernel (0) the plan is the most threads the image and the processors
// allow.
BandPlan PlanBands(int height, size_t rowBytes, int minRows, unsigned kernel = 0);
// The choice from the serial form's least and typical times, the parallel
// form's typical time (0: none yet) and the wake-up's cost: whether the
// parallel form pays (with no parallel time: whether it is worth a try).
bool ParallelPays(int64_t serialLeast, int64_t serial, int64_t parallel, int64_t wake);
// The time of a call PlanBands gave a kernel to, run serially or in
// parallel (not kept of a parallel call that started helper threads).
void RecordSerial(const BandPlan& plan, int height, int64_t nanoseconds);
void RecordParallel(const BandPlan& plan, int height, int64_t nanoseconds);
// Tests: a wake-up that cost this much.
void RecordWakeForTests(int64_t nanoseconds);
int64_t Nanoseconds();

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
// the times it kept.
void SetCpuReadersForTests(const CpuReaders* readers);

// Runs body(ctx, r0, r1) over bands covering [0, height) as the plan says,
// on the caller and on up to plan.threads - 1 pool helpers; returns the
// rows the caller converted itself.
int RunBands(int height, const BandPlan& plan, void (*body)(const void*, int, int), const void* ctx);

} // namespace detail

template <class Rows>
void ForEachBand(int height, size_t rowBytes, int minRows, unsigned kernel, const Rows& rows) {
    if (height <= 0) return;
    const detail::BandPlan plan = detail::PlanBands(height, rowBytes, minRows, kernel);
    if (plan.threads <= 1 || plan.tailRows >= height) {
        const int64_t start = plan.kernel != 0 ? detail::Nanoseconds() : 0;
        rows(0, height);
        if (plan.kernel != 0) detail::RecordSerial(plan, height, detail::Nanoseconds() - start);
        return;
    }
    const int64_t start = plan.kernel != 0 ? detail::Nanoseconds() : 0;
    detail::RunBands(
        height, plan, [](const void* p, int r0, int r1) { (*static_cast<const Rows*>(p))(r0, r1); }, &rows);
    if (plan.kernel != 0) detail::RecordParallel(plan, height, detail::Nanoseconds() - start);
}

} // namespace qorcam::conversion
