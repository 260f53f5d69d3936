// Times each hot conversion kernel against OpenCV and memcpy in one run and
// prints the ratios as a markdown table.
//
//   conversion_bench [rounds] [part of a kernel name] [--burn N] [--burn-outside N] [--size WxH] [--warm]
//   conversion_bench --wake N [--burn-outside N]
//
// Every ratio is a speed ratio, the other contender's median time divided
// by ours: above 1 we are faster.
// - serial: ours with Parallel_Flag off against OpenCV on one thread and
//   against a one-thread memcpy of the output size;
// - parallel: ours with Parallel_Flag on against OpenCV on all its threads,
//   against a memcpy of the output split over every core, and against our
//   own serial time (the speed-up).
// Each contender runs its fastest fair path: OpenCV's 16-bit Bayer and mono
// go through convertTo to 8 bits first, into an intermediate allocated
// before the timing. The OpenMP threads of the split memcpy wait passively
// (OMP_WAIT_POLICY=passive, unless the environment names a policy: the
// bench starts itself again with it, as OpenMP reads it before main). With
// the default policy each of them spins 10 to 15 ms of processor time after
// every parallel region, beyond the pause before the next contender on a
// busy machine, and the region's own end waits for threads that the
// spinners keep from running. Before every timed run the buffers of the run are
// flushed from the caches. Rounds are interleaved (every contender once per
// round, each after a pause that lets the pool threads of the one before
// fall asleep) and the median round is kept. --burn N keeps N
// threads busy spinning throughout, to measure a loaded machine;
// --burn-outside N does the same on the processors outside the affinity
// mask the bench was started with (taskset -c 0,1 conversion_bench
// --burn-outside 6: a process confined to two processors of a busy
// machine). --size
// converts one image size instead of 1920x1200 and 4096x3000; --warm leaves
// the caches as they are (with a small size: the kernels' arithmetic
// without the memory bus, which a loaded machine shares).
//
// --wake N times instead what waking a sleeping helper thread costs, as
// the parallel form does at the start of every call: N wake-ups, each
// after a 20 ms pause (a camera's frame period), with the time the waker
// spends in the wake-up and the time until the helper runs; once with the
// helper kept off the waker's processor (as the pool keeps its helpers)
// and once where the scheduler puts it.
#include "CConv.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <immintrin.h>
#include <omp.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace qorcam::conversion;

namespace {

int gRounds = 11;
bool gWarm = false;

struct Buffer {
    const void* p;
    size_t n;
};

void Flush(const std::vector<Buffer>& buffers) {
    for (const Buffer& b : buffers)
        for (size_t i = 0; i < b.n; i += 64)
            _mm_clflush(static_cast<const char*>(b.p) + i);
    _mm_mfence();
}

struct Contender {
    std::function<void()> run;
    std::vector<Buffer> touches;
};

// Median time of each contender; the first serialCount run first in a
// round. Every run follows a pause in which the pool threads of the run
// before fall asleep, so that none of them spins beside the next one.
std::vector<double> Medians(const std::vector<Contender>& contenders, size_t serialCount) {
    std::vector<std::vector<double>> times(contenders.size());
    for (const auto& c : contenders)
        c.run(); // warm up: page in the buffers, start the pools
    for (int round = 0; round < gRounds; ++round) {
        for (size_t j = 0; j < contenders.size(); ++j) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            // Rotate the order inside each group from round to round.
            const size_t group = j < serialCount ? serialCount : contenders.size() - serialCount;
            const size_t base = j < serialCount ? 0 : serialCount;
            const size_t k = base + (j - base + static_cast<size_t>(round)) % group;
            if (!gWarm) Flush(contenders[k].touches);
            const auto t0 = std::chrono::steady_clock::now();
            contenders[k].run();
            times[k].push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
    }
    std::vector<double> med;
    for (auto& t : times) {
        std::nth_element(t.begin(), t.begin() + t.size() / 2, t.end());
        med.push_back(t[t.size() / 2]);
    }
    return med;
}

void ParallelCopy(uint8_t* dst, const uint8_t* src, size_t n) {
#pragma omp parallel
    {
        const size_t t = static_cast<size_t>(omp_get_thread_num());
        const size_t k = static_cast<size_t>(omp_get_num_threads());
        const size_t lo = n * t / k / 64 * 64, hi = t + 1 == k ? n : n * (t + 1) / k / 64 * 64;
        std::memcpy(dst + lo, src + lo, hi - lo);
    }
}

std::string LoadAverage() {
    char load[64] = "?";
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (!std::fgets(load, sizeof load, f)) load[0] = 0;
        std::fclose(f);
        load[std::strcspn(load, "\n")] = 0;
    }
    return load;
}

