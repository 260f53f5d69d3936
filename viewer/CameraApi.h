// CameraApi: the camera library's exports as the viewer calls them, loaded at run time.
#pragma once

#include "QorCam.h"

#include "os/DynamicLibrary.h"

#include <string>

namespace qorcam::viewer {

/// The exports the viewer uses. Every call of a BOOL export answers as the
/// library does; the reason of a failure is GetLastError().
class ICameraApi {
public:
    virtual ~ICameraApi() = default;
    virtual BOOL SetStructVersion(uint32_t version) = 0;
    virtual void SetCallBack(void* context, QORCAM_SYSTEMCALLBACK callBack) = 0;
    virtual STATUS_RTNCODE GetLastError() = 0;
    virtual BOOL GetList(QORCAM_LIST* list) = 0;
    virtual BOOL Camera(HCAMERA camera, BOOL* connect) = 0;
    virtual BOOL ResourceAlloc(HCAMERA camera) = 0;
    virtual BOOL ResourceRelease(HCAMERA camera) = 0;
    virtual BOOL GetBMPINFO(HCAMERA camera, BITMAPINFO* info, uint32_t* size, BOOL priorityMono) = 0;
    // The camera window's calls; a stand-in that doesn't offer them fails them.
    virtual BOOL Open(uint64_t, HCAMERA*) { return FALSE; }
    virtual BOOL OpenGigE(QORCAM_OPENREQUEST*, HCAMERA*) { return FALSE; }
    virtual BOOL Close(HCAMERA) { return FALSE; }
    virtual BOOL CameraInfo(HCAMERA, QORCAM_CAMERAINFO*) { return FALSE; }
    virtual BOOL CameraInfoGigE(HCAMERA, QORCAM_GIGECAMERAINFO*) { return FALSE; }
    virtual BOOL CameraInfoUSB(HCAMERA, QORCAM_USBCAMERAINFO*) { return FALSE; }
    virtual BOOL GetNodeMap(HCAMERA, void**) { return FALSE; }
    virtual BOOL ResourceAllocGigE(HCAMERA, uint8_t*, BOOL) { return FALSE; }
    virtual BOOL ImageStart(HCAMERA) { return FALSE; }
    virtual BOOL ImageStop(HCAMERA) { return FALSE; }
    virtual BOOL SetImageCallBack(HCAMERA, void*, QORCAM_IMAGECALLBACK, uint32_t, BOOL) { return FALSE; }
    virtual BOOL TestStream(HCAMERA) { return FALSE; }
    virtual BOOL BufferConvExec(HCAMERA, uint8_t*, uint8_t*) { return FALSE; }
};

/// libQorCam.so loaded with dlopen: from the folder that QORCAM_APILIB names
/// when that holds it, else by plain name (the system's search, then the
/// folder of our own programs). An export the loaded library lacks fails
/// with STATUSQORCAM_UNDEF_ERROR instead of stopping the viewer, so the
/// viewer runs against a library that does not offer everything yet.
class CameraLibrary : public ICameraApi {
public:
    CameraLibrary() = default;
    /// False when no library could be loaded; ErrorText() tells why.
    bool Load();
    bool IsLoaded() const { return lib_.IsOpen(); }
    const std::string& ErrorText() const { return lib_.ErrorText(); }
    const std::string& LoadedFrom() const { return path_; }

    /// "<QORCAM_APILIB>/libQorCam.so" when the variable is set, else empty.
    static std::string PathFromEnvironment();

    BOOL SetStructVersion(uint32_t version) override;
    void SetCallBack(void* context, QORCAM_SYSTEMCALLBACK callBack) override;
    STATUS_RTNCODE GetLastError() override;
    BOOL GetList(QORCAM_LIST* list) override;
    BOOL Camera(HCAMERA camera, BOOL* connect) override;
    BOOL ResourceAlloc(HCAMERA camera) override;
    BOOL ResourceRelease(HCAMERA camera) override;
    BOOL GetBMPINFO(HCAMERA camera, BITMAPINFO* info, uint32_t* size, BOOL priorityMono) override;
    BOOL Open(uint64_t id, HCAMERA* camera) override;
    BOOL OpenGigE(QORCAM_OPENREQUEST* request, HCAMERA* camera) override;
    BOOL Close(HCAMERA camera) override;
    BOOL CameraInfo(HCAMERA camera, QORCAM_CAMERAINFO* info) override;
    BOOL CameraInfoGigE(HCAMERA camera, QORCAM_GIGECAMERAINFO* info) override;
    BOOL CameraInfoUSB(HCAMERA camera, QORCAM_USBCAMERAINFO* info) override;
    BOOL GetNodeMap(HCAMERA camera, void** map) override;
    BOOL ResourceAllocGigE(HCAMERA camera, uint8_t* ip, BOOL recover) override;
    BOOL ImageStart(HCAMERA camera) override;
    BOOL ImageStop(HCAMERA camera) override;
    BOOL SetImageCallBack(HCAMERA camera, void* context, QORCAM_IMAGECALLBACK callBack, uint32_t count, BOOL info) override;
    BOOL TestStream(HCAMERA camera) override;
    BOOL BufferConvExec(HCAMERA camera, uint8_t* in, uint8_t* out) override;

private:
    BOOL Missing();

    os::DynamicLibrary lib_;
    std::string path_;
    bool missingExport_ = false;
    decltype(&QORCAM_SetStructVersion) setStructVersion_ = nullptr;
    decltype(&QORCAM_SetCallBack) setCallBack_ = nullptr;
    decltype(&QORCAM_GetLastError) getLastError_ = nullptr;
    decltype(&QORCAM_GetList) getList_ = nullptr;
    decltype(&QORCAM_Camera) camera_ = nullptr;
    decltype(&QORCAM_ResourceAlloc) resourceAlloc_ = nullptr;
    decltype(&QORCAM_ResourceRelease) resourceRelease_ = nullptr;
    decltype(&QORCAM_GetBMPINFO) getBmpInfo_ = nullptr;
    decltype(&QORCAM_Open) open_ = nullptr;
    decltype(&QORCAM_OpenGigE) openGigE_ = nullptr;
    decltype(&QORCAM_Close) close_ = nullptr;
    decltype(&QORCAM_CameraInfo) cameraInfo_ = nullptr;
    decltype(&QORCAM_CameraInfoGigE) cameraInfoGigE_ = nullptr;
    decltype(&QORCAM_CameraInfoUSB) cameraInfoUSB_ = nullptr;
    decltype(&QORCAM_GetNodeMap) getNodeMap_ = nullptr;
    decltype(&QORCAM_ResourceAllocGigE) resourceAllocGigE_ = nullptr;
    decltype(&QORCAM_ImageStart) imageStart_ = nullptr;
    decltype(&QORCAM_ImageStop) imageStop_ = nullptr;
    decltype(&QORCAM_SetImageCallBack) setImageCallBack_ = nullptr;
    decltype(&QORCAM_TestStream) testStream_ = nullptr;
    decltype(&QORCAM_BufferConvExec) bufferConvExec_ = nullptr;
};

} // namespace qorcam::viewer
