// CameraExports: opening and closing cameras, their presence, records and node map.
#include "QorCam.h"

#include "CameraFrame.h"
#include "CameraGigE.h"
#include "CameraUSB.h"
#include "ExportGuard.h"
#include "GenTLProducer.h"

#include <cstring>
#include <string>

using namespace qorcam::library;

namespace {

constexpr uint64_t kNotByNumber = 0xFFFFFFFFFFFFFFFFull;
// The longest user name a GigE camera holds.
constexpr std::size_t kGigEUserNameMax = 15;

// QORCAM_Open and QORCAM_WatchOpen.
BOOL OpenByUid(const char* name, uint64_t UID, HCAMERA* phCamera, bool watch) {
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return FALSE;
    TraceOpenStart(1, name, UID);
    library->SetLastErrorCode(0);
    bool ok = false;
    if (phCamera == nullptr) {
        library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
    } else {
        *phCamera = nullptr;
        if (UID == 0) {
            library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
        } else {
            std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
            ok = UID < kNotByNumber ? library->OpenCameraByNumber(phCamera, UID, 0, 0, watch)
                                    : library->OpenCamera(phCamera, 0, 0, watch);
        }
    }
    if (!ok) {
        TraceExportError(1, name, static_cast<int32_t>(library->GetLastErrorCode()));
        return FALSE;
    }
    TraceOpenEnd(1, name, *phCamera);
    return TRUE;
}

// QORCAM_OpenGigE, QORCAM_WatchOpenGigE and QORCAM_OpenUSB.
BOOL OpenByRequest(const char* name, QORCAM_OPENREQUEST* Request, HCAMERA* phCamera, uint32_t type,
                   bool watch) {
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return FALSE;
    TraceExport(1, name, "Start");
    library->SetLastErrorCode(0);
    bool ok = false;
    // The name is read within its field even when the caller left no NUL in it.
    const std::string userName =
        Request != nullptr
            ? std::string(Request->UserName, strnlen(Request->UserName, sizeof Request->UserName))
            : std::string();
    if (Request == nullptr || phCamera == nullptr || (Request->UID < kNotByNumber && !userName.empty()) ||
        (type == kProducerGigE && Request->UID == kNotByNumber && userName.size() > kGigEUserNameMax)) {
        library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
    } else {
        *phCamera = nullptr;
        std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
        if (Request->UID < kNotByNumber) {
            ok = library->OpenCameraByNumber(phCamera, Request->UID, Request->URLIdx, type, watch);
        } else if (!userName.empty()) {
            ok = library->OpenCameraByUserName(phCamera, userName, Request->URLIdx, type, watch);
        } else {
            ok = library->OpenCamera(phCamera, Request->URLIdx, type, watch);
        }
    }
    if (!ok) {
        TraceExportError(1, name, static_cast<int32_t>(library->GetLastErrorCode()));
        return FALSE;
    }
    TraceExport(1, name, "End  ");
    return TRUE;
}

// QORCAM_Close and QORCAM_WatchClose: the camera must be of the export's kind.
BOOL CloseCamera(const char* name, HCAMERA hCamera, bool watch) {
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return FALSE;
    TraceCamera(1, name, "Start", hCamera);
    library->SetLastErrorCode(0);
    CameraHold held(hCamera);
    CCamera* camera = held.Get();
    if (camera == nullptr) {
        library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
        return FALSE;
    }
    camera->BeforeAccess();
    bool ok = false;
    bool closedElsewhere = false;
    {
        std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
        if (camera->IsWatch() != watch) {
            library->SetLastErrorCode(STATUSQORCAM_NO_OPEN);
        } else {
            ok = CBase::Close(camera);
            closedElsewhere = !ok;
        }
        // Without calls on it elsewhere, the camera goes here, under the library lock.
        held.Drop();
    }
    if (closedElsewhere) {
        // Closed by another thread since the handle test: refused as a closed handle is.
        library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
        return FALSE;
    }
    if (!ok) {
        TraceCameraError(1, name, static_cast<int32_t>(library->GetLastErrorCode()), hCamera);
        return FALSE;
    }
    TraceCamera(1, name, "End  ", hCamera);
    return TRUE;
}

} // namespace

