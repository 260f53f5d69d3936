// Generic (non-Bayer) kernels against the model and against fixed values.
#include "TestSupport.h"

#include <limits>

namespace qorcam::conversion::test {
namespace {

const int32_t kGenericIds[] = {0,  1,  2,  3,  4,  5,  6,  11, 13, 15, 16, 17,
                               18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28};

TEST(GenericKernels, MatchModelInEveryModeAndShape) {
    std::mt19937 rng(1);
    for (int32_t id : kGenericIds)
        for (uint32_t dib : {Dib32, Dib24})
            for (uint32_t store = 0; store < 4; ++store)
                for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u, 17u})
                    for (uint32_t h : {1u, 2u, 3u}) {
                        Case c;
                        c.id = id, c.width = w, c.height = h, c.storeMode = store, c.dibMode = dib;
                        ASSERT_TRUE(MatchesReference(c, rng, h == 3 && w % 4 == 1));
                    }
}

TEST(GenericKernels, SixteenBitSamplesFollowShiftAndByteOrder) {
    std::mt19937 rng(2);
    for (int32_t id : {5, 6, 16})
        for (uint32_t endian : {0u, 1u, 2u})
            for (int32_t shift : {0, 2, 4, 8, 13, 31, 40})
                for (uint32_t store : {0u, 3u}) {
                    Case c;
                    c.id = id, c.width = 21, c.height = 3, c.endian = endian, c.shift = shift,
                    c.storeMode = store;
                    ASSERT_TRUE(MatchesReference(c, rng, shift == 4));
                }
}

TEST(GenericKernels, RandomLargerImages) {
    // Wide enough for the vector code's 16-pixel blocks and a ragged tail.
    std::mt19937 rng(3);
    for (int32_t id : kGenericIds)
        for (uint32_t dib : {Dib32, Dib24})
            for (uint32_t store = 0; store < 4; ++store) {
                Case c;
                c.id = id, c.width = 35 + id, c.height = 7, c.storeMode = store, c.dibMode = dib;
                c.shift = id % 9, c.endian = store % 2;
                ASSERT_TRUE(MatchesReference(c, rng));
            }
}

TEST(GenericKernels, ExtremeYuvCoefficientsClampAlikeOnEveryPath) {
    std::mt19937 rng(4);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const ConvValue values[] = {{1e9, -1e9, 1e9, -1e9}, {300.0, 250.0, -250.0, -300.0}, {nan, 0.0, nan, 0.0}};
    for (const ConvValue& value : values)
        for (int32_t id : {2, 24, 26, 3}) {
            const uint32_t w = 40, h = 3;
            const auto src = RandomBytes(RefSourceBytes(id, w, h), rng);
            RefSettings set;
            set.value = value;
            std::vector<uint8_t> want(RefDibBytes(Dib32, w, h), 9);
            ConvRequest r;
            r.Width = w, r.Height = h, r.ConvFormatId = static_cast<uint32_t>(id), r.Src = src.data();
            RefConvert(set, r, want);
            for (bool scalar : {false, true}) {
                CConv conv(ConvMode{}, value);
                std::vector<uint8_t> got(want.size(), 9);
                r.Dst = got.data();
                ForceScalarKernels(scalar);
                EXPECT_TRUE(conv.ConvExec(r));
                ForceScalarKernels(false);
                EXPECT_EQ(got, want) << id << " scalar " << scalar << " R " << value.R_Value;
            }
        }
}

