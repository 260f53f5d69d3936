/* header_c99.c: the public header built as strict C99, reporting its record sizes to the C++ test. */
#include "QorCam.h"

/* The layout checks of the header run here under C99 as well; these give the
 * C view of the sizes to the test so it can compare them with the C++ view. */
size_t qorcam_c_sizeof(int which) {
    switch (which) {
    case 0:
        return sizeof(QORCAM_CAMERAINFO);
    case 1:
        return sizeof(QORCAM_OPENREQUEST);
    case 2:
        return sizeof(QORCAM_IMAGE);
    case 3:
        return sizeof(QORCAM_IMAGEDATAINFO);
    case 4:
        return sizeof(QORCAM_GIGECAMERAINFO);
    case 5:
        return sizeof(QORCAM_USBCAMERAINFO);
    case 6:
        return sizeof(QORCAM_PKTLOG);
    case 7:
        return sizeof(QORCAM_COLORCONVMODE);
    case 8:
        return sizeof(QORCAM_COLORVALUE);
    case 9:
        return sizeof(QORCAM_LIST);
    case 10:
        return sizeof(BITMAPINFO);
    case 11:
        return offsetof(QORCAM_IMAGEDATAINFO, Info.CGigE.StreamInfo.Data.Vendor.VendorData);
    case 12:
        return offsetof(QORCAM_IMAGEDATAINFO, Info.CUsb.StreamInfo.Data.Ext_Chunk.Chunk_ID);
    default:
        return 0;
    }
}
