// Helpers shared by the conversion tests.
#pragma once

#include "CConv.h"
#include "ClassifyPixelFormat.h"
#include "ReferenceModel.h"
#include "Simd.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace qorcam::conversion::test {

struct Case {
    int32_t id = 0;
    uint32_t width = 1;
    uint32_t height = 1;
    uint32_t phase = 0;
    uint32_t endian = EndianLittle;
    uint32_t storeMode = StoreMem;
    uint32_t dibMode = Dib32;
    int32_t shift = 0;
    bool revision = false;
    bool parallel = false;
};

inline std::string Describe(const Case& c) {
    char text[200];
    std::snprintf(text, sizeof text, "id %d %ux%u phase %u endian %u store %u dib %u shift %d rev %d par %d",
                  c.id, c.width, c.height, c.phase, c.endian, c.storeMode, c.dibMode, c.shift, c.revision,
                  c.parallel);
    return text;
}

inline ConvMode ModeOf(const Case& c) {
    ConvMode m;
    m.StoreMode = c.storeMode;
    m.ShiftID = c.shift;
    m.DIBMode = c.dibMode;
    m.BayerRevision_G = c.revision;
    m.Parallel_Flag = c.parallel;
    return m;
}

// Every code that the classification accepts, found by scanning the code
// ranges its table lives in.
inline std::vector<uint32_t> AcceptedCodes() {
    std::vector<uint32_t> codes;
    for (uint32_t prefix : {0x0108u, 0x010Cu, 0x0110u, 0x020Cu, 0x0210u, 0x0218u, 0x0220u, 0x0224u, 0x0230u})
        for (uint32_t low = 0; low < 0x100; ++low) {
            uint32_t phase, bits;
            if (ClassifyPixelFormat(prefix << 16 | low, &phase, &bits) >= 0)
                codes.push_back(prefix << 16 | low);
        }
    return codes;
}

inline ConvRequest RequestOf(const Case& c, const std::vector<uint8_t>& src, std::vector<uint8_t>& dst) {
    ConvRequest r;
    r.Width = c.width;
    r.Height = c.height;
    r.ConvFormatId = static_cast<uint32_t>(c.id);
    r.BayerPhase = c.phase;
    r.EndianMode = c.endian;
    r.Src = src.data();
    r.Dst = dst.data();
    return r;
}

// Runs the kernel on src into a destination prefilled with `old`.
inline std::vector<uint8_t> RunKernel(const Case& c, const std::vector<uint8_t>& src,
                                      const std::vector<uint8_t>& old) {
    CConv conv(ModeOf(c), ConvValue{});
    std::vector<uint8_t> dst = old;
    EXPECT_TRUE(conv.ConvExec(RequestOf(c, src, dst))) << Describe(c);
    return dst;
}

inline std::vector<uint8_t> RunReference(const Case& c, const std::vector<uint8_t>& src,
                                         const std::vector<uint8_t>& old) {
    RefSettings s;
    s.storeMode = c.storeMode;
    s.dibMode = c.dibMode;
    s.shift = static_cast<uint32_t>(c.shift);
    s.revision = c.revision;
    std::vector<uint8_t> dst = old;
    RefConvert(s, RequestOf(c, src, dst), dst);
    return dst;
}

// Converts a random image with the kernel (serial and parallel; vector
// paths with 32-bit pixels stored under a byte mask where the processor can,
// and merged with their old fourth byte, the AVX2 path where the processor
// runs wider ones, with either store, and the scalar path) and the model, into destinations holding the same
// random old content, and compares every byte, the unwritten ones included. The parallel form can be left out
// where an image has too few rows to share.
inline ::testing::AssertionResult MatchesReference(Case c, std::mt19937& rng, bool alsoParallel = true) {
    const auto src = RandomBytes(RefSourceBytes(c.id, c.width, c.height), rng);
    const auto old = RandomBytes(RefDibBytes(c.dibMode, c.width, c.height), rng);
    const auto want = RunReference(c, src, old);
    const char* const paths[] = {"", " other store", " scalar", " AVX2", " AVX2 other store"};
    // The store the processor prefers for 32-bit pixels runs on the first
    // path; paths 1 and 4 run the other one where the processor has both.
    const bool masked = UseByteMaskedStores();
    for (int path = 0; path < 5; ++path)
        for (bool parallel : {false, true}) {
            if (parallel && !alsoParallel) continue;
            const bool other = path == 1 || path == 4;
            if (other && (!CanStoreByteMasks() || c.dibMode != Dib32)) continue;
            if ((path == 3 || path == 4) && !UseAvx512()) continue;
            c.parallel = parallel;
            ForceMergedStores(other && masked);
            ForceByteMaskedStores(other && !masked);
            ForceScalarKernels(path == 2);
            ForceAvx2Kernels(path == 3 || path == 4);
            const auto got = RunKernel(c, src, old);
            ForceAvx2Kernels(false);
            ForceScalarKernels(false);
            ForceByteMaskedStores(false);
            ForceMergedStores(false);
            for (size_t i = 0; i < want.size(); ++i)
                if (got[i] != want[i])
                    return ::testing::AssertionFailure()
                           << Describe(c) << paths[path] << (parallel ? " parallel" : "") << ": byte " << i
                           << " is " << int(got[i]) << ", model " << int(want[i]);
        }
    return ::testing::AssertionSuccess();
}

} // namespace qorcam::conversion::test
