// ConvExportsTest: stand-alone conversion handles, their conversions and bitmap headers, through the
// built library.
#include "LibraryFixture.h"

#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kMono8 = 0x01080001;
constexpr uint32_t kBayerRG8 = 0x01080009;
constexpr uint32_t kUnknownFormat = 0x7FFF0001;

class ConvExportsTest : public qorcam::testing::LibraryFixture {
protected:
    void SetUp() override {
        LibraryFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(Load());
    }
    HCTBL Create(QORCAM_COLORCONVMODE* mode) {
        HCTBL handle = reinterpret_cast<HCTBL>(1);
        EXPECT_TRUE(QORCAM_FN(QORCAM_CreateConvHandle)(&handle, mode, nullptr));
        return handle;
    }
    static QORCAM_IMAGE Image(uint32_t format, uint32_t width, uint32_t height, uint8_t* pixels) {
        QORCAM_IMAGE image{};
        image.Width = width;
        image.Height = height;
        image.pBuffer = pixels;
        image.PixelFormatID = format;
        image.EndianMode = QORCAM_LITTLEENDIAN;
        return image;
    }
};

TEST_F(ConvExportsTest, ModesAreRangeCheckedAndNullRecordsTakeTheDefaults) {
    auto create = QORCAM_FN(QORCAM_CreateConvHandle);
    struct Case {
        QORCAM_COLORCONVMODE mode;
        bool accepted;
    } cases[] = {
        {{QORCAM_BMPmodeLR, QORCAM_SFT8, QORCAM_DIB24, 1, 1}, true},
        {{4, 0, 0, 0, 0}, false},
        {{0, QORCAM_SFTAUTO, 0, 0, 0}, false}, // automatic shift is for cameras only
        {{0, 9, 0, 0, 0}, false},
        {{0, 0, 2, 0, 0}, false},
    };
    for (auto& c : cases) {
        HCTBL handle = reinterpret_cast<HCTBL>(1);
        EXPECT_EQ(create(&handle, &c.mode, nullptr), c.accepted ? TRUE : FALSE);
        EXPECT_EQ(LastError(), c.accepted ? STATUSQORCAM_COMPLETE : STATUSQORCAM_PARAMETER_ERROR);
        if (c.accepted) {
            EXPECT_NE(handle, nullptr);
        }
    }
    HCTBL handle = nullptr;
    EXPECT_TRUE(create(&handle, nullptr, nullptr));
    EXPECT_NE(handle, nullptr);
    EXPECT_FALSE(create(nullptr, nullptr, nullptr));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
}

TEST_F(ConvExportsTest, ConvertsMono8IntoA32BitDibAndRefusesBadImages) {
    HCTBL handle = Create(nullptr);
    std::vector<uint8_t> pixels = {10, 20, 30, 40};
    std::vector<uint8_t> out(2 * 2 * 4, 0xEE);
    QORCAM_IMAGE image = Image(kMono8, 2, 2, pixels.data());
    auto exec = QORCAM_FN(QORCAM_ColorConvExec);
    ASSERT_TRUE(exec(handle, &image, out.data()));
    // Memory mode keeps the camera's row order; each grey value fills B, G and R.
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(out[1], 10);
    EXPECT_EQ(out[2], 10);
    EXPECT_EQ(out[4 * 3], 40);
    EXPECT_TRUE(Traced({"QORCAM_ColorConvExec", "End  ", "HCTBL=0x"}));

    QORCAM_IMAGE unknown = Image(kUnknownFormat, 2, 2, pixels.data());
    QORCAM_IMAGE badEndian = Image(kMono8, 2, 2, pixels.data());
    badEndian.EndianMode = 2;
    QORCAM_IMAGE noPixels = Image(kMono8, 2, 2, nullptr);
    struct Case {
        HCTBL handle;
        QORCAM_IMAGE* image;
        uint8_t* out;
    } refused[] = {{handle, &unknown, out.data()},  {handle, &badEndian, out.data()},
                   {handle, &noPixels, out.data()}, {handle, nullptr, out.data()},
                   {handle, &image, nullptr},       {nullptr, &image, out.data()},
                   {&image, &image, out.data()}};
    for (auto& c : refused) {
        EXPECT_FALSE(exec(c.handle, c.image, c.out));
        EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    }
    EXPECT_TRUE(Traced({"QORCAM_ColorConvExec", "Error=1, HCTBL=0x"}));
}