TEST(GenericKernels, YuvCoefficientsOfEverySignAndSizeMatchTheModel) {
    // The vector code computes table entries by multiply and shift where the
    // table allows: negative, tiny, whole, inexact and near-limit values.
    std::mt19937 rng(5);
    const ConvValue values[] = {{-1.402, 0.7, -0.343, 2.5},
                                {0.1, 1.0, 0.0, -0.001},
                                {255.0, -255.9, 3.3333333, 1e-9},
                                {0.3, -0.6, 0.9, 1.7}};
    for (const ConvValue& value : values)
        for (int32_t id : {2, 24, 26})
            for (uint32_t dib : {Dib32, Dib24})
                for (uint32_t store : {0u, 3u}) {
                    const uint32_t w = 83, h = 2; // 32- and 16-pixel blocks and a ragged tail
                    const auto src = RandomBytes(RefSourceBytes(id, w, h), rng);
                    RefSettings set;
                    set.value = value;
                    set.dibMode = dib;
                    set.storeMode = store;
                    std::vector<uint8_t> want(RefDibBytes(dib, w, h), 9);
                    ConvRequest r;
                    r.Width = w, r.Height = h, r.ConvFormatId = static_cast<uint32_t>(id), r.Src = src.data();
                    RefConvert(set, r, want);
                    ConvMode mode;
                    mode.DIBMode = dib;
                    mode.StoreMode = store;
                    CConv conv(mode, value);
                    std::vector<uint8_t> got(want.size(), 9);
                    r.Dst = got.data();
                    EXPECT_TRUE(conv.ConvExec(r));
                    EXPECT_EQ(got, want) << id << " dib " << dib << " store " << store << " R " << value.R_Value;
                }
}

std::vector<uint8_t> Convert1(int32_t id, std::vector<uint8_t> src, uint32_t w, uint32_t h,
                              uint32_t store = 0, uint32_t dib = Dib32, int32_t shift = 0,
                              uint32_t endian = 1, uint8_t fill = 0xEE) {
    Case c;
    c.id = id, c.width = w, c.height = h, c.storeMode = store, c.dibMode = dib, c.shift = shift,
    c.endian = endian;
    return RunKernel(c, src, std::vector<uint8_t>(RefDibBytes(dib, w, h), fill));
}

TEST(GenericKernels, FixedValues) {
    // Mono8 2 x 2, bottom-up and mirrored: source row 0 lands in row 1, reversed.
    EXPECT_EQ(Convert1(0, {10, 20, 30, 40}, 2, 2, StoreBmpLR),
              (std::vector<uint8_t>{40, 40, 40, 0xEE, 30, 30, 30, 0xEE, 20, 20, 20, 0xEE, 10, 10, 10, 0xEE}));
    // 24-bit rows are padded to 4 bytes and the padding is kept.
    EXPECT_EQ(Convert1(0, {1, 2, 3, 4, 5, 6}, 3, 2, StoreBmpLR, Dib24),
              (std::vector<uint8_t>{6, 6, 6, 5, 5, 5, 4, 4, 4, 0xEE, 0xEE, 0xEE,
                                    3, 3, 3, 2, 2, 2, 1, 1, 1, 0xEE, 0xEE, 0xEE}));
    // YUV 4:4:4 grey stays grey; V 255 clamps red at 255, V 0 at 0.
    EXPECT_EQ(Convert1(3, {128, 128, 128}, 1, 1), (std::vector<uint8_t>{128, 128, 128, 0xEE}));
    EXPECT_EQ(Convert1(3, {128, 255, 255}, 1, 1)[2], 255);
    EXPECT_EQ(Convert1(3, {128, 0, 0}, 1, 1)[2], 0);
    // 16-bit mono: high byte first with endian 0; only the low 8 bits of the shifted sample survive.
    EXPECT_EQ(Convert1(5, {0x0F, 0xFF}, 1, 1, 0, Dib32, 4, 0)[0], 0xFF);
    EXPECT_EQ(Convert1(5, {0xF0, 0x0F}, 1, 1, 0, Dib32, 4, 1)[0], 0xFF);
    EXPECT_EQ(Convert1(5, {0xFF, 0x0F}, 1, 1, 0, Dib32, 0, 1)[0], 0xFF);
    EXPECT_EQ(Convert1(5, {0x00, 0x01}, 1, 1, 0, Dib32, 0, 1)[0], 0x00);
    // Packed mono: width 3 has rows of 5 bytes, the third pixel is byte 3.
    EXPECT_EQ(Convert1(11, {1, 99, 2, 3, 99, 4, 98, 5, 6, 98}, 3, 2, 0, Dib24),
              (std::vector<uint8_t>{1, 1, 1, 2, 2, 2, 3, 3, 3, 0xEE, 0xEE, 0xEE,
                                    4, 4, 4, 5, 5, 5, 6, 6, 6, 0xEE, 0xEE, 0xEE}));
}

