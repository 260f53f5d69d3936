// ImageExports: image records of a camera, their requests and their conversion.
#include "QorCam.h"

#include "CameraFrame.h"
#include "ImageBuffer.h"

using namespace qorcam::library;

extern "C" {

QORCAM_API BOOL QORCAM_ImageAlloc(HCAMERA hCamera, QORCAM_IMAGE** ppImage) {
    return CameraExport(1, "QORCAM_ImageAlloc", hCamera, [&](CCamera& camera) -> int {
        if (ppImage == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
        *ppImage = nullptr;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
        return camera.ImageAlloc(ppImage) ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ImageFree(HCAMERA hCamera, QORCAM_IMAGE* Image) {
    return CameraExport(2, "QORCAM_ImageFree", hCamera, [&](CCamera& camera) -> int {
        Image_Buffer* image = Image_Buffer::Find(Image);
        if (image == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
        return camera.ImageFree(*image) ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ImageFreeAll(HCAMERA hCamera) {
    return CameraExport(1, "QORCAM_ImageFreeAll", hCamera,
                        [](CCamera& camera) { return camera.ImageFreeAll() ? 0 : kErrorAlreadySet; });
}

QORCAM_API BOOL QORCAM_ImageReq(HCAMERA hCamera, QORCAM_IMAGE* Image) {
    return CameraExport(2, "QORCAM_ImageReq", hCamera, [&](CCamera& camera) -> int {
        Image_Buffer* image = Image_Buffer::Find(Image);
        if (image == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
        return camera.ImageReq(*image) ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ImageComplete(HCAMERA hCamera, QORCAM_IMAGE* Image, uint32_t TimeOut,
                                     QORCAM_IMAGEDATAINFO* Info) {
    return CameraExport(2, "QORCAM_ImageComplete", hCamera, [&](CCamera& camera) -> int {
        Image_Buffer* image = Image_Buffer::Find(Image);
        if (image == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
        return camera.ImageComplete(*image, TimeOut, Info) ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ImageReqAbortAll(HCAMERA hCamera) {
    return CameraExport(1, "QORCAM_ImageReqAbortAll", hCamera, [](CCamera& camera) {
        camera.ImageReqAbortAll();
        return 0;
    });
}

QORCAM_API BOOL QORCAM_VSyncReq(HCAMERA hCamera, void** Handle) {
    return CameraExport(2, "QORCAM_VSyncReq", hCamera, [&](CCamera& camera) -> int {
        if (Handle == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
        return camera.VSyncReq(Handle) ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_VSyncComplete(HCAMERA hCamera, void* Handle, uint32_t TimeOut) {
    return CameraExport(2, "QORCAM_VSyncComplete", hCamera, [&](CCamera& camera) -> int {
        if (Handle == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
        return camera.VSyncComplete(Handle, TimeOut) ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ImageConvExec(HCAMERA hCamera, QORCAM_IMAGE* Image, uint8_t* OutBuf) {
    static constexpr char kName[] = "QORCAM_ImageConvExec";
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return FALSE;
    TraceCamera(2, kName, "Start", hCamera);
    library->SetLastErrorCode(0);
    CCamera* camera = CHandleRegistry::Instance().Test<CBase, CCamera>(hCamera);
    Image_Buffer* image = Image_Buffer::Find(Image);
    uint32_t code = 0;
    if (camera == nullptr) {
        library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
        return FALSE;
    }
    camera->BeforeAccess();
    if (image == nullptr || OutBuf == nullptr) {
        code = STATUSQORCAM_PARAMETER_ERROR;
    } else if (!camera->IsPresent()) {
        code = STATUSQORCAM_CANNOT_FOUND;
    } else if (!camera->HasResources()) {
        code = STATUSQORCAM_NOTRESOURCE_ERROR;
    } else {
        code = camera->Convert(image->image.pBuffer, OutBuf, image->image.Width, image->image.Height,
                               image->image.EndianMode);
    }
    if (code != 0) {
        library->SetLastErrorCode(code);
        TraceCameraError(2, kName, static_cast<int32_t>(code), hCamera);
        return FALSE;
    }
    TraceCamera(2, kName, "End  ", hCamera);
    return TRUE;
}

} // extern "C"
