// The parallel form against the serial one: every band size and thread
// count, the automatic plan on a large image, and callers converting at once.
#include "Parallel.h"
#include "TestSupport.h"

#include <omp.h>
#include <sched.h>

#include <array>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>

namespace qorcam::conversion::test {
namespace {

struct Restore {
    int threads = omp_get_max_threads();
    ~Restore() {
        omp_set_num_threads(threads);
        SetBandRowsForTests(5);
    }
};

std::vector<uint8_t> Convert(Case c, bool parallel, const std::vector<uint8_t>& src,
                             const std::vector<uint8_t>& old) {
    c.parallel = parallel;
    return RunKernel(c, src, old);
}

TEST(ParallelForms, OddThreadCountsAndBandSizesGiveTheSerialBytes) {
    Restore restore;
    std::mt19937 rng(40);
    // Generic, 16-bit, YUV, Bayer 8, 16 and packed, with the green revision
    // that follows the bands.
    const int32_t ids[] = {ConvMono8, ConvRgb8, ConvMono16, ConvYuv422, ConvBayer8, ConvBayer16, ConvBayer12p};
    for (int32_t id : ids)
        for (uint32_t store : {StoreMem, StoreBmpLR}) {
            Case c;
            c.id = id, c.width = 67, c.height = 43, c.phase = 1, c.storeMode = store, c.revision = true;
            c.dibMode = store == StoreMem ? Dib32 : Dib24, c.shift = 4;
            const auto src = RandomBytes(RefSourceBytes(c.id, c.width, c.height), rng);
            const auto old = RandomBytes(RefDibBytes(c.dibMode, c.width, c.height), rng);
            const auto want = Convert(c, false, src, old);
            for (int threads : {1, 3, 5, 7})
                for (int band : {1, 2, 3, 7, 16, 43, 50}) {
                    omp_set_num_threads(threads);
                    SetBandRowsForTests(band);
                    ASSERT_EQ(Convert(c, true, src, old), want)
                        << Describe(c) << ", " << threads << " threads, bands of " << band;
                }
        }
}

TEST(ParallelForms, AutomaticPlanOnImagesSmallAndLargeGivesTheSerialBytes) {
    Restore restore;
    omp_set_num_threads(std::max(2, omp_get_num_procs()));
    SetBandRowsForTests(0);
    std::mt19937 rng(41);
    // From a single pixel, too small for any helper, to images worth several.
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {3, 2}, {64, 64}, {1031, 517}};
    for (const auto& [w, h] : sizes)
        for (int32_t id : {ConvMono8, ConvBayer8}) {
            Case c;
            c.id = id, c.width = w, c.height = h, c.dibMode = Dib24, c.revision = id == ConvBayer8;
            const auto src = RandomBytes(RefSourceBytes(c.id, c.width, c.height), rng);
            const auto old = RandomBytes(RefDibBytes(c.dibMode, c.width, c.height), rng);
            EXPECT_EQ(Convert(c, true, src, old), Convert(c, false, src, old)) << Describe(c);
        }
}

TEST(ParallelForms, CallersConvertingAtOnceEachGetTheirOwnBytes) {
    Restore restore;
    std::mt19937 rng(42);
    Case c;
    c.id = ConvBayer16, c.width = 129, c.height = 97, c.shift = 4, c.revision = true;
    const auto src = RandomBytes(RefSourceBytes(c.id, c.width, c.height), rng);
    const auto old = RandomBytes(RefDibBytes(c.dibMode, c.width, c.height), rng);
    const auto want = Convert(c, false, src, old);
    SetBandRowsForTests(3);
    std::vector<std::vector<uint8_t>> got(4);
    std::vector<std::thread> callers;
    for (auto& out : got)
        callers.emplace_back([&] {
            omp_set_num_threads(3);
            for (int i = 0; i < 20; ++i)
                out = Convert(c, true, src, old);
        });
    for (auto& t : callers)
        t.join();
    for (const auto& out : got)
        EXPECT_EQ(out, want);
}

// The processors of the plan: the affinity mask, bounded by the CPU quota
// of the process's control group or of any group above it, from fake
// files. No timing: the plan is asked for a large image's thread count.
struct FakeMachine {
    int affinity = 8;
    std::map<std::string, std::string> files;
};
FakeMachine* gMachine = nullptr;

detail::CpuReaders FakeReaders() {
    detail::CpuReaders r;
    r.affinity = [] { return gMachine->affinity; };
    r.read = [](const std::string& path, std::string& text) {
        const auto it = gMachine->files.find(path);
        if (it == gMachine->files.end()) return false;
        text = it->second;
        return true;
    };
    return r;
}

// Four fake processors, OpenMP allowing four threads and the plan's own band
// sizes, for the length of a test (also one that stops at a failed ASSERT).
struct FourFakeCpus {
    Restore restore;
    FakeMachine machine{4, {}};
    detail::CpuReaders readers;
    FourFakeCpus() {
        omp_set_num_threads(4);
        SetBandRowsForTests(0);
        gMachine = &machine;
        readers = FakeReaders();
        detail::SetCpuReadersForTests(&readers);
    }
    ~FourFakeCpus() {
        detail::SetCpuReadersForTests(nullptr);
        gMachine = nullptr;
    }
};

TEST(ParallelPlan, ThreadsFollowTheAffinityMaskAndTheGroupQuota) {
    const std::string v2 = "0::/user.slice/app.scope\n";
    const std::string v1 = "5:cpuset:/\n4:cpu,cpuacct:/box/job\n1:name=systemd:/box\n";
    struct {
        const char* what;
        int affinity;
        std::map<std::string, std::string> files;
        int cpus;
    } const cases[] = {
        {"affinity alone, no group file", 2, {}, 2},
        {"v2 without a quota", 8, {{"/proc/self/cgroup", v2}, {"/sys/fs/cgroup/user.slice/app.scope/cpu.max", "max 100000\n"}}, 8},
        {"v2 quota of 3 processors", 8, {{"/proc/self/cgroup", v2}, {"/sys/fs/cgroup/user.slice/app.scope/cpu.max", "300000 100000\n"}}, 3},
        {"v2 quota of 2.5 rounds down", 8, {{"/proc/self/cgroup", v2}, {"/sys/fs/cgroup/user.slice/app.scope/cpu.max", "250000 100000\n"}}, 2},
        {"v2 quota below one processor", 8, {{"/proc/self/cgroup", v2}, {"/sys/fs/cgroup/user.slice/app.scope/cpu.max", "20000 100000\n"}}, 1},
        {"v2 quota of a parent group", 8,
         {{"/proc/self/cgroup", v2},
          {"/sys/fs/cgroup/user.slice/app.scope/cpu.max", "max 100000\n"},
          {"/sys/fs/cgroup/user.slice/cpu.max", "400000 100000\n"}}, 4},
        {"v2 namespace root", 8, {{"/proc/self/cgroup", "0::/\n"}, {"/sys/fs/cgroup/cpu.max", "200000 100000\n"}}, 2},
        {"affinity below the quota", 2, {{"/proc/self/cgroup", v2}, {"/sys/fs/cgroup/user.slice/app.scope/cpu.max", "600000 100000\n"}}, 2},
        {"v1 quota", 8,
         {{"/proc/self/cgroup", v1},
          {"/sys/fs/cgroup/cpu,cpuacct/box/job/cpu.cfs_quota_us", "150000\n"},
          {"/sys/fs/cgroup/cpu,cpuacct/box/job/cpu.cfs_period_us", "50000\n"}}, 3},
        {"v1 without a quota, a parent with one", 8,
         {{"/proc/self/cgroup", v1},
          {"/sys/fs/cgroup/cpu/box/job/cpu.cfs_quota_us", "-1\n"},
          {"/sys/fs/cgroup/cpu/box/job/cpu.cfs_period_us", "100000\n"},
          {"/sys/fs/cgroup/cpu/box/cpu.cfs_quota_us", "500000\n"},
          {"/sys/fs/cgroup/cpu/box/cpu.cfs_period_us", "100000\n"}}, 5},
        {"unreadable quota text", 8, {{"/proc/self/cgroup", v2}, {"/sys/fs/cgroup/user.slice/app.scope/cpu.max", "x y\n"}}, 8},
        {"zero period", 8, {{"/proc/self/cgroup", v2}, {"/sys/fs/cgroup/user.slice/app.scope/cpu.max", "100000 0\n"}}, 8},
        {"mask not known", 0, {}, std::max(1, static_cast<int>(std::thread::hardware_concurrency()))},
    };
    Restore restore;
    omp_set_num_threads(64);
    SetBandRowsForTests(0);
    for (const auto& c : cases) {
        FakeMachine machine{c.affinity, c.files};
        gMachine = &machine;
        const detail::CpuReaders readers = FakeReaders();
        EXPECT_EQ(detail::UsableCpus(readers), c.cpus) << c.what;
        detail::SetCpuReadersForTests(&readers);
        // 64 MB of output: worth every usable processor.
        EXPECT_EQ(detail::PlanBands(8192, 8192, 2).threads, std::min(c.cpus, 64)) << c.what;
        detail::SetCpuReadersForTests(nullptr);
    }
    gMachine = nullptr;
    // The OpenMP default still bounds it.
    FakeMachine machine{8, {}};
    gMachine = &machine;
    const detail::CpuReaders readers = FakeReaders();
    detail::SetCpuReadersForTests(&readers);
    omp_set_num_threads(3);
    EXPECT_EQ(detail::PlanBands(8192, 8192, 2).threads, 3);
    detail::SetCpuReadersForTests(nullptr);
    gMachine = nullptr;
}

// The plan's own look at this process (its caches of the mask and of the
// quota) counts what a fresh read of the same sources counts.
TEST(ParallelPlan, TheRealProcessorsAreThoseAFreshReadCounts) {
    Restore restore;
    omp_set_num_threads(64);
    SetBandRowsForTests(0);
    detail::SetCpuReadersForTests(nullptr);
    detail::CpuReaders fresh;
    fresh.affinity = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
    };
    fresh.read = [](const std::string& path, std::string& text) {
        std::ifstream in(path);
        if (!in) return false;
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return true;
    };
    const int want = std::min(detail::UsableCpus(fresh), 64);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(detail::PlanBands(8192, 8192, 2).threads, want) << i;
}

