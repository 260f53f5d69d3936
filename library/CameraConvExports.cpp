// CameraConvExports: a camera's conversion settings, its bitmap header and conversions of its images.
#include "QorCam.h"

#include "BmpInfo.h"
#include "CConv.h"
#include "CameraFrame.h"
#include "ExportGuard.h"

using namespace qorcam::library;
using qorcam::conversion::IsMonochromeFormat;

namespace {

constexpr QORCAM_COLORCONVMODE kCameraDefaultMode = {QORCAM_MEMmode, QORCAM_SFTAUTO, QORCAM_DIB32, 0, 0};
constexpr QORCAM_COLORVALUE kDefaultValue = {1.402, 0.711, 0.343, 1.772};

BOOL BmpInfoOfCamera(const char* name, HCAMERA hCamera, BITMAPINFO* BmpInfo, uint32_t* Size,
                     BOOL Priority_Mono) {
    return CameraExport(1, name, hCamera, [&](CCamera& camera) -> int {
        if (Size == nullptr || (BmpInfo == nullptr && *Size != 0)) return STATUSQORCAM_PARAMETER_ERROR;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
        const int32_t id = camera.FormatId();
        if (id < 0) return STATUSQORCAM_NO_SUPPORT_PIXELFORMAT;
        const bool mono = Priority_Mono != 0 && IsMonochromeFormat(id);
        const uint32_t size = mono ? kMonoBmpInfoSize : kColourBmpInfoSize;
        if (*Size == 0) {
            *Size = size;
            return 0;
        }
        if (*Size < size) return STATUSQORCAM_BUFFER_SHORT;
        *Size = size;
        int64_t width = 0, height = 0;
        try {
            width = camera.Binding().Width->GetValue();
            height = camera.Binding().Height->GetValue();
        } catch (...) {
            return STATUSQORCAM_COMMUNICATE_ERROR;
        }
        // A camera's sizes beyond the header's fields are refused, not cut.
        if (width < 0 || height < 0 || width > UINT32_MAX || height > UINT32_MAX)
            return STATUSQORCAM_PARAMETER_ERROR;
        uint32_t dibMode = QORCAM_DIB32;
        {
            std::lock_guard<std::mutex> guard(camera.ConvLock());
            if (camera.Conv() != nullptr) dibMode = camera.Conv()->DIBMode;
        }
        const bool filled =
            mono ? FillMonoBmpInfo(BmpInfo, static_cast<uint32_t>(width), static_cast<uint32_t>(height), true)
                 : FillColourBmpInfo(BmpInfo, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                     dibMode);
        return filled ? 0 : STATUSQORCAM_PARAMETER_ERROR;
    });
}

} // namespace

extern "C" {

QORCAM_API BOOL QORCAM_ConvMode(HCAMERA hCamera, QORCAM_COLORCONVMODE* Mode, QORCAM_COLORVALUE* Value) {
    return GuardedCameraExport(1, "QORCAM_ConvMode", hCamera, [&](CCamera& camera) -> int {
        const QORCAM_COLORCONVMODE mode = Mode != nullptr ? *Mode : kCameraDefaultMode;
        const QORCAM_COLORVALUE value = Value != nullptr ? *Value : kDefaultValue;
        if (mode.StoreMode > QORCAM_BMPmodeLR || mode.ShiftID < QORCAM_SFTAUTO ||
            mode.ShiftID > QORCAM_SFT8 || mode.DIBMode > QORCAM_DIB24)
            return STATUSQORCAM_PARAMETER_ERROR;
        if (!camera.CheckState(CCamera::kPresent)) return kErrorAlreadySet;
        return camera.ConvMode(mode, value) ? 0 : STATUSQORCAM_UNDEF_ERROR;
    });
}

QORCAM_API BOOL QORCAM_SetBMPINFO(HCAMERA hCamera, BITMAPINFO* BmpInfo, uint32_t* Size, BOOL Priority_Mono) {
    return Guarded("QORCAM_SetBMPINFO", FALSE, [&]() -> BOOL {
        return BmpInfoOfCamera("QORCAM_SetBMPINFO", hCamera, BmpInfo, Size, Priority_Mono);
    });
}

QORCAM_API BOOL QORCAM_GetBMPINFO(HCAMERA hCamera, BITMAPINFO* BmpInfo, uint32_t* Size, BOOL Priority_Mono) {
    return Guarded("QORCAM_GetBMPINFO", FALSE, [&]() -> BOOL {
        return BmpInfoOfCamera("QORCAM_GetBMPINFO", hCamera, BmpInfo, Size, Priority_Mono);
    });
}

QORCAM_API BOOL QORCAM_BufferConvExec(HCAMERA hCamera, uint8_t* InBuf, uint8_t* OutBuf) {
    return Guarded("QORCAM_BufferConvExec", FALSE, [&]() -> BOOL {
        static constexpr char kName[] = "QORCAM_BufferConvExec";
        CQorCamDLL* library = CLibraryProcess::Library();
        if (library == nullptr) return FALSE;
        TraceCamera(2, kName, "Start", hCamera);
        library->SetLastErrorCode(0);
        CameraHold held(hCamera);
        CCamera* camera = held.Get();
        if (camera == nullptr || InBuf == nullptr || OutBuf == nullptr) {
            library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
            if (camera != nullptr) TraceCameraError(2, kName, STATUSQORCAM_PARAMETER_ERROR, hCamera);
            return FALSE;
        }
        // Only the conversion lock: conversions run beside the camera's other exports.
        const uint32_t code =
            camera->Convert(InBuf, OutBuf, camera->ImageWidth(), camera->ImageHeight(), camera->EndianMode());
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
