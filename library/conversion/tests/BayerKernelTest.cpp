// Bayer demosaicing kernels against the model and against fixed values.
#include "TestSupport.h"

#include <omp.h>

namespace qorcam::conversion::test {
namespace {

struct Size {
    uint32_t w, h;
};

TEST(BayerKernels, MatchModelForEveryPhaseModeAndSmallShape) {
    std::mt19937 rng(10);
    const Size sizes[] = {{1, 1}, {1, 4}, {3, 1}, {2, 2}, {3, 2}, {2, 3}, {3, 3},
                          {4, 4}, {5, 4}, {4, 5}, {5, 5}, {7, 6}, {8, 7}, {9, 9}};
    for (int32_t id : {9, 10, 12, 29})
        for (uint32_t phase = 0; phase < 4; ++phase)
            for (uint32_t store = 0; store < 4; ++store)
                for (uint32_t dib : {Dib32, Dib24})
                    for (bool rev : {false, true})
                        for (const Size& s : sizes) {
                            Case c;
                            c.id = id, c.width = s.w, c.height = s.h, c.phase = phase, c.storeMode = store;
                            c.dibMode = dib, c.revision = rev, c.shift = 3, c.endian = phase % 2;
                            ASSERT_TRUE(MatchesReference(c, rng, s.h >= 7));
                        }
}

TEST(BayerKernels, MatchModelOnRandomAndWideImages) {
    std::mt19937 rng(11);
    const Size sizes[] = {{64, 48}, {33, 17}, {2051, 3}, {4099, 3}}; // 4099: past one strip of columns
    for (int32_t id : {9, 10, 12, 14, 29})
        for (const Size& s : sizes)
            for (uint32_t store = 0; store < 4; ++store)
                for (uint32_t dib : {Dib32, Dib24}) {
                    Case c;
                    c.id = id, c.width = s.w, c.height = s.h, c.phase = (store + s.w) % 4,
                    c.storeMode = store;
                    c.dibMode = dib, c.revision = store < 2, c.shift = 8, c.endian = dib;
                    ASSERT_TRUE(MatchesReference(c, rng));
                }
}

TEST(ParallelForms, EveryThreadCountGivesTheSerialBytes) {
    std::mt19937 rng(14);
    const int saved = omp_get_max_threads();
    for (int threads : {1, 2, 5, omp_get_num_procs()}) {
        omp_set_num_threads(threads);
        for (int32_t id : {0, 2, 9, 10}) {
            Case c;
            c.id = id, c.width = 97, c.height = 61, c.phase = 2, c.storeMode = StoreBmpLR, c.revision = true;
            EXPECT_TRUE(MatchesReference(c, rng)) << threads << " threads";
        }
    }
    omp_set_num_threads(saved);
}

TEST(BayerKernels, UniformImageStaysUniform) {
    for (uint32_t phase = 0; phase < 4; ++phase)
        for (uint32_t store = 0; store < 4; ++store)
            for (bool rev : {false, true}) {
                Case c;
                c.id = 9, c.width = 7, c.height = 6, c.phase = phase, c.storeMode = store, c.revision = rev;
                const auto d = RunKernel(c, std::vector<uint8_t>(42, 100), std::vector<uint8_t>(4 * 42, 0));
                for (size_t i = 0; i < d.size(); ++i)
                    ASSERT_EQ(d[i], i % 4 == 3 ? 0 : 100) << Describe(c);
            }
}

TEST(BayerKernels, TwoByTwoWorkedExample) {
    const std::vector<uint8_t> src{10, 20, 30, 40}; // R G / G B
    Case c;
    c.id = 9, c.width = 2, c.height = 2;
    EXPECT_EQ(RunKernel(c, src, std::vector<uint8_t>(16, 0xEE)),
              (std::vector<uint8_t>{40, 25, 10, 0xEE, 40, 20, 10, 0xEE, 40, 30, 10, 0xEE, 40, 25, 10, 0xEE}));
    // Mirrored: the destination row 0 holds green 20 then red 10.
    c.storeMode = StoreMemLR;
    EXPECT_EQ(RunKernel(c, src, std::vector<uint8_t>(16, 0xEE)),
              (std::vector<uint8_t>{40, 20, 10, 0xEE, 40, 25, 10, 0xEE, 40, 25, 10, 0xEE, 40, 30, 10, 0xEE}));
}

TEST(BayerKernels, RevisionChangesOnlyInteriorNativeGreens) {
    std::mt19937 rng(12);
    const auto src = RandomBytes(9 * 8, rng);
    Case c;
    c.id = 9, c.width = 9, c.height = 8, c.phase = 1;
    const auto plain = RunKernel(c, src, std::vector<uint8_t>(4 * 72, 0));
    c.revision = true;
    const auto revised = RunKernel(c, src, std::vector<uint8_t>(4 * 72, 0));
    int changed = 0;
    for (int r = 0; r < 8; ++r)
        for (int col = 0; col < 9; ++col)
            for (int k = 0; k < 4; ++k) {
                const size_t i = (r * 9 + col) * 4 + k;
                // Phase 1 (G B / R G): greens where row and column have the same parity.
                const bool interiorGreen =
                    r > 0 && r < 7 && col > 0 && col < 8 && (r + col) % 2 == 0 && k == 1;
                if (!interiorGreen) {
                    ASSERT_EQ(plain[i], revised[i]) << r << "," << col << "," << k;
                }
                changed += plain[i] != revised[i];
            }
    EXPECT_GT(changed, 0);
}

TEST(BayerKernels, WideSamplesReduceToTheEightBitResult) {
    std::mt19937 rng(13);
    const uint32_t w = 11, h = 6;
    const auto bytes = RandomBytes(w * h, rng);
    const auto junk = RandomBytes(2 * w * h, rng);
    std::vector<uint8_t> little(2 * w * h), big(2 * w * h), packed((3 * w + 1) / 2 * h),
        packed12p(packed.size());
    const size_t prow = (3 * w + 1) / 2;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const size_t i = y * w + x;
            little[2 * i] = junk[i], little[2 * i + 1] = bytes[i];
            big[2 * i] = bytes[i], big[2 * i + 1] = junk[i];
            uint8_t* p = &packed[y * prow + 3 * (x / 2)];
            uint8_t* q = &packed12p[y * prow + 3 * (x / 2)];
            if (x % 2 == 0) {
                p[0] = bytes[i], p[1] = junk[i];
                q[0] = static_cast<uint8_t>(bytes[i] << 4 | (junk[i] & 15)), q[1] = bytes[i] >> 4;
            } else {
                p[2] = bytes[i], p[1] = junk[i];
                q[2] = bytes[i], q[1] = static_cast<uint8_t>((q[1] & 15) | (junk[i] << 4));
            }
        }
    for (uint32_t store = 0; store < 4; ++store)
        for (bool rev : {false, true}) {
            Case c;
            c.width = w, c.height = h, c.phase = store, c.storeMode = store, c.revision = rev,
            c.dibMode = Dib24;
            const std::vector<uint8_t> old(RefDibBytes(Dib24, w, h), 0x5A);
            c.id = 9;
            const auto want = RunKernel(c, bytes, old);
            c.id = 10, c.shift = 8, c.endian = 1;
            EXPECT_EQ(RunKernel(c, little, old), want);
            c.shift = 40, c.endian = 0; // only the low 5 bits of the shift count
            EXPECT_EQ(RunKernel(c, big, old), want);
            c.shift = -1; // packed samples ignore the shift
            c.id = 12;
            EXPECT_EQ(RunKernel(c, packed, old), want);
            c.id = 14;
            EXPECT_EQ(RunKernel(c, packed, old), want);
            c.id = 29;
            EXPECT_EQ(RunKernel(c, packed12p, old), want);
        }
}

TEST(BayerKernels, TinyImagesShowTheirSamplesAsGrey) {
    for (const Size s : {Size{1, 1}, Size{1, 3}, Size{4, 1}})
        for (uint32_t store = 0; store < 4; ++store) {
            Case c;
            c.id = 9, c.width = s.w, c.height = s.h, c.storeMode = store, c.dibMode = Dib24;
            std::vector<uint8_t> src(s.w * s.h);
            for (size_t i = 0; i < src.size(); ++i)
                src[i] = static_cast<uint8_t>(10 * (i + 1));
            Case g = c;
            g.id = 0;
            const std::vector<uint8_t> old(RefDibBytes(Dib24, s.w, s.h), 0x11);
            EXPECT_EQ(RunKernel(c, src, old), RunKernel(g, src, old)) << Describe(c);
        }
}

} // namespace
} // namespace qorcam::conversion::test
