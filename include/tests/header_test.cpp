// header_test.cpp: record layouts agree between C and C++ and with the documented sizes.
#include "QorCam.h"

#include <gtest/gtest.h>

#include <cstring>

extern "C" size_t qorcam_c_sizeof(int which);

TEST(Header, CAndCppAgreeOnRecordSizes) {
    struct Case {
        int which;
        size_t expected;
    };
    const Case cases[] = {{0, 532}, {1, 76}, {2, 32},  {3, 548}, {4, 196}, {5, 464}, {6, 24},
                          {7, 20},  {8, 32}, {9, 536}, {10, 44}, {11, 28}, {12, 64}};
    for (const Case& c : cases) {
        EXPECT_EQ(qorcam_c_sizeof(c.which), c.expected) << "record " << c.which;
    }
}

TEST(Header, ImageDataInfoPartsOverlayTheSameBytes) {
    // The GigE decoder copies the 540-byte block information straight into
    // StreamInfo; the reserved tail must be part of it, not padding.
    QORCAM_IMAGEDATAINFO info;
    std::memset(&info, 0, sizeof info);
    unsigned char* raw = reinterpret_cast<unsigned char*>(&info);
    raw[547] = 0xAB;
    EXPECT_EQ(info.Info.CGigE.StreamInfo.Reserved[3], 0xAB);
    raw[540] = 7;
    EXPECT_EQ(info.Info.CGigE.StreamInfo.MissingPackets, 7u);
    raw[8] = 5;
    EXPECT_EQ(info.Info.CGigE.StreamInfo.SType, 5u);
    EXPECT_EQ(info.Info.CUsb.StreamInfo.SType, 5u);
}

TEST(Header, ResultCodesKeepTheirValues) {
    EXPECT_EQ(STATUSQORCAM_REQUEST_PENDING, -1);
    EXPECT_EQ(STATUSQORCAM_NO_SUPPORT_PIXELFORMAT, 21);
    EXPECT_EQ(STATUSQORCAM_LIBRARY_CONTRADICTION, 90);
    EXPECT_EQ(STATUSQORCAM_UNDEF_ERROR, 99);
    EXPECT_EQ(LIBRARY_STRUCT_VERSION, 10106);
    EXPECT_EQ(QORCAM_SUSB3, 8);
    EXPECT_EQ(QORCAM_SFTAUTO, -1);
}