extern "C" {

QORCAM_API BOOL QORCAM_Open(uint64_t UID, HCAMERA* phCamera) {
    return Guarded("QORCAM_Open", FALSE,
                   [&]() -> BOOL { return OpenByUid("QORCAM_Open", UID, phCamera, false); });
}

QORCAM_API BOOL QORCAM_WatchOpen(uint64_t UID, HCAMERA* phCamera) {
    return Guarded("QORCAM_WatchOpen", FALSE,
                   [&]() -> BOOL { return OpenByUid("QORCAM_WatchOpen", UID, phCamera, true); });
}

QORCAM_API BOOL QORCAM_OpenGigE(QORCAM_OPENREQUEST* Request, HCAMERA* phCamera) {
    return Guarded("QORCAM_OpenGigE", FALSE, [&]() -> BOOL {
        return OpenByRequest("QORCAM_OpenGigE", Request, phCamera, kProducerGigE, false);
    });
}

QORCAM_API BOOL QORCAM_WatchOpenGigE(QORCAM_OPENREQUEST* Request, HCAMERA* phCamera) {
    return Guarded("QORCAM_WatchOpenGigE", FALSE, [&]() -> BOOL {
        return OpenByRequest("QORCAM_WatchOpenGigE", Request, phCamera, kProducerGigE, true);
    });
}

QORCAM_API BOOL QORCAM_OpenUSB(QORCAM_OPENREQUEST* Request, HCAMERA* phCamera) {
    return Guarded("QORCAM_OpenUSB", FALSE, [&]() -> BOOL {
        return OpenByRequest("QORCAM_OpenUSB", Request, phCamera, kProducerUSB, false);
    });
}

QORCAM_API BOOL QORCAM_Close(HCAMERA hCamera) {
    return Guarded("QORCAM_Close", FALSE,
                   [&]() -> BOOL { return CloseCamera("QORCAM_Close", hCamera, false); });
}

QORCAM_API BOOL QORCAM_WatchClose(HCAMERA hCamera) {
    return Guarded("QORCAM_WatchClose", FALSE,
                   [&]() -> BOOL { return CloseCamera("QORCAM_WatchClose", hCamera, true); });
}

QORCAM_API BOOL QORCAM_Camera(HCAMERA hCamera, BOOL* Connect) {
    return Guarded("QORCAM_Camera", FALSE, [&]() -> BOOL {
        static constexpr char kName[] = "QORCAM_Camera";
        CQorCamDLL* library = CLibraryProcess::Library();
        if (library == nullptr) return FALSE;
        TraceCamera(1, kName, "Start", hCamera);
        library->SetLastErrorCode(0);
        CameraHold held(hCamera);
        CCamera* camera = held.Get();
        if (camera == nullptr || Connect == nullptr) {
            library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
            if (camera != nullptr) TraceCameraError(1, kName, STATUSQORCAM_PARAMETER_ERROR, hCamera);
            return FALSE;
        }
        camera->BeforeAccess();
        bool present = false;
        {
            std::lock_guard<std::recursive_mutex> guard(camera->Lock());
            if (camera->IsClosed()) {
                library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
                return FALSE;
            }
            present = camera->RefreshPresence();
            *Connect = present ? TRUE : FALSE;
        }
        TracePresence(1, kName, present ? "Connect" : "Disconnect", hCamera);
        return TRUE;
    });
}

QORCAM_API BOOL QORCAM_CameraInfo(HCAMERA hCamera, QORCAM_CAMERAINFO* Info) {
    return GuardedCameraExport(1, "QORCAM_CameraInfo", hCamera, [&](CCamera& camera) {
        if (Info == nullptr) return static_cast<int>(STATUSQORCAM_PARAMETER_ERROR);
        if (!camera.CheckState(CCamera::kPresent)) return kErrorAlreadySet;
        return camera.CameraInfo(Info) ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_GetNodeMap(HCAMERA hCamera, void** NodeMap) {
    return GuardedCameraExport(1, "QORCAM_GetNodeMap", hCamera, [&](CCamera& camera) {
        if (NodeMap == nullptr) return static_cast<int>(STATUSQORCAM_PARAMETER_ERROR);
        if (!camera.CheckState(CCamera::kPresent)) return kErrorAlreadySet;
        *NodeMap = camera.NodeMap();
        return 0;
    });
}

QORCAM_API BOOL QORCAM_CameraInfoGigE(HCAMERA hCamera, QORCAM_GIGECAMERAINFO* Info) {
    return GuardedCameraExport(1, "QORCAM_CameraInfoGigE", hCamera, [&](CCamera& camera) {
        if (Info == nullptr) return static_cast<int>(STATUSQORCAM_PARAMETER_ERROR);
        auto* gige = dynamic_cast<CCameraGigE*>(&camera);
        if (gige == nullptr) return static_cast<int>(STATUSQORCAM_FUNCTION_ONLYGIGE);
        if (!camera.CheckState(CCamera::kPresent)) return kErrorAlreadySet;
        return gige->CameraInfo(Info) ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_CameraInfoUSB(HCAMERA hCamera, QORCAM_USBCAMERAINFO* Info) {
    return GuardedCameraExport(1, "QORCAM_CameraInfoUSB", hCamera, [&](CCamera& camera) {
        if (Info == nullptr) return static_cast<int>(STATUSQORCAM_PARAMETER_ERROR);
        auto* usb = dynamic_cast<CCameraUSB*>(&camera);
        if (usb == nullptr) return static_cast<int>(STATUSQORCAM_FUNCTION_ONLYUSB);
        if (!camera.CheckState(CCamera::kPresent)) return kErrorAlreadySet;
        return usb->CameraInfo(Info) ? 0 : kErrorAlreadySet;
    });
}

} // extern "C"
