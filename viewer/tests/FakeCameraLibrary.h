// FakeCameraLibrary: a stand-in camera library with one camera that opens, streams and converts.
#pragma once

#include "CameraApi.h"

#include <cstring>
#include <string>
#include <vector>

namespace qorcam::viewer::testing {

/// A library with one camera (USB unless set) of 24-bit pixels, 4 x 2 unless
/// set; conversions write the first raw byte into the whole image. A GigE
/// camera's stream test fails with error 13 unless testStreamOk is set.
class ConvApi : public ICameraApi {
public:
    BOOL SetStructVersion(uint32_t) override { return TRUE; }
    void SetCallBack(void*, QORCAM_SYSTEMCALLBACK) override {}
    STATUS_RTNCODE GetLastError() override { return lastError; }
    BOOL GetList(QORCAM_LIST*) override { return FALSE; }
    BOOL Camera(HCAMERA, BOOL* c) override { return *c = TRUE; }
    BOOL ResourceAlloc(HCAMERA) override { return Log("ResourceAlloc"); }
    BOOL ResourceRelease(HCAMERA) override { return Log("ResourceRelease"); }
    BOOL GetBMPINFO(HCAMERA, BITMAPINFO* info, uint32_t* size, BOOL) override {
        if (bmpError) {
            lastError = bmpError;
            return FALSE;
        }
        *size = sizeof(BITMAPINFOHEADER);
        if (info) {
            std::memset(info, 0, sizeof(BITMAPINFOHEADER));
            info->bmiHeader.biWidth = width;
            info->bmiHeader.biHeight = height;
            info->bmiHeader.biBitCount = 24;
            info->bmiHeader.biSizeImage = ((width * 3 + 3) & ~3u) * height;
        }
        return TRUE;
    }
    BOOL Open(uint64_t id, HCAMERA* h) override {
        if (openError) {
            lastError = openError;
            return FALSE;
        }
        opened = id;
        *h = reinterpret_cast<HCAMERA>(0x10);
        return TRUE;
    }
    BOOL OpenGigE(QORCAM_OPENREQUEST* request, HCAMERA* h) override { return Open(request->UID, h); }
    BOOL ResourceAllocGigE(HCAMERA, uint8_t*, BOOL) override { return Log("ResourceAllocGigE"); }
    BOOL TestStream(HCAMERA) override {
        ++streamTests;
        if (testStreamOk) return TRUE;
        lastError = STATUSQORCAM_REQUEST_TIMEOUT;
        return FALSE;
    }
    BOOL Close(HCAMERA) override { return Log("Close"); }
    BOOL CameraInfo(HCAMERA, QORCAM_CAMERAINFO* info) override {
        *info = {};
        info->UID = 0xAB12;
        info->CameraType = cameraType;
        std::strcpy(info->ModelName, "Model-7");
        return TRUE;
    }
    BOOL GetNodeMap(HCAMERA, void** map) override {
        *map = nullptr;
        return TRUE;
    }
    BOOL ImageStart(HCAMERA) override { return Log("ImageStart"); }
    BOOL ImageStop(HCAMERA) override { return Log("ImageStop"); }
    BOOL SetImageCallBack(HCAMERA, void* context, QORCAM_IMAGECALLBACK cb, uint32_t count, BOOL) override {
        callBack = cb;
        callBackContext = context;
        return Log(cb ? "SetImageCallBack " + std::to_string(count) : "SetImageCallBack off");
    }
    BOOL BufferConvExec(HCAMERA, uint8_t* in, uint8_t* out) override {
        ++conversions;
        std::memset(out, in[0], ((width * 3 + 3) & ~3u) * height);
        return TRUE;
    }
    BOOL Log(const std::string& s) {
        calls.push_back(s);
        return TRUE;
    }

    STATUS_RTNCODE lastError = STATUSQORCAM_COMPLETE;
    STATUS_RTNCODE bmpError = STATUSQORCAM_COMPLETE;
    STATUS_RTNCODE openError = STATUSQORCAM_COMPLETE;
    uint32_t width = 4, height = 2;
    uint32_t cameraType = QORCAM_CTYPE_USB;
    bool testStreamOk = false;
    int streamTests = 0;
    uint64_t opened = 0;
    int conversions = 0;
    QORCAM_IMAGECALLBACK callBack = nullptr;
    void* callBackContext = nullptr;
    std::vector<std::string> calls;
};

} // namespace qorcam::viewer::testing
