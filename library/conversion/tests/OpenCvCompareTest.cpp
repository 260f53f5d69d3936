// The kernels against OpenCV where OpenCV's arithmetic is the same.
#include "TestSupport.h"

#include <opencv2/imgproc.hpp>

namespace qorcam::conversion::test {
namespace {

cv::Mat Dib24Mat(std::vector<uint8_t>& d, int w, int h) {
    return cv::Mat(h, w, CV_8UC3, d.data(), static_cast<size_t>(CConv::DibRowBytes(Dib24, w)));
}

TEST(OpenCvCompare, GreyAndRgbAgreeExactly) {
    std::mt19937 rng(20);
    const int w = 37, h = 11;
    const auto grey = RandomBytes(w * h, rng);
    const auto rgb = RandomBytes(3 * w * h, rng);
    const std::vector<uint8_t> old(RefDibBytes(Dib24, w, h), 0);
    Case c;
    c.width = w, c.height = h, c.dibMode = Dib24;
    struct Row {
        int32_t id;
        const std::vector<uint8_t>& src;
        int channels;
        int code;
    } rows[] = {{0, grey, 1, cv::COLOR_GRAY2BGR}, {4, rgb, 3, cv::COLOR_RGB2BGR}, {15, rgb, 3, -1}};
    for (const Row& row : rows)
        for (bool parallel : {false, true}) {
            c.id = row.id, c.parallel = parallel;
            auto ours = RunKernel(c, row.src, old);
            cv::Mat in(h, w, CV_8UC(row.channels), const_cast<uint8_t*>(row.src.data()));
            cv::Mat theirs;
            if (row.code < 0)
                theirs = in.clone();
            else
                cv::cvtColor(in, theirs, row.code);
            EXPECT_EQ(cv::norm(Dib24Mat(ours, w, h), theirs, cv::NORM_INF), 0.0) << row.id;
        }
}

TEST(OpenCvCompare, BayerInteriorAgreesWhereFloorAndRoundAgree) {
    // Samples that are multiples of 4 make every average exact, so OpenCV's
    // rounding and our truncation give the same interior.
    std::mt19937 rng(21);
    const int w = 40, h = 30;
    auto src = RandomBytes(w * h, rng);
    for (auto& v : src)
        v &= 0xFC;
    // OpenCV names a mosaic by the colours of its second row's second and third samples.
    const int codes[4] = {cv::COLOR_BayerBG2BGR, cv::COLOR_BayerGR2BGR, cv::COLOR_BayerGB2BGR,
                          cv::COLOR_BayerRG2BGR};
    for (uint32_t phase = 0; phase < 4; ++phase) {
        Case c;
        c.id = 9, c.width = w, c.height = h, c.phase = phase, c.dibMode = Dib24;
        auto ours = RunKernel(c, src, std::vector<uint8_t>(RefDibBytes(Dib24, w, h), 0));
        cv::Mat theirs;
        cv::cvtColor(cv::Mat(h, w, CV_8UC1, src.data()), theirs, codes[phase]);
        const cv::Rect inner(1, 1, w - 2, h - 2);
        EXPECT_EQ(cv::norm(Dib24Mat(ours, w, h)(inner), theirs(inner), cv::NORM_INF), 0.0) << phase;
    }
}

} // namespace
} // namespace qorcam::conversion::test
