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

} // namespace qorcam::viewer
