// The conversion object: YUV table, dispatch, refusals and shift resolution.
#include "TestSupport.h"

#include <cmath>
#include <limits>
#include <thread>

namespace qorcam::conversion::test {
namespace {

ConvRequest Request(int32_t id, uint32_t w, uint32_t h, const uint8_t* src, uint8_t* dst) {
    ConvRequest r;
    r.Width = w;
    r.Height = h;
    r.ConvFormatId = static_cast<uint32_t>(id);
    r.Src = src;
    r.Dst = dst;
    return r;
}

TEST(ConvObject, TakesTheLibraryRecords) {
    QORCAM_COLORCONVMODE mode{QORCAM_BMPmodeLR, QORCAM_SFTAUTO, QORCAM_DIB24, 5, 0};
    QORCAM_COLORVALUE value{1.0, 2.0, 3.0, 4.0};
    CConv conv(mode, value);
    EXPECT_EQ(conv.StoreMode, StoreBmpLR);
    EXPECT_EQ(conv.ShiftID, ShiftAuto);
    EXPECT_EQ(conv.EffectiveShift.load(), 0xFFFFFFFFu);
    EXPECT_EQ(conv.DIBMode, Dib24);
    EXPECT_TRUE(conv.BayerRevision_G);
    EXPECT_FALSE(conv.Parallel_Flag);
    EXPECT_EQ(conv.B_Value, 4.0);
    // Deleted through the base, as the library holds its handles.
    CBaseConv* base = new CConv(mode, value);
    EXPECT_NE(dynamic_cast<CConv*>(base), nullptr);
    delete base;
}

TEST(ConvObject, YuvTableIsBuiltOnceAndOnlyForYuv) {
    CConv conv(ConvMode{}, ConvValue{});
    std::vector<uint8_t> src(64, 1), dst(256, 0);
    for (int32_t id : {0, 9, 10, 5})
        ASSERT_TRUE(conv.ConvExec(Request(id, 4, 2, src.data(), dst.data())));
    EXPECT_EQ(conv.YuvTable(), nullptr);
    ASSERT_TRUE(conv.ConvExec(Request(2, 4, 2, src.data(), dst.data())));
    const int32_t* t = conv.YuvTable();
    ASSERT_NE(t, nullptr);
    const int32_t want[4][4] = {{-179, -1, 1, 178}, {-91, 0, 0, 90}, {-43, 0, 0, 43}, {-226, -1, 1, 225}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(t[k * 256 + 0], want[k][0]);
        EXPECT_EQ(t[k * 256 + 127], want[k][1]);
        EXPECT_EQ(t[k * 256 + 129], want[k][2]);
        EXPECT_EQ(t[k * 256 + 255], want[k][3]);
    }
    ASSERT_TRUE(conv.ConvExec(Request(27, 4, 2, src.data(), dst.data())));
    EXPECT_EQ(conv.YuvTable(), t);
}

TEST(ConvObject, ConcurrentFirstYuvConversionsShareOneTable) {
    CConv conv(ConvMode{}, ConvValue{});
    std::vector<uint8_t> src(3 * 64 * 64, 7);
    std::vector<std::vector<uint8_t>> dst(4, std::vector<uint8_t>(4 * 64 * 64));
    std::vector<std::thread> threads;
    for (auto& d : dst)
        threads.emplace_back([&] { EXPECT_TRUE(conv.ConvExec(Request(3, 64, 64, src.data(), d.data()))); });
    for (auto& t : threads)
        t.join();
    for (auto& d : dst)
        EXPECT_EQ(d, dst[0]);
}

TEST(ConvObject, BadCoefficientsAreTamed) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    CConv conv(ConvMode{}, ConvValue{nan, 1e300, -inf, 1.772});
    std::vector<uint8_t> src{0, 255, 0, 255, 255, 0}, dst(8, 0xEE);
    ASSERT_TRUE(conv.ConvExec(Request(3, 2, 1, src.data(), dst.data())));
    const int32_t* t = conv.YuvTable();
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[255], 0);
    EXPECT_EQ(t[256 + 255], 32767);
    EXPECT_EQ(t[256 + 0], -32767);
    EXPECT_EQ(t[512 + 255], -32767);
    EXPECT_EQ(t[768 + 255], RefYuvEntry(255, 1.772));
}

TEST(ConvObject, NothingToConvertWritesNothingAndSucceeds) {
    std::vector<uint8_t> src(64, 3), dst(256, 0xEE);
    CConv conv(ConvMode{}, ConvValue{});
    for (int32_t id : {7, 8, 30, -1, 1000})
        EXPECT_TRUE(conv.ConvExec(Request(id, 4, 2, src.data(), dst.data()))) << id;
    EXPECT_TRUE(conv.ConvExec(Request(0, 4, 0, src.data(), dst.data())));
    EXPECT_TRUE(conv.ConvExec(Request(0, 4, 0x80000000u, src.data(), dst.data())));
    EXPECT_TRUE(conv.ConvExec(Request(9, 0x80000000u, 2, src.data(), dst.data())));
    ConvMode other;
    other.DIBMode = 2;
    CConv conv2(other, ConvValue{});
    EXPECT_TRUE(conv2.ConvExec(Request(0, 4, 2, src.data(), dst.data())));
    EXPECT_EQ(dst, std::vector<uint8_t>(256, 0xEE));
}