int64_t Nanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// See --wake above. The waker stays busy for up to 2 ms after each
// wake-up, as a conversion would; a helper not run by then counts as 2 ms.
void WakeCost(int n) {
    for (const bool keepOff : {true, false}) {
        std::atomic<uint32_t> word{0};
        std::atomic<int64_t> ranAt{0};
        std::atomic<bool> stop{false};
        std::thread helper([&] {
            for (uint32_t seen = 0;;) {
                word.wait(seen);
                seen = word.load();
                if (stop) return;
                ranAt = Nanoseconds();
            }
        });
        cpu_set_t mask;
        sched_getaffinity(0, sizeof mask, &mask);
        std::vector<double> cost, delay;
        for (int i = 0; i < n; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (keepOff) {
                cpu_set_t others = mask;
                CPU_CLR(sched_getcpu(), &others);
                if (CPU_COUNT(&others) > 0) pthread_setaffinity_np(helper.native_handle(), sizeof others, &others);
            }
            ranAt = 0;
            const int64_t t0 = Nanoseconds();
            word.fetch_add(1);
            word.notify_one();
            const int64_t t1 = Nanoseconds();
            while (ranAt.load() == 0 && Nanoseconds() - t0 < 2'000'000) {
            }
            const int64_t ran = ranAt.load();
            cost.push_back(static_cast<double>(t1 - t0) / 1e3);
            delay.push_back(ran != 0 ? static_cast<double>(ran - t0) / 1e3 : 2000.0);
        }
        stop = true;
        word.fetch_add(1);
        word.notify_one();
        helper.join();
        auto line = [](const char* what, std::vector<double> v) {
            std::sort(v.begin(), v.end());
            const auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))]; };
            std::printf("| %s | %.1f | %.1f | %.1f | %.1f | %.1f |\n", what, v.front(), at(0.1), at(0.5), at(0.9),
                        v.back());
        };
        std::printf("\nHelper %s, %d wake-ups (microseconds):\n\n| | least | 10%% | median | 90%% | most |\n"
                    "|---|---|---|---|---|---|\n",
                    keepOff ? "kept off the waker's processor" : "placed by the scheduler", n);
        line("waker's cost", cost);
        line("helper runs after", delay);
    }
}

enum class CvPath { None, Plain, Narrow16, Bayer8Stand_in };

struct Kernel {
    std::string name;
    int32_t id;
    uint32_t dib;
    int shift;    // of 16-bit samples
    CvPath path;  // OpenCV's way to the same bitmap
    int code;     // its cvtColor code
    int srcType;  // OpenCV type of the source image
};

} // namespace