// The choice from given times (none measured here): the serial form's least
// and typical times, the parallel form's typical time, the wake-up's cost.
TEST(ParallelPlan, TheParallelFormRunsOnlyWhenItWasMeasurablyFaster) {
    struct Row {
        int64_t serialLeast, serial, parallel, wake;
        bool parallelPays;
        const char* what;
    } rows[] = {
        {0, 0, 0, 0, false, "nothing known: the serial form first"},
        {0, 0, 100'000, 0, false, "no serial time"},
        {500'000, 500'000, 0, 0, true, "no parallel time yet"},
        {500'000, 500'000, 0, 30'000, true, "long enough for a wake-up"},
        {500'000, 500'000, 300'000, 30'000, true, "faster"},
        {500'000, 500'000, 468'750, 30'000, true, "faster by a sixteenth"},
        {500'000, 500'000, 480'000, 30'000, false, "faster by less than a sixteenth"},
        {500'000, 500'000, 500'000, 30'000, false, "as fast"},
        {500'000, 500'000, 700'000, 30'000, false, "slower"},
        {450'000, 600'000, 500'000, 30'000, true, "the typical serial time is what the parallel one must beat"},
        {250'000, 400'000, 100'000, 30'000, false, "too short for a wake-up at its best, however fast"},
        {299'999, 299'999, 0, 30'000, false, "just too short"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(detail::ParallelPays(r.serialLeast, r.serial, r.parallel, r.wake), r.parallelPays) << r.what;
}

// Of `calls` plans of a kernel, how many got helpers.
int HelpedCalls(int calls, int height, size_t row, unsigned kernel) {
    int helped = 0;
    for (int i = 0; i < calls; ++i)
        helped += detail::PlanBands(height, row, 2, kernel).threads > 1;
    return helped;
}

// Records a call of the kernel that took ns in one form.
void Took(unsigned kernel, int height, size_t row, bool parallel, int64_t ns) {
    detail::BandPlan p;
    p.kernel = kernel, p.rowBytes = row;
    (parallel ? detail::RecordParallel : detail::RecordSerial)(p, height, ns);
}

// The plan of one kernel and image size follows the times recorded for it:
// the two forms in turn until each has a few times, then the faster form,
// the other one tried again rarely and more rarely while it keeps losing,
// and sooner again when a trial beats the other form. Other image sizes,
// kernels and calls without a kernel keep their own choice.
TEST(ParallelPlan, EachKernelKeepsTheFormThatWasFasterAndRetriesTheOtherRarely) {
    FourFakeCpus cpus;
    const int h = 3000;
    const size_t row = 12288;
    const unsigned kernel = 77, other = 78;
    auto helpedCalls = [&](int calls, int height, unsigned k) { return HelpedCalls(calls, height, row, k); };
    auto took = [&](bool parallel, int64_t ns) { Took(kernel, h, row, parallel, ns); };
    // The serial form until it has a time, then the parallel one.
    EXPECT_EQ(helpedCalls(5, h, kernel), 0);
    took(false, 1'000'000);
    EXPECT_EQ(helpedCalls(5, h, kernel), 5);
    // The forms take turns until each has three times.
    took(true, 600'000);
    EXPECT_EQ(helpedCalls(5, h, kernel), 0);
    for (int i = 0; i < 2; ++i) {
        took(false, 1'000'000);
        EXPECT_EQ(helpedCalls(5, h, kernel), 5) << i;
        took(true, 600'000);
    }
    // Parallel faster: the serial form only as a rare trial.
    const int serialCalls = 64 - helpedCalls(64, h, kernel);
    EXPECT_GE(serialCalls, 1);
    EXPECT_LE(serialCalls, 4);
    // Parallel slower in most of its last five calls: serial, with trials
    // of the parallel form growing rarer (after 8 calls, then 16, 32, ...).
    for (int i = 0; i < 3; ++i)
        took(true, 1'100'000);
    const int early = helpedCalls(64, h, kernel);
    const int late = helpedCalls(512, h, kernel);
    EXPECT_GE(early, 2);
    EXPECT_LE(early, 4);
    EXPECT_GE(late, 1);
    EXPECT_LE(late, 3);
    // The load went away: a fast parallel trial brings the next one within
    // 8 calls, and once most of its last times are fast it runs again.
    took(true, 500'000);
    EXPECT_EQ(helpedCalls(8, h, kernel), 1);
    took(true, 500'000);
    EXPECT_EQ(helpedCalls(8, h, kernel), 1);
    took(true, 500'000);
    EXPECT_GE(helpedCalls(8, h, kernel), 7);
    // Nothing of this kernel counts for another image size or kernel, nor
    // for a call without a kernel.
    EXPECT_EQ(helpedCalls(4, h / 2, kernel), 0);
    EXPECT_EQ(helpedCalls(4, h, other), 0);
    EXPECT_EQ(helpedCalls(4, h, 0), 4);
}

// A parallel form whose helper comes in one call of a few is fast in that
// call and slower than the serial form in the others: its best call does
// not make it the choice, nor does one slow serial call.
TEST(ParallelPlan, ANoisyParallelFormIsNotChosenForItsBestCalls) {
    FourFakeCpus cpus;
    const int h = 3000;
    const size_t row = 12288;
    const unsigned kernel = 77;
    const int64_t serial[] = {500'000, 490'000, 900'000, 510'000, 500'000};
    const int64_t parallel[] = {300'000, 560'000, 540'000, 320'000, 580'000};
    for (int i = 0; i < 5; ++i) {
        Took(kernel, h, row, false, serial[i]);
        Took(kernel, h, row, true, parallel[i]);
    }
    EXPECT_LE(HelpedCalls(64, h, row, kernel), 4);
    // Most of its last calls fast: chosen, though two were slower than
    // serial.
    Took(kernel, h, row, true, 310'000);
    Took(kernel, h, row, true, 330'000);
    EXPECT_GE(HelpedCalls(64, h, row, kernel), 60);
}

// A kernel whose calls take little next to what waking a helper costs the
// caller runs serially, even when its parallel form was faster, but for
// rare calls that measure the wake-up again; a longer one keeps its
// helpers.
TEST(ParallelPlan, CallsShortNextToTheWakeUpRunSeriallyButForRareTrials) {
    FourFakeCpus cpus;
    const int h = 3000;
    const size_t row = 12288;
    const unsigned shortKernel = 77, longKernel = 78;
    auto helpedCalls = [&](unsigned kernel) { return HelpedCalls(64, h, row, kernel); };
    auto took = [&](unsigned kernel, int64_t serial, int64_t parallel, int times) {
        for (int i = 0; i < times; ++i) {
            Took(kernel, h, row, false, serial);
            Took(kernel, h, row, true, parallel);
        }
    };
    for (int i = 0; i < 9; ++i)
        detail::RecordWakeForTests(30'000);
    took(shortKernel, 250'000, 150'000, 3); // 8 wake-ups' worth
    took(longKernel, 350'000, 200'000, 3);  // 12
    const int rare = helpedCalls(shortKernel);
    EXPECT_GE(rare, 1);
    EXPECT_LE(rare, 4);
    EXPECT_GE(helpedCalls(longKernel), 60);
    // The least of the last serial times counts: slow calls do not hide
    // the kernel's pace; wake-ups grown dear make the longer kernel short
    // too.
    took(shortKernel, 900'000, 150'000, 2);
    EXPECT_LE(helpedCalls(shortKernel), 4);
    for (int i = 0; i < 5; ++i)
        detail::RecordWakeForTests(40'000);
    EXPECT_LE(helpedCalls(longKernel), 4);
}

// The hand-out of bands, without a kernel: every row is converted exactly
// once, in bands that start on a multiple of the kernel's rows, whether the
// helpers come late, take most of the image, or the calls of different
// sizes follow each other faster than a helper wakes.
TEST(ParallelBands, EveryRowOnceWhateverTheHelpersPace) {
    FourFakeCpus cpus;
    struct {
        const char* what;
        int calls;
        std::chrono::microseconds helperDelay, callerDelay; // per band
    } const cases[] = {
        {"helpers late", 20, std::chrono::microseconds(2000), std::chrono::microseconds(50)},
        {"caller slow", 20, {}, std::chrono::microseconds(300)},
        {"calls back to back", 2000, {}, {}},
    };
    std::mt19937 rng(43);
    for (const auto& c : cases)
        for (int call = 0; call < c.calls; ++call) {
            const int height = std::uniform_int_distribution<int>(1, 3000)(rng);
            const int minRows = std::array{1, 2, 7, 16}[call % 4];
            // 8 KB rows: from one helper's worth to every processor's.
            const size_t rowBytes = 8192;
            std::unique_ptr<std::atomic<int>[]> times(new std::atomic<int>[height]());
            std::atomic<int> misplaced{0};
            const std::thread::id caller = std::this_thread::get_id();
            ForEachBand(height, rowBytes, minRows, 0, [&](int r0, int r1) {
                const bool onCaller = std::this_thread::get_id() == caller;
                std::this_thread::sleep_for(onCaller ? c.callerDelay : c.helperDelay);
                if (r0 % minRows != 0 || (r1 % minRows != 0 && r1 != height) || r0 >= r1) ++misplaced;
                for (int r = std::max(r0, 0); r < std::min(r1, height); ++r)
                    ++times[r];
            });
            int wrong = 0;
            for (int r = 0; r < height; ++r)
                wrong += times[r] != 1;
            ASSERT_EQ(wrong, 0) << c.what << ", call " << call << ", " << height << " rows of " << minRows;
            ASSERT_EQ(misplaced, 0) << c.what << ", call " << call << ", " << height << " rows of " << minRows;
        }
}

} // namespace
} // namespace qorcam::conversion::test