TEST(GenericKernels, FiveSixFiveFieldsAreWidenedToFullScale) {
    EXPECT_EQ(Convert1(22, {0xFF, 0xFF}, 1, 1), (std::vector<uint8_t>{255, 255, 255, 0xEE}));
    EXPECT_EQ(Convert1(22, {0x00, 0x00}, 1, 1), (std::vector<uint8_t>{0, 0, 0, 0xEE}));
    // red = 0x1F in the low bits of id 22, in the high bits of id 23.
    EXPECT_EQ(Convert1(22, {0x1F, 0x00}, 1, 1), (std::vector<uint8_t>{0, 0, 255, 0xEE}));
    EXPECT_EQ(Convert1(23, {0x1F, 0x00}, 1, 1), (std::vector<uint8_t>{255, 0, 0, 0xEE}));
    // green 0x20 of 63 becomes 0x82 of 255.
    EXPECT_EQ(Convert1(22, {0x00, 0x04}, 1, 1)[1], 0x82);
}

TEST(GenericKernels, StandardYCbCrLayoutsReadCbBeforeCr) {
    // Y Cb Cr reads as the U Y V layout with its bytes reordered; likewise the
    // 4:2:2 and 4:1:1 forms against their U-first counterparts.
    EXPECT_EQ(Convert1(25, {100, 200, 50}, 1, 1), Convert1(3, {200, 100, 50}, 1, 1));
    EXPECT_EQ(Convert1(26, {90, 210, 110, 40}, 2, 1), Convert1(24, {90, 210, 110, 40}, 2, 1));
    EXPECT_EQ(Convert1(27, {10, 20, 200, 30, 40, 60}, 4, 1), Convert1(1, {200, 10, 20, 60, 30, 40}, 4, 1));
    // Mono12p: pixel 0 = 0xABC, pixel 1 = 0xDEF, least significant bits first.
    EXPECT_EQ(Convert1(28, {0xBC, 0xFA, 0xDE}, 2, 1, 0, Dib24),
              (std::vector<uint8_t>{0xAB, 0xAB, 0xAB, 0xDE, 0xDE, 0xDE, 0xEE, 0xEE}));
}

TEST(GenericKernels, PartialGroupsWithoutAGroupBeforeUseNeutralChroma) {
    // One pixel of U Y V Y: U 128 and the missing V neutral give grey.
    EXPECT_EQ(Convert1(2, {128, 77}, 1, 1), (std::vector<uint8_t>{77, 77, 77, 0xEE}));
    EXPECT_EQ(Convert1(24, {77, 128}, 1, 1), (std::vector<uint8_t>{77, 77, 77, 0xEE}));
    EXPECT_EQ(Convert1(1, {128, 77, 66}, 2, 1), (std::vector<uint8_t>{77, 77, 77, 0xEE, 66, 66, 66, 0xEE}));
    EXPECT_EQ(Convert1(27, {77, 0x55}, 1, 1), (std::vector<uint8_t>{77, 77, 77, 0xEE}));
    // With a group before, the partial group borrows its chroma: width 6 of
    // id 1 is one group and two pixels that take the first group's V.
    const std::vector<uint8_t> row{128, 50, 60, 255, 70, 80, 128, 90, 100};
    const auto d = Convert1(1, row, 6, 1);
    const auto first = Convert1(3, {128, 50, 255}, 1, 1);
    const auto last = Convert1(3, {128, 100, 255}, 1, 1);
    EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.begin() + 3),
              std::vector<uint8_t>(first.begin(), first.begin() + 3));
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + 20, d.begin() + 23),
              std::vector<uint8_t>(last.begin(), last.begin() + 3));
}

} // namespace
} // namespace qorcam::conversion::test