TEST(ConvObject, UnusableRequestsAreRefused) {
    std::vector<uint8_t> src(64, 3), dst(256, 0xEE);
    uint32_t error = 0;
    CConv conv(ConvMode{}, ConvValue{});
    // Sizes beyond 32 bits: refused before anything is touched.
    EXPECT_FALSE(conv.ConvExec(Request(0, 0x10000, 0x10000, nullptr, nullptr), &error));
    EXPECT_EQ(error, 1u);
    EXPECT_FALSE(conv.ConvExec(Request(6, 0x7FFFFFFF, 1, nullptr, nullptr), &error));
    EXPECT_FALSE(conv.ConvExec(Request(9, 0x8000, 0x8000, nullptr, nullptr), &error));
    // Row size times height overflows 64 bits when multiplied naively.
    EXPECT_FALSE(conv.ConvExec(Request(6, 0x7FFFFFFF, 0x7FFFFFFF, nullptr, nullptr), &error));
    EXPECT_FALSE(conv.ConvExec(Request(0, 0x40000000, 4, nullptr, nullptr), &error)); // 4 x 2^32 bytes of DIB
    auto bayer = Request(9, 4, 2, src.data(), dst.data());
    bayer.BayerPhase = 4;
    error = 0;
    EXPECT_FALSE(conv.ConvExec(bayer, &error));
    EXPECT_EQ(error, 1u);
    ConvMode badStore;
    badStore.StoreMode = 4;
    CConv conv2(badStore, ConvValue{});
    EXPECT_FALSE(conv2.ConvExec(Request(0, 4, 2, src.data(), dst.data())));
    EXPECT_EQ(dst, std::vector<uint8_t>(256, 0xEE));
}

TEST(ConvObject, UnresolvedAutomaticShiftIsResolvedFromTheBits) {
    ConvMode mode;
    mode.ShiftID = ShiftAuto;
    const std::vector<uint8_t> mono{0xFF, 0x0F}; // 0x0FFF, little-endian
    struct Row {
        int32_t id;
        uint32_t bits;
        uint8_t want;
    } rows[] = {{5, 12, 0xFF}, {5, 10, 0xFF}, {5, 16, 0x0F}, {5, 0, 0x0F}};
    for (const Row& row : rows) {
        CConv conv(mode, ConvValue{});
        std::vector<uint8_t> dst(4, 0);
        auto r = Request(row.id, 1, 1, mono.data(), dst.data());
        r.Bits = row.bits;
        ASSERT_TRUE(conv.ConvExec(r));
        EXPECT_EQ(dst[0], row.want) << row.bits;
    }
    // A shift set by the camera's image start is used as it stands.
    CConv conv(mode, ConvValue{});
    conv.EffectiveShift = 0;
    std::vector<uint8_t> dst(4, 0);
    auto r = Request(5, 1, 1, mono.data(), dst.data());
    r.Bits = 12;
    ASSERT_TRUE(conv.ConvExec(r));
    EXPECT_EQ(dst[0], 0xFF);
    // Bayer 16-bit samples of 12 bits: a uniform 0x0800 image is mid-grey, not black.
    std::vector<uint8_t> bayer(2 * 16, 0);
    for (size_t i = 0; i < bayer.size(); i += 2)
        bayer[i + 1] = 0x08;
    CConv conv2(mode, ConvValue{});
    std::vector<uint8_t> out(4 * 16, 0);
    auto b = Request(10, 4, 4, bayer.data(), out.data());
    b.Bits = 12;
    ASSERT_TRUE(conv2.ConvExec(b));
    EXPECT_EQ(out[0], 0x80);
}

TEST(ConvObject, RowSizes) {
    EXPECT_EQ(CConv::SourceRowBytes(1, 5), 8u);
    EXPECT_EQ(CConv::SourceRowBytes(11, 3), 5u);
    EXPECT_EQ(CConv::SourceRowBytes(14, 5), 8u);
    EXPECT_EQ(CConv::SourceRowBytes(21, 3), 14u);
    EXPECT_EQ(CConv::SourceRowBytes(7, 3), 0u);
    EXPECT_EQ(CConv::DibRowBytes(Dib24, 5), 16u);
    EXPECT_EQ(CConv::DibRowBytes(Dib24, 1), 4u);
    EXPECT_EQ(CConv::DibRowBytes(Dib32, 5), 20u);
}

} // namespace
} // namespace qorcam::conversion::test
