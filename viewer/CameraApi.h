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
};

} // namespace qorcam::viewer
