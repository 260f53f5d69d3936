// Values and records the conversion shares with the library's public header.
#pragma once

#include "QorCam.h"

#include <cstdint>

namespace qorcam::conversion {

// The library's enumerations as the conversion uses them.
inline constexpr uint32_t StoreMem = QORCAM_MEMmode;     // top-down, as the camera sends
inline constexpr uint32_t StoreMemLR = QORCAM_MEMmodeLR; // rows mirrored
inline constexpr uint32_t StoreBmp = QORCAM_BMPmode;     // bottom-up
inline constexpr uint32_t StoreBmpLR = QORCAM_BMPmodeLR; // bottom-up and mirrored
inline constexpr int32_t ShiftAuto = QORCAM_SFTAUTO;
inline constexpr uint32_t Dib32 = QORCAM_DIB32;
inline constexpr uint32_t Dib24 = QORCAM_DIB24;
inline constexpr uint32_t EndianBig = QORCAM_BIGENDIAN; // bytes of 16-bit samples swapped
inline constexpr uint32_t EndianLittle = QORCAM_LITTLEENDIAN;

// The library's own pixel format ids. 7 and 8 have no conversion; 28 and 29
// are the LSB-first 12-bit packings of the pixel format standard (Mono12p,
// Bayer..12p), which differ from the older MSB-first "Packed" layout.
enum ConvFormatId : int32_t {
    ConvUnknown = -1,
    ConvMono8 = 0,
    ConvYuv411 = 1, // U Y Y V Y Y
    ConvYuv422 = 2, // U Y V Y
    ConvYuv444 = 3, // U Y V
    ConvRgb8 = 4,
    ConvMono16 = 5, // one 16-bit sample per pixel
    ConvRgb16 = 6,  // three 16-bit samples per pixel, red first
    ConvBayer8 = 9,
    ConvBayer16 = 10,
    ConvMono12Packed = 11,
    ConvBayer12Packed = 12,
    ConvMono10Packed = 13,
    ConvBayer10Packed = 14,
    ConvBgr8 = 15,
    ConvBgr16 = 16,
    ConvRgbx8 = 17, // R G B and an ignored byte
    ConvBgrx8 = 18, // B G R and an ignored byte
    ConvRgb10V1Packed = 19,
    ConvRgb10V2Packed = 20,
    ConvRgb12V1Packed = 21,
    ConvRgb565 = 22,
    ConvBgr565 = 23,
    ConvYuv422Yuyv = 24, // Y U Y V
    ConvYCbCr8 = 25,     // Y Cb Cr
    ConvYCbCr422 = 26,   // Y Cb Y Cr
    ConvYCbCr411 = 27,   // Y Y Cb Y Y Cr
    ConvMono12p = 28,    // two pixels in 3 bytes, least significant bits first
    ConvBayer12p = 29,   // Bayer samples packed as ConvMono12p
};

// True for the ids whose images are one grey value per pixel; the library
// builds its palettised 8-bit headers only for these.
constexpr bool IsMonochromeFormat(int32_t id) {
    return id == ConvMono8 || id == ConvMono16 || id == ConvMono12Packed || id == ConvMono10Packed ||
           id == ConvMono12p;
}

// True for the ids whose pixels are built from the YUV table.
constexpr bool IsYuvFormat(int32_t id) {
    return id == ConvYuv411 || id == ConvYuv422 || id == ConvYuv444 || id == ConvYuv422Yuyv ||
           id == ConvYCbCr8 || id == ConvYCbCr422 || id == ConvYCbCr411;
}

// Conversion settings with the defaults of a stand-alone handle; the same
// fields as QORCAM_COLORCONVMODE, which CConv accepts as well.
struct ConvMode {
    uint32_t StoreMode = StoreMem;
    int32_t ShiftID = 0;
    uint32_t DIBMode = Dib32;
    uint32_t BayerRevision_G = 0;
    uint32_t Parallel_Flag = 0;
};
static_assert(sizeof(ConvMode) == sizeof(QORCAM_COLORCONVMODE));

// YUV coefficients with the library's defaults; the same fields as
// QORCAM_COLORVALUE, which CConv accepts as well.
struct ConvValue {
    double R_Value = 1.402;
    double G1_Value = 0.711;
    double G2_Value = 0.343;
    double B_Value = 1.772;
};
static_assert(sizeof(ConvValue) == sizeof(QORCAM_COLORVALUE));

// One conversion's arguments. The caller guarantees that Src holds a whole
// image of the format and Dst a whole DIB; CConv::ConvExec refuses sizes
// that do not fit 32 bits. Bits is the format's significant bits as
// ClassifyPixelFormat gives them (0 when not known); it lets an automatic
// shift that was never resolved be resolved per image.
struct ConvRequest {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t ConvFormatId = 0;
    uint32_t BayerPhase = 0;
    uint32_t EndianMode = EndianLittle;
    const uint8_t* Src = nullptr;
    uint8_t* Dst = nullptr;
    uint32_t Bits = 0;
};

} // namespace qorcam::conversion