TEST_F(ConvExportsTest, ClosedHandlesAreRefused) {
    HCTBL first = Create(nullptr);
    HCTBL second = Create(nullptr);
    std::vector<uint8_t> pixels(4), out(16);
    QORCAM_IMAGE image = Image(kMono8, 2, 2, pixels.data());
    QORCAM_FN(QORCAM_CloseConvHandle)(first);
    EXPECT_EQ(LastError(), STATUSQORCAM_COMPLETE);
    EXPECT_FALSE(QORCAM_FN(QORCAM_ColorConvExec)(first, &image, out.data()));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    QORCAM_FN(QORCAM_CloseConvHandle)(first);
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    EXPECT_TRUE(QORCAM_FN(QORCAM_ColorConvExec)(second, &image, out.data()));
    QORCAM_FN(QORCAM_CloseAllConvHandle)();
    EXPECT_FALSE(QORCAM_FN(QORCAM_ColorConvExec)(second, &image, out.data()));
}

TEST_F(ConvExportsTest, HeadersOfHandlesAndOfMonoImages) {
    QORCAM_COLORCONVMODE dib24{0, 0, QORCAM_DIB24, 0, 0};
    HCTBL h32 = Create(nullptr);
    HCTBL h24 = Create(&dib24);
    QORCAM_IMAGE mono = Image(kMono8, 10, 3, nullptr);
    QORCAM_IMAGE bayer = Image(kBayerRG8, 10, 3, nullptr);
    QORCAM_IMAGE unknown = Image(kUnknownFormat, 10, 3, nullptr);

    BITMAPINFO info;
    std::memset(&info, 0x55, sizeof info);
    ASSERT_TRUE(QORCAM_FN(QORCAM_ColorConvGetBMPINFO)(h32, &bayer, &info));
    EXPECT_EQ(info.bmiHeader.biSize, 40u);
    EXPECT_EQ(info.bmiHeader.biWidth, 10);
    EXPECT_EQ(info.bmiHeader.biHeight, 3);
    EXPECT_EQ(info.bmiHeader.biPlanes, 1);
    EXPECT_EQ(info.bmiHeader.biBitCount, 32);
    EXPECT_EQ(info.bmiHeader.biSizeImage, 10u * 3 * 4);
    EXPECT_EQ(info.bmiHeader.biClrUsed, 0u);
    EXPECT_EQ(info.bmiColors[0].rgbBlue, 0);
    ASSERT_TRUE(QORCAM_FN(QORCAM_ColorConvSetBMPINFO)(h24, &mono, &info));
    EXPECT_EQ(info.bmiHeader.biBitCount, 24);
    EXPECT_EQ(info.bmiHeader.biSizeImage, ((3u * 10 + 3) >> 2) * 4 * 3);

    // An unknown format: a parameter error for the conversion, unsupported for the header.
    EXPECT_FALSE(QORCAM_FN(QORCAM_ColorConvGetBMPINFO)(h32, &unknown, &info));
    EXPECT_EQ(LastError(), STATUSQORCAM_NO_SUPPORT_PIXELFORMAT);

    std::vector<uint8_t> block(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD) + 8, 0xAA);
    auto* monoInfo = reinterpret_cast<BITMAPINFO*>(block.data());
    ASSERT_TRUE(QORCAM_FN(QORCAM_MonoBMPINFO)(&mono, monoInfo));
    EXPECT_EQ(monoInfo->bmiHeader.biBitCount, 8);
    EXPECT_EQ(monoInfo->bmiHeader.biSizeImage, 10u * 3); // rows counted unpadded here
    EXPECT_EQ(monoInfo->bmiHeader.biClrUsed, 256u);
    for (unsigned i : {0u, 1u, 128u, 255u}) {
        const uint8_t* entry = block.data() + sizeof(BITMAPINFOHEADER) + 4 * i;
        EXPECT_EQ(entry[0], i);
        EXPECT_EQ(entry[1], i);
        EXPECT_EQ(entry[2], i);
        EXPECT_EQ(entry[3], 0);
    }
    EXPECT_EQ(block[block.size() - 1], 0xAA); // nothing past the 1064 bytes
    EXPECT_FALSE(QORCAM_FN(QORCAM_MonoBMPINFO)(&bayer, monoInfo));
    EXPECT_EQ(LastError(), STATUSQORCAM_NO_SUPPORT_PIXELFORMAT);
    EXPECT_FALSE(QORCAM_FN(QORCAM_MonoBMPINFO)(&unknown, monoInfo));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);

    // A header whose image size does not fit its 32-bit field is refused.
    QORCAM_IMAGE huge = Image(kMono8, 0x10000, 0x10000, nullptr);
    EXPECT_FALSE(QORCAM_FN(QORCAM_ColorConvGetBMPINFO)(h32, &huge, &info));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
}

} // namespace
