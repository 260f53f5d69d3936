// The parallel form against the serial one: every band size and thread
// count, the automatic plan on a large image, and callers converting at once.
#include "Parallel.h"
#include "TestSupport.h"

#include <omp.h>

#include <clocale>
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

// The free processors by /proc/loadavg: the runnable count (which includes
// the caller) and the rounded 1-minute load, whatever the process's locale.
TEST(ParallelPlan, FreeProcessorsFollowTheLoadUnderADecimalCommaLocale) {
    struct LocaleGuard {
        std::string old = std::setlocale(LC_ALL, nullptr);
        ~LocaleGuard() { std::setlocale(LC_ALL, old.c_str()); }
    } guard;
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (locale-gen)";
    struct {
        const char* text;
        int cpus;
        int free;
    } const cases[] = {
        {"5.60 4.00 3.00 1/190 12345\n", 8, 2}, // 5.6 rounds to 6 busy, not 5
        {"5.29 4.00 3.00 1/190 12345\n", 8, 3},
        {"0.40 0.10 0.00 3/190 12345\n", 8, 6},  // two other runnable threads
        {"0.00 0.00 0.00 1/190 12345\n", 4, 4},
        {"9.50 9.00 9.00 1/190 12345\n", 8, 1},  // more load than processors
        {"x 1/190 12345\n", 8, 8},               // no load read: the runnable count alone
        {"0.00 0.00 0.00 190 12345\n", 8, 8},    // no runnable count: every processor
    };
    for (const auto& c : cases)
        EXPECT_EQ(detail::FreeCpusOfLoad(c.text, c.cpus), c.free) << c.text;
}

} // namespace
} // namespace qorcam::conversion::test