int main(int argc, char** argv) {
    // See above: OpenMP's threads sleep when they have no work.
    if (!std::getenv("OMP_WAIT_POLICY") && setenv("OMP_WAIT_POLICY", "passive", 1) == 0) {
        execv("/proc/self/exe", argv);
        std::fprintf(stderr, "cannot start again with OMP_WAIT_POLICY=passive; OpenMP's threads spin\n");
        unsetenv("OMP_WAIT_POLICY");
    }
    const char* waitPolicy = std::getenv("OMP_WAIT_POLICY");
    std::string only;
    int burn = 0, burnOutside = 0, wake = 0;
    std::pair<int, int> size;
    std::vector<std::pair<int, int>> sizes = {{1920, 1200}, {4096, 3000}};
    for (int i = 1, positional = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--burn") == 0 && i + 1 < argc)
            burn = std::max(0, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--burn-outside") == 0 && i + 1 < argc)
            burnOutside = std::max(0, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--wake") == 0 && i + 1 < argc)
            wake = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--warm") == 0)
            gWarm = true;
        else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc &&
                 std::sscanf(argv[++i], "%dx%d", &size.first, &size.second) == 2 && size.first > 1 &&
                 size.second > 1 && size.first <= 65536 && size.second <= 65536)
            sizes = {size};
        else if (positional++ == 0)
            gRounds = std::max(3, std::atoi(argv[i]));
        else
            only = argv[i];
    }
    const int cores = omp_get_max_threads();
    const int cvThreads = cv::getNumThreads();

    std::atomic<bool> stop{false};
    std::vector<std::thread> burners;
    // The processors outside the mask the bench started with.
    cpu_set_t mine, outside;
    CPU_ZERO(&mine);
    CPU_ZERO(&outside);
    sched_getaffinity(0, sizeof mine, &mine);
    for (int c = 0; c < static_cast<int>(std::thread::hardware_concurrency()) && c < CPU_SETSIZE; ++c)
        if (!CPU_ISSET(c, &mine)) CPU_SET(c, &outside);
    if (burnOutside > 0 && CPU_COUNT(&outside) == 0) {
        std::fprintf(stderr, "--burn-outside: every processor is inside the affinity mask\n");
        burnOutside = 0;
    }
    for (int i = 0; i < burn + burnOutside; ++i)
        burners.emplace_back([&stop, pin = i >= burn, &outside] {
            if (pin) pthread_setaffinity_np(pthread_self(), sizeof outside, &outside);
            volatile uint64_t spin = 0;
            while (!stop.load(std::memory_order_relaxed))
                spin = spin + 1;
        });

    if (wake > 0) {
        std::printf("Cores: %d (in the affinity mask %d, burners %d, outside the mask %d), load average at start: %s\n",
                    static_cast<int>(std::thread::hardware_concurrency()), CPU_COUNT(&mine), burn, burnOutside,
                    LoadAverage().c_str());
        WakeCost(wake);
        std::printf("\nLoad average at end: %s\n", LoadAverage().c_str());
        stop = true;
        for (auto& b : burners)
            b.join();
        return 0;
    }

    const int bayer24 = cv::COLOR_BayerBG2BGR, bayer32 = cv::COLOR_BayerBG2BGRA;
    const std::vector<Kernel> kernels = {
        {"Bayer 8-bit to 24", ConvBayer8, Dib24, 0, CvPath::Plain, bayer24, CV_8UC1},
        {"Bayer 8-bit to 32", ConvBayer8, Dib32, 0, CvPath::Plain, bayer32, CV_8UC1},
        {"Bayer 10-bit to 24", ConvBayer16, Dib24, 2, CvPath::Narrow16, bayer24, CV_16UC1},
        {"Bayer 10-bit to 32", ConvBayer16, Dib32, 2, CvPath::Narrow16, bayer32, CV_16UC1},
        {"Bayer 12-bit to 24", ConvBayer16, Dib24, 4, CvPath::Narrow16, bayer24, CV_16UC1},
        {"Bayer 12-bit to 32", ConvBayer16, Dib32, 4, CvPath::Narrow16, bayer32, CV_16UC1},
        {"Bayer 16-bit to 24", ConvBayer16, Dib24, 8, CvPath::Narrow16, bayer24, CV_16UC1},
        {"Bayer 16-bit to 32", ConvBayer16, Dib32, 8, CvPath::Narrow16, bayer32, CV_16UC1},
        {"Bayer 12 packed to 24", ConvBayer12Packed, Dib24, 0, CvPath::Bayer8Stand_in, bayer24, CV_8UC1},
        {"Bayer 12 packed to 32", ConvBayer12Packed, Dib32, 0, CvPath::Bayer8Stand_in, bayer32, CV_8UC1},
        {"Bayer 12p to 24", ConvBayer12p, Dib24, 0, CvPath::Bayer8Stand_in, bayer24, CV_8UC1},
        {"Bayer 12p to 32", ConvBayer12p, Dib32, 0, CvPath::Bayer8Stand_in, bayer32, CV_8UC1},
        {"YUV 4:2:2 UYVY to 24", ConvYuv422, Dib24, 0, CvPath::Plain, cv::COLOR_YUV2BGR_UYVY, CV_8UC2},
        {"YUV 4:2:2 UYVY to 32", ConvYuv422, Dib32, 0, CvPath::Plain, cv::COLOR_YUV2BGRA_UYVY, CV_8UC2},
        {"YUV 4:2:2 YUYV to 24", ConvYuv422Yuyv, Dib24, 0, CvPath::Plain, cv::COLOR_YUV2BGR_YUYV, CV_8UC2},
        {"YUV 4:2:2 YUYV to 32", ConvYuv422Yuyv, Dib32, 0, CvPath::Plain, cv::COLOR_YUV2BGRA_YUYV, CV_8UC2},
        {"Mono8 to 24", ConvMono8, Dib24, 0, CvPath::Plain, cv::COLOR_GRAY2BGR, CV_8UC1},
        {"Mono8 to 32", ConvMono8, Dib32, 0, CvPath::Plain, cv::COLOR_GRAY2BGRA, CV_8UC1},
        {"Mono16 to 24", ConvMono16, Dib24, 4, CvPath::Narrow16, cv::COLOR_GRAY2BGR, CV_16UC1},
        {"Mono16 to 32", ConvMono16, Dib32, 4, CvPath::Narrow16, cv::COLOR_GRAY2BGRA, CV_16UC1},
        {"RGB to BGR 24", ConvRgb8, Dib24, 0, CvPath::Plain, cv::COLOR_RGB2BGR, CV_8UC3},
        {"RGB to BGR 32", ConvRgb8, Dib32, 0, CvPath::Plain, cv::COLOR_RGB2BGRA, CV_8UC3},
    };

    std::printf("Cores: %d (OpenMP threads %d waiting %s, OpenCV threads %d, burners %d, outside the mask %d), "
                "median of %d rounds, caches %s, load average at start: %s\n\n",
                static_cast<int>(std::thread::hardware_concurrency()), cores, waitPolicy ? waitPolicy : "as default",
                cvThreads, burn, burnOutside, gRounds, gWarm ? "warm" : "flushed before each run",
                LoadAverage().c_str());
    std::printf("| kernel | size | serial ms | vs OpenCV 1 | vs memcpy 1 | parallel ms | vs OpenCV %d | "
                "vs memcpy %d | vs own serial | load |\n",
                cvThreads, cores);
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    std::mt19937 rng(1);
    for (const auto& [w, h] : sizes)
        for (const Kernel& k : kernels) {
            if (k.name.find(only) == std::string::npos) continue;
            const size_t srcBytes = static_cast<size_t>(CConv::SourceRowBytes(k.id, w)) * h;
            const size_t dstBytes = static_cast<size_t>(CConv::DibRowBytes(k.dib, w)) * h;
            // The memcpy contenders copy buffers of their own, so that with
            // warm caches ours find their destination where they left it.
            std::vector<uint8_t> src(srcBytes), dst(dstBytes), copyFrom(dstBytes, 1), copy(dstBytes);
            for (auto& b : src)
                b = static_cast<uint8_t>(rng());
            // 16-bit samples of 8 + shift significant bits.
            if (k.srcType == CV_16UC1)
                for (size_t i = 1; i < src.size(); i += 2)
                    src[i] &= static_cast<uint8_t>((1u << k.shift) - 1);

            ConvRequest req;
            req.Width = w;
            req.Height = h;
            req.ConvFormatId = static_cast<uint32_t>(k.id);
            req.EndianMode = EndianLittle;
            req.Src = src.data();
            req.Dst = dst.data();
            ConvMode mode;
            mode.DIBMode = k.dib;
            mode.ShiftID = k.shift;
            CConv serial(mode, ConvValue{});
            mode.Parallel_Flag = 1;
            CConv parallel(mode, ConvValue{});

            // OpenCV's source: the same bytes where it reads the format,
            // an 8-bit mosaic of the same size where it has no packed form.
            std::vector<uint8_t> cvSrc8;
            cv::Mat in;
            if (k.path == CvPath::Bayer8Stand_in) {
                cvSrc8.resize(static_cast<size_t>(w) * h);
                for (auto& b : cvSrc8)
                    b = static_cast<uint8_t>(rng());
                in = cv::Mat(h, w, CV_8UC1, cvSrc8.data());
            } else {
                in = cv::Mat(h, w, k.srcType, src.data());
            }
            cv::Mat narrow(h, w, CV_8UC1), out;
            const double scale = 1.0 / static_cast<double>(1 << k.shift);
            auto opencv = [&] {
                if (k.path == CvPath::Narrow16) {
                    in.convertTo(narrow, CV_8U, scale);
                    cv::cvtColor(narrow, out, k.code);
                } else {
                    cv::cvtColor(in, out, k.code);
                }
            };
            opencv(); // allocates out
            const std::vector<Buffer> ours = {{src.data(), srcBytes}, {dst.data(), dstBytes}};
            const std::vector<Buffer> copies = {{copyFrom.data(), dstBytes}, {copy.data(), dstBytes}};
            const std::vector<Buffer> cvs = {{in.data, in.total() * in.elemSize()},
                                             {narrow.data, narrow.total()},
                                             {out.data, out.total() * out.elemSize()}};
            std::vector<Contender> contenders = {
                {[&] { serial.ConvExec(req); }, ours},
                {[&] { std::memcpy(copy.data(), copyFrom.data(), dstBytes); }, copies},
                {[&] {
                     cv::setNumThreads(1);
                     opencv();
                 },
                 cvs},
                {[&] { parallel.ConvExec(req); }, ours},
                {[&] { ParallelCopy(copy.data(), copyFrom.data(), dstBytes); }, copies},
                {[&] {
                     cv::setNumThreads(cvThreads);
                     opencv();
                 },
                 cvs},
            };
            const std::vector<double> t = Medians(contenders, 3);
            std::string load = LoadAverage();
            load = load.substr(0, load.find(' '));
            std::printf("| %s | %dx%d | %.2f | %.2f%s | %.2f | %.2f | %.2f%s | %.2f | %.2f | %s |\n",
                        k.name.c_str(), w, h, t[0] * 1e3, t[2] / t[0],
                        k.path == CvPath::Bayer8Stand_in ? "*" : "", t[1] / t[0], t[3] * 1e3, t[5] / t[3],
                        k.path == CvPath::Bayer8Stand_in ? "*" : "", t[4] / t[3], t[0] / t[3], load.c_str());
            std::fflush(stdout);
        }
    std::printf("\n* OpenCV has no packed Bayer format: its 8-bit demosaic of the same size stands in, "
                "a lower bound of what it would need.\nLoad average at end: %s\n",
                LoadAverage().c_str());
    stop = true;
    for (auto& b : burners)
        b.join();
    return 0;
}
