// Times each hot conversion kernel against OpenCV and memcpy in one run and
// prints the ratios as a markdown table.
//
//   conversion_bench [rounds] [part of a kernel name]
//
// "vs OpenCV" is OpenCV's time divided by ours (above 1: we are faster);
// "vs memcpy" is our time divided by a memcpy of the output size (the
// memory limit; 1 would be as fast as copying the bitmap). Serial columns
// run everything on one thread; parallel columns use every core for both
// us (Parallel_Flag) and OpenCV, and an OpenMP-split memcpy as the limit.
#include "CConv.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace qorcam::conversion;

namespace {

int gRepeats = 15;

// Best time of each contender, running them in turn round after round so
// that all of them meet the same load from the rest of the machine.
std::vector<double> Best(const std::vector<std::function<void()>>& runs) {
    std::vector<double> best(runs.size(), 1e30);
    for (const auto& run : runs)
        run(); // warm up: page in the buffers
    for (int i = 0; i < gRepeats; ++i)
        for (size_t k = 0; k < runs.size(); ++k) {
            const auto t0 = std::chrono::steady_clock::now();
            runs[k]();
            best[k] = std::min(best[k],
                               std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
    return best;
}

struct Kernel {
    std::string name;
    int32_t id;
    uint32_t dib;
    // OpenCV's way to the same bitmap, or empty when it has none.
    std::function<void(const cv::Mat& src, cv::Mat& dst)> opencv;
    int srcType; // OpenCV type of the source image
};

void ParallelCopy(uint8_t* dst, const uint8_t* src, size_t n) {
#pragma omp parallel
    {
        const size_t t = static_cast<size_t>(omp_get_thread_num());
        const size_t k = static_cast<size_t>(omp_get_num_threads());
        const size_t lo = n * t / k, hi = n * (t + 1) / k;
        std::memcpy(dst + lo, src + lo, hi - lo);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) gRepeats = std::max(3, std::atoi(argv[1]));
    const std::string only = argc > 2 ? argv[2] : "";
    const int cores = omp_get_max_threads();
    const int cvThreads = cv::getNumThreads();

    auto bayer16 = [](int code) {
        return [code](const cv::Mat& s, cv::Mat& d) {
            cv::Mat wide;
            cv::cvtColor(s, wide, code);
            wide.convertTo(d, CV_8U, 1.0 / 16);
        };
    };
    auto mono16 = [](int code) {
        return [code](const cv::Mat& s, cv::Mat& d) {
            cv::Mat narrow;
            s.convertTo(narrow, CV_8U, 1.0 / 16);
            cv::cvtColor(narrow, d, code);
        };
    };
    auto plain = [](int code) { return [code](const cv::Mat& s, cv::Mat& d) { cv::cvtColor(s, d, code); }; };

    const std::vector<Kernel> kernels = {
        {"Bayer 8-bit to 24", ConvBayer8, Dib24, plain(cv::COLOR_BayerBG2BGR), CV_8UC1},
        {"Bayer 8-bit to 32", ConvBayer8, Dib32, plain(cv::COLOR_BayerBG2BGRA), CV_8UC1},
        {"Bayer 16-bit to 24", ConvBayer16, Dib24, bayer16(cv::COLOR_BayerBG2BGR), CV_16UC1},
        {"Bayer 16-bit to 32", ConvBayer16, Dib32, bayer16(cv::COLOR_BayerBG2BGRA), CV_16UC1},
        {"Bayer packed to 24", ConvBayer12Packed, Dib24, nullptr, 0},
        {"Bayer packed to 32", ConvBayer12Packed, Dib32, nullptr, 0},
        {"Mono8 to 24", ConvMono8, Dib24, plain(cv::COLOR_GRAY2BGR), CV_8UC1},
        {"Mono8 to 32", ConvMono8, Dib32, plain(cv::COLOR_GRAY2BGRA), CV_8UC1},
        {"Mono16 to 24", ConvMono16, Dib24, mono16(cv::COLOR_GRAY2BGR), CV_16UC1},
        {"Mono16 to 32", ConvMono16, Dib32, mono16(cv::COLOR_GRAY2BGRA), CV_16UC1},
        {"YUV 4:2:2 to 24", ConvYuv422, Dib24, plain(cv::COLOR_YUV2BGR_UYVY), CV_8UC2},
        {"YUV 4:2:2 to 32", ConvYuv422, Dib32, plain(cv::COLOR_YUV2BGRA_UYVY), CV_8UC2},
        {"RGB to BGR 24", ConvRgb8, Dib24, plain(cv::COLOR_RGB2BGR), CV_8UC3},
        {"RGB to BGR 32", ConvRgb8, Dib32, plain(cv::COLOR_RGB2BGRA), CV_8UC3},
    };
    const std::pair<int, int> sizes[] = {{1920, 1200}, {4096, 3000}};

    char load[64] = "?";
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (!std::fgets(load, sizeof load, f)) load[0] = 0;
        std::fclose(f);
        load[std::strcspn(load, "\n")] = 0;
    }
    std::printf(
        "Cores: %d (OpenMP threads %d, OpenCV threads %d), best of %d rounds, load average at start: %s\n\n",
        cores, cores, cvThreads, gRepeats, load);
    std::printf(
        "| kernel | size | serial ms | vs OpenCV | vs memcpy | parallel ms | vs OpenCV | vs memcpy |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    std::mt19937 rng(1);
    for (const auto& [w, h] : sizes)
        for (const Kernel& k : kernels) {
            if (k.name.find(only) == std::string::npos) continue;
            const size_t srcBytes = static_cast<size_t>(CConv::SourceRowBytes(k.id, w)) * h;
            const size_t dstBytes = static_cast<size_t>(CConv::DibRowBytes(k.dib, w)) * h;
            std::vector<uint8_t> src(srcBytes), dst(dstBytes), copy(dstBytes);
            for (auto& b : src)
                b = static_cast<uint8_t>(rng());
            if (k.id == ConvBayer16 || k.id == ConvMono16)
                for (size_t i = 1; i < src.size(); i += 2)
                    src[i] &= 0x0F; // 12-bit samples

            ConvRequest req;
            req.Width = w;
            req.Height = h;
            req.ConvFormatId = static_cast<uint32_t>(k.id);
            req.EndianMode = EndianLittle;
            req.Src = src.data();
            req.Dst = dst.data();
            ConvMode mode;
            mode.DIBMode = k.dib;
            mode.ShiftID = 4;
            CConv serial(mode, ConvValue{});
            mode.Parallel_Flag = 1;
            CConv parallel(mode, ConvValue{});
            cv::Mat in(h, w, k.srcType ? k.srcType : CV_8UC1, src.data());
            cv::Mat out;
            std::vector<std::function<void()>> runs = {
                [&] { serial.ConvExec(req); },
                [&] { std::memcpy(copy.data(), dst.data(), dstBytes); },
                [&] { parallel.ConvExec(req); },
                [&] { ParallelCopy(copy.data(), dst.data(), dstBytes); },
            };
            if (k.opencv) {
                runs.push_back([&] {
                    cv::setNumThreads(1);
                    k.opencv(in, out);
                });
                runs.push_back([&] {
                    cv::setNumThreads(cvThreads);
                    k.opencv(in, out);
                });
            }
            const std::vector<double> t = Best(runs);
            const double ours[2] = {t[0], t[2]};
            const double copySerial = t[1], copyParallel = t[3];
            const double cvTime[2] = {k.opencv ? t[4] : 0.0, k.opencv ? t[5] : 0.0};
            auto vsCv = [&](int par) {
                char text[32];
                if (!k.opencv) return std::string("-");
                std::snprintf(text, sizeof text, "%.2f", cvTime[par] / ours[par]);
                return std::string(text);
            };
            std::printf("| %s | %dx%d | %.2f | %s | %.2f | %.2f | %s | %.2f |\n", k.name.c_str(), w, h,
                        ours[0] * 1e3, vsCv(0).c_str(), ours[0] / copySerial, ours[1] * 1e3, vsCv(1).c_str(),
                        ours[1] / copyParallel);
            std::fflush(stdout);
        }
    return 0;
}
