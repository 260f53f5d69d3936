// CameraApi: the camera library's exports as the viewer calls them, loaded at run time.
#include "CameraApi.h"

#include <cstdlib>
#include <sys/stat.h>

namespace qorcam::viewer {
namespace {
thread_local bool t_missing = false;
}

std::string CameraLibrary::PathFromEnvironment() {
    const char* folder = std::getenv("QORCAM_APILIB");
    if (!folder || !*folder) return {};
    std::string path(folder);
    if (path.back() != '/') path += '/';
    return path + "libQorCam.so";
}

bool CameraLibrary::Load() {
    std::string fromEnv = PathFromEnvironment();
    struct stat st {};
    if (!fromEnv.empty() && ::stat(fromEnv.c_str(), &st) == 0 && lib_.Open(fromEnv)) {
        path_ = fromEnv;
    } else if (lib_.Open("libQorCam.so")) {
        path_ = "libQorCam.so";
    } else {
        return false;
    }
    setStructVersion_ = lib_.Function<decltype(setStructVersion_)>("QORCAM_SetStructVersion");
    setCallBack_ = lib_.Function<decltype(setCallBack_)>("QORCAM_SetCallBack");
    getLastError_ = lib_.Function<decltype(getLastError_)>("QORCAM_GetLastError");
    getList_ = lib_.Function<decltype(getList_)>("QORCAM_GetList");
    camera_ = lib_.Function<decltype(camera_)>("QORCAM_Camera");
    resourceAlloc_ = lib_.Function<decltype(resourceAlloc_)>("QORCAM_ResourceAlloc");
    resourceRelease_ = lib_.Function<decltype(resourceRelease_)>("QORCAM_ResourceRelease");
    getBmpInfo_ = lib_.Function<decltype(getBmpInfo_)>("QORCAM_GetBMPINFO");
    open_ = lib_.Function<decltype(open_)>("QORCAM_Open");
    openGigE_ = lib_.Function<decltype(openGigE_)>("QORCAM_OpenGigE");
    close_ = lib_.Function<decltype(close_)>("QORCAM_Close");
    cameraInfo_ = lib_.Function<decltype(cameraInfo_)>("QORCAM_CameraInfo");
    cameraInfoGigE_ = lib_.Function<decltype(cameraInfoGigE_)>("QORCAM_CameraInfoGigE");
    cameraInfoUSB_ = lib_.Function<decltype(cameraInfoUSB_)>("QORCAM_CameraInfoUSB");
    getNodeMap_ = lib_.Function<decltype(getNodeMap_)>("QORCAM_GetNodeMap");
    resourceAllocGigE_ = lib_.Function<decltype(resourceAllocGigE_)>("QORCAM_ResourceAllocGigE");
    imageStart_ = lib_.Function<decltype(imageStart_)>("QORCAM_ImageStart");
    imageStop_ = lib_.Function<decltype(imageStop_)>("QORCAM_ImageStop");
    setImageCallBack_ = lib_.Function<decltype(setImageCallBack_)>("QORCAM_SetImageCallBack");
    testStream_ = lib_.Function<decltype(testStream_)>("QORCAM_TestStream");
    bufferConvExec_ = lib_.Function<decltype(bufferConvExec_)>("QORCAM_BufferConvExec");
    return true;
}

BOOL CameraLibrary::Missing() {
    t_missing = true;
    return FALSE;
}

#define QORCAM_CALL(fn, ...)                                                                                 \
    do {                                                                                                     \
        if (!fn) return Missing();                                                                           \
        t_missing = false;                                                                                   \
        return fn(__VA_ARGS__);                                                                              \
    } while (0)

BOOL CameraLibrary::SetStructVersion(uint32_t version) {
    QORCAM_CALL(setStructVersion_, version);
}
void CameraLibrary::SetCallBack(void* context, QORCAM_SYSTEMCALLBACK callBack) {
    if (setCallBack_) setCallBack_(context, callBack);
}
STATUS_RTNCODE CameraLibrary::GetLastError() {
    if (t_missing || !getLastError_) return STATUSQORCAM_UNDEF_ERROR;
    return getLastError_();
}
BOOL CameraLibrary::GetList(QORCAM_LIST* list) {
    QORCAM_CALL(getList_, list);
}
BOOL CameraLibrary::Camera(HCAMERA camera, BOOL* connect) {
    QORCAM_CALL(camera_, camera, connect);
}
BOOL CameraLibrary::ResourceAlloc(HCAMERA camera) {
    QORCAM_CALL(resourceAlloc_, camera);
}
BOOL CameraLibrary::ResourceRelease(HCAMERA camera) {
    QORCAM_CALL(resourceRelease_, camera);
}
BOOL CameraLibrary::GetBMPINFO(HCAMERA camera, BITMAPINFO* info, uint32_t* size, BOOL priorityMono) {
    QORCAM_CALL(getBmpInfo_, camera, info, size, priorityMono);
}

BOOL CameraLibrary::Open(uint64_t id, HCAMERA* camera) {
    QORCAM_CALL(open_, id, camera);
}
BOOL CameraLibrary::OpenGigE(QORCAM_OPENREQUEST* request, HCAMERA* camera) {
    QORCAM_CALL(openGigE_, request, camera);
}
BOOL CameraLibrary::Close(HCAMERA camera) {
    QORCAM_CALL(close_, camera);
}
BOOL CameraLibrary::CameraInfo(HCAMERA camera, QORCAM_CAMERAINFO* info) {
    QORCAM_CALL(cameraInfo_, camera, info);
}
BOOL CameraLibrary::CameraInfoGigE(HCAMERA camera, QORCAM_GIGECAMERAINFO* info) {
    QORCAM_CALL(cameraInfoGigE_, camera, info);
}
BOOL CameraLibrary::CameraInfoUSB(HCAMERA camera, QORCAM_USBCAMERAINFO* info) {
    QORCAM_CALL(cameraInfoUSB_, camera, info);
}
BOOL CameraLibrary::GetNodeMap(HCAMERA camera, void** map) {
    QORCAM_CALL(getNodeMap_, camera, map);
}
BOOL CameraLibrary::ResourceAllocGigE(HCAMERA camera, uint8_t* ip, BOOL recover) {
    QORCAM_CALL(resourceAllocGigE_, camera, ip, recover);
}
BOOL CameraLibrary::ImageStart(HCAMERA camera) {
    QORCAM_CALL(imageStart_, camera);
}
BOOL CameraLibrary::ImageStop(HCAMERA camera) {
    QORCAM_CALL(imageStop_, camera);
}
BOOL CameraLibrary::SetImageCallBack(HCAMERA camera, void* context, QORCAM_IMAGECALLBACK callBack, uint32_t count, BOOL info) {
    QORCAM_CALL(setImageCallBack_, camera, context, callBack, count, info);
}
BOOL CameraLibrary::TestStream(HCAMERA camera) {
    QORCAM_CALL(testStream_, camera);
}
BOOL CameraLibrary::BufferConvExec(HCAMERA camera, uint8_t* in, uint8_t* out) {
    QORCAM_CALL(bufferConvExec_, camera, in, out);
}

} // namespace qorcam::viewer
