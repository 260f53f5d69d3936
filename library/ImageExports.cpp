// ImageExports: image records of a camera, their requests and their conversion.
#include "QorCam.h"

#include "CameraFrame.h"
#include "ExportGuard.h"
#include "ImageBuffer.h"

using namespace qorcam::library;

namespace {

constexpr const char* kBuffer = "Buffer";
constexpr const char* kHandle = "Handle";

/// The frame with every line naming the image record (or request handle) before the camera.
template <class Body>
BOOL ItemExport(std::uint32_t level, const char* name, const char* label, const void* item, HCAMERA handle,
                Body body) {
    return CameraExportTraced(
        handle, [&] { TraceCameraItem(level, name, "Start", label, item, handle); },
        [&] { TraceCameraItem(level, name, "End  ", label, item, handle); },
        [&](std::int32_t code) { TraceCameraItemError(level, name, code, label, item, handle); }, body);
}

} // namespace

extern "C" {

QORCAM_API BOOL QORCAM_ImageAlloc(HCAMERA hCamera, QORCAM_IMAGE** ppImage) {
    return Guarded("QORCAM_ImageAlloc", FALSE, [&]() -> BOOL {
        // Start and error lines are standard ones; the end line, with the new record, is a detail line.
        constexpr const char* kName = "QORCAM_ImageAlloc";
        QORCAM_IMAGE* made = nullptr;
        return CameraExportTraced(
            hCamera, [&] { TraceCamera(1, kName, "Start", hCamera); },
            [&] { TraceCameraItem(2, kName, "End  ", kBuffer, made, hCamera); },
            [&](std::int32_t code) { TraceCameraError(1, kName, code, hCamera); },
            [&](CCamera& camera) -> int {
                if (ppImage == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
                *ppImage = nullptr;
                if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
                if (!camera.ImageAlloc(ppImage)) return kErrorAlreadySet;
                made = *ppImage;
                return 0;
            });
    });
}

QORCAM_API BOOL QORCAM_ImageFree(HCAMERA hCamera, QORCAM_IMAGE* Image) {
    return Guarded("QORCAM_ImageFree", FALSE, [&]() -> BOOL {
        return ItemExport(2, "QORCAM_ImageFree", kBuffer, Image, hCamera, [&](CCamera& camera) -> int {
            Image_Buffer* image = Image_Buffer::Find(Image);
            if (image == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
            return camera.ImageFree(*image) ? 0 : kErrorAlreadySet;
        });
    });
}

QORCAM_API BOOL QORCAM_ImageFreeAll(HCAMERA hCamera) {
    return GuardedCameraExport(1, "QORCAM_ImageFreeAll", hCamera,
                               [](CCamera& camera) { return camera.ImageFreeAll() ? 0 : kErrorAlreadySet; });
}

QORCAM_API BOOL QORCAM_ImageReq(HCAMERA hCamera, QORCAM_IMAGE* Image) {
    return Guarded("QORCAM_ImageReq", FALSE, [&]() -> BOOL {
        return ItemExport(2, "QORCAM_ImageReq", kBuffer, Image, hCamera, [&](CCamera& camera) -> int {
            Image_Buffer* image = Image_Buffer::Find(Image);
            if (image == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
            if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
            return camera.ImageReq(*image) ? 0 : kErrorAlreadySet;
        });
    });
}

QORCAM_API BOOL QORCAM_ImageComplete(HCAMERA hCamera, QORCAM_IMAGE* Image, uint32_t TimeOut,
                                     QORCAM_IMAGEDATAINFO* Info) {
    return Guarded("QORCAM_ImageComplete", FALSE, [&]() -> BOOL {
        return ItemExport(2, "QORCAM_ImageComplete", kBuffer, Image, hCamera, [&](CCamera& camera) -> int {
            Image_Buffer* image = Image_Buffer::Find(Image);
            if (image == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
            if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
            return camera.ImageComplete(*image, TimeOut, Info) ? 0 : kErrorAlreadySet;
        });
    });
}

QORCAM_API BOOL QORCAM_ImageReqAbortAll(HCAMERA hCamera) {
    return GuardedCameraExport(1, "QORCAM_ImageReqAbortAll", hCamera, [](CCamera& camera) {
        camera.ImageReqAbortAll();
        return 0;
    });
}

QORCAM_API BOOL QORCAM_VSyncReq(HCAMERA hCamera, void** Handle) {
    return Guarded("QORCAM_VSyncReq", FALSE, [&]() -> BOOL {
        // The end line names the new request: "End Handle=..., HCAMERA=...".
        constexpr const char* kName = "QORCAM_VSyncReq";
        return CameraExportTraced(
            hCamera, [&] { TraceCamera(2, kName, "Start", hCamera); },
            [&] { TraceCameraItem(2, kName, "End", kHandle, *Handle, hCamera); },
            [&](std::int32_t code) { TraceCameraError(2, kName, code, hCamera); },
            [&](CCamera& camera) -> int {
                if (Handle == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
                if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
                return camera.VSyncReq(Handle) ? 0 : kErrorAlreadySet;
            });
    });
}

QORCAM_API BOOL QORCAM_VSyncComplete(HCAMERA hCamera, void* Handle, uint32_t TimeOut) {
    return Guarded("QORCAM_VSyncComplete", FALSE, [&]() -> BOOL {
        return ItemExport(2, "QORCAM_VSyncComplete", kHandle, Handle, hCamera, [&](CCamera& camera) -> int {
            if (Handle == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
            if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
            return camera.VSyncComplete(Handle, TimeOut) ? 0 : kErrorAlreadySet;
        });
    });
}

QORCAM_API BOOL QORCAM_ImageConvExec(HCAMERA hCamera, QORCAM_IMAGE* Image, uint8_t* OutBuf) {
    return Guarded("QORCAM_ImageConvExec", FALSE, [&]() -> BOOL {
        static constexpr char kName[] = "QORCAM_ImageConvExec";
        CQorCamDLL* library = CLibraryProcess::Library();
        if (library == nullptr) return FALSE;
        TraceCamera(2, kName, "Start", hCamera);
        library->SetLastErrorCode(0);
        CameraHold held(hCamera);
        CCamera* camera = held.Get();
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
    });
}

} // extern "C"
