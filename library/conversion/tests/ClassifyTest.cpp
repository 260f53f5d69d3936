// Pixel format classification.
#include "ClassifyPixelFormat.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace qorcam::conversion {
namespace {

struct Expect {
    uint32_t code;
    int32_t id;
    uint32_t bits;
    uint32_t phase;
};

TEST(Classify, KnownCodesGiveIdBitsAndPhase) {
    const Expect table[] = {
        {0x01080001, 0, 8, 0},
        {0x01080009, 9, 8, 0},
        {0x0108000A, 9, 8, 1},
        {0x01080008, 9, 8, 2},
        {0x0108000B, 9, 8, 3},
        {0x01100003, 5, 10, 0},
        {0x01100005, 5, 12, 0},
        {0x01100007, 5, 16, 0},
        {0x0110000D, 10, 10, 0},
        {0x01100012, 10, 12, 1},
        {0x0110002E, 10, 16, 2},
        {0x01100031, 10, 16, 3},
        {0x010C0004, 13, 10, 0},
        {0x010C0046, 13, 10, 0},
        {0x010C0006, 11, 12, 0},
        {0x010C003B, 11, 12, 0},
        {0x010C0027, 14, 10, 0},
        {0x010C003E, 14, 10, 1},
        {0x010C0056, 14, 10, 2},
        {0x010C0052, 14, 10, 3},
        {0x010C002B, 12, 12, 0},
        {0x010C0042, 12, 12, 1},
        {0x010C0040, 12, 12, 2},
        {0x010C002D, 12, 12, 3},
        {0x020C001E, 1, 12, 0},
        {0x0210001F, 2, 16, 0},
        {0x02180020, 3, 24, 0},
        {0x02180014, 4, 24, 0},
        {0x02180015, 15, 24, 0},
        {0x02300018, 6, 30, 0},
        {0x0230001A, 6, 36, 0},
        {0x02300033, 6, 48, 0},
        {0x02300019, 16, 30, 0},
        {0x0230001B, 16, 36, 0},
        {0x02180016, 17, 32, 0},
        {0x02180017, 18, 32, 0},
        {0x0220001C, 19, 30, 0},
        {0x02200044, 19, 30, 0},
        {0x0220001D, 20, 30, 0},
        {0x02240034, 21, 36, 0},
        {0x02240045, 21, 36, 0},
        {0x02100035, 22, 16, 0},
        {0x02100036, 23, 16, 0},
        {0x02100032, 24, 16, 0},
        // Standard codes read in the standard's layout.
        {0x0218005B, 25, 24, 0}, // YCbCr8: Y Cb Cr
        {0x0210003B, 26, 16, 0}, // YCbCr422_8: Y Cb Y Cr
        {0x020C005A, 27, 12, 0}, // YCbCr411_8: Y Y Cb Y Y Cr
        {0x010C0047, 28, 12, 0}, // Mono12p
        {0x010C0059, 29, 12, 0},
        {0x010C0055, 29, 12, 1},
        {0x010C0057, 29, 12, 2},
        {0x010C0053, 29, 12, 3},
    };
    for (const auto& e : table) {
        uint32_t phase = 99, bits = 99;
        EXPECT_EQ(ClassifyPixelFormat(e.code, &phase, &bits), e.id) << std::hex << e.code;
        EXPECT_EQ(bits, e.bits) << std::hex << e.code;
        EXPECT_EQ(phase, e.phase) << std::hex << e.code;
    }
}

TEST(Classify, UnknownCodesLeaveBitsAndClearPhase) {
    for (uint32_t code : {0u, 0x01080002u, 0x80000001u, 0x02200016u, 0x02200017u, 0xFFFFFFFFu}) {
        uint32_t phase = 7, bits = 1234;
        EXPECT_EQ(ClassifyPixelFormat(code, &phase, &bits), -1) << std::hex << code;
        EXPECT_EQ(phase, 0u);
        EXPECT_EQ(bits, 1234u);
    }
}

TEST(Classify, NeverGivesIdsWithoutAConversionAndMonoSetIsClosed) {
    const auto codes = test::AcceptedCodes();
    EXPECT_EQ(codes.size(), 73u);
    for (uint32_t code : codes) {
        uint32_t phase, bits;
        const int32_t id = ClassifyPixelFormat(code, &phase, &bits);
        EXPECT_GT(CConv::SourceRowBytes(id, 1), 0u) << std::hex << code;
        EXPECT_EQ(IsMonochromeFormat(id), id == 0 || id == 5 || id == 11 || id == 13 || id == 28);
    }
}

TEST(Classify, AutoShiftFollowsTheBits) {
    EXPECT_EQ(AutoShiftFor(ConvMono16, 10), 2u);
    EXPECT_EQ(AutoShiftFor(ConvMono16, 12), 4u);
    EXPECT_EQ(AutoShiftFor(ConvBayer16, 16), 8u);
    EXPECT_EQ(AutoShiftFor(ConvRgb16, 30), 2u);
    EXPECT_EQ(AutoShiftFor(ConvBgr16, 36), 4u);
    EXPECT_EQ(AutoShiftFor(ConvRgb16, 48), 8u);
    EXPECT_EQ(AutoShiftFor(ConvMono16, 0), 8u);
    EXPECT_EQ(AutoShiftFor(ConvMono8, 8), 0u);
}

} // namespace
} // namespace qorcam::conversion
