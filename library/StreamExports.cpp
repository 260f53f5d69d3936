// StreamExports: a camera's stream resources and the start and stop of its images.
#include "QorCam.h"

#include "CameraFrame.h"
#include "CameraGigE.h"
#include "ExportGuard.h"
#include "GenTLCustom.h"
#include "GenTLProducer.h"

#include <cstring>

using namespace qorcam::library;

namespace {

// A stream destination the caller may give: none (0.0.0.0 or null) or a
// multicast group 239.b.c.d with b at most 127 and c not 0.
bool DestinationAccepted(const uint8_t* ip) {
    if (ip == nullptr || (ip[0] == 0 && ip[1] == 0 && ip[2] == 0 && ip[3] == 0)) return true;
    return ip[0] == 239 && ip[1] <= 127 && ip[2] != 0;
}

} // namespace

extern "C" {

QORCAM_API BOOL QORCAM_ResourceAlloc(HCAMERA hCamera) {
    return GuardedCameraExport(1, "QORCAM_ResourceAlloc", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kPresent | CCamera::kNormal | CCamera::kNoResources))
            return kErrorAlreadySet;
        return camera.AllocResources() ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ResourceAllocGigE(HCAMERA hCamera, uint8_t* IPAddr, BOOL Recover) {
    return GuardedCameraExport(1, "QORCAM_ResourceAllocGigE", hCamera, [&](CCamera& camera) -> int {
        if (!DestinationAccepted(IPAddr)) return STATUSQORCAM_PARAMETER_ERROR;
        auto* gige = dynamic_cast<CCameraGigE*>(&camera);
        if (gige == nullptr) return STATUSQORCAM_FUNCTION_ONLYGIGE;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kNormal | CCamera::kNoResources))
            return kErrorAlreadySet;
        return gige->AllocResources(IPAddr, Recover != 0) ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ResourceRelease(HCAMERA hCamera) {
    return GuardedCameraExport(1, "QORCAM_ResourceRelease", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kNormal | CCamera::kResources | CCamera::kNotStarted))
            return kErrorAlreadySet;
        return camera.ReleaseResources() ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ImageStart(HCAMERA hCamera) {
    return GuardedCameraExport(1, "QORCAM_ImageStart", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kPresent | CCamera::kNormal | CCamera::kResources |
                               CCamera::kNotStarted))
            return kErrorAlreadySet;
        return camera.ImageStart() ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ImageStop(HCAMERA hCamera) {
    return GuardedCameraExport(1, "QORCAM_ImageStop", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kNormal | CCamera::kResources)) return kErrorAlreadySet;
        return camera.ImageStop() ? 0 : kErrorAlreadySet;
    });
}

} // extern "C"

// Watch cameras: they follow a multicast stream that another process set up.
extern "C" {

QORCAM_API BOOL QORCAM_WatchCamera(HCAMERA hCamera, BOOL* Standby) {
    return GuardedCameraExport(1, "QORCAM_WatchCamera", hCamera, [&](CCamera& camera) -> int {
        if (Standby == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kWatch)) return kErrorAlreadySet;
        bool multicast = false;
        if (!camera.QueryMulticast(multicast)) return kErrorAlreadySet;
        *Standby = multicast ? TRUE : FALSE;
        return 0;
    });
}

QORCAM_API BOOL QORCAM_WatchAlloc(HCAMERA hCamera) {
    return GuardedCameraExport(1, "QORCAM_WatchAlloc", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kPresent | CCamera::kWatch | CCamera::kNoResources |
                               CCamera::kMulticast))
            return kErrorAlreadySet;
        return camera.AllocResources() ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_WatchRelease(HCAMERA hCamera) {
    return GuardedCameraExport(1, "QORCAM_WatchRelease", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kPresent | CCamera::kWatch | CCamera::kResources |
                               CCamera::kNotStarted))
            return kErrorAlreadySet;
        return camera.ReleaseResources() ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_WatchStart(HCAMERA hCamera) {
    return GuardedCameraExport(1, "QORCAM_WatchStart", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kPresent | CCamera::kWatch | CCamera::kResources |
                               CCamera::kNotStarted))
            return kErrorAlreadySet;
        return camera.ImageStart() ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_WatchStop(HCAMERA hCamera) {
    return GuardedCameraExport(1, "QORCAM_WatchStop", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kWatch | CCamera::kResources)) return kErrorAlreadySet;
        return camera.ImageStop() ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_SetImageCallBack(HCAMERA hCamera, void* Context, QORCAM_IMAGECALLBACK CallBack,
                                        uint32_t BufferCount, BOOL InfoSet_Flag) {
    return GuardedCameraExport(1, "QORCAM_SetImageCallBack", hCamera, [&](CCamera& camera) -> int {
        if (CallBack == nullptr) {
            camera.StopImageCallBack();
            return 0;
        }
        if (BufferCount == 0) return STATUSQORCAM_PARAMETER_ERROR;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
        return camera.SetImageCallBack(Context, CallBack, BufferCount, InfoSet_Flag != 0) ? 0
                                                                                          : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_TestStream(HCAMERA hCamera) {
    return GuardedCameraExport(1, "QORCAM_TestStream", hCamera, [](CCamera& camera) -> int {
        auto* gige = dynamic_cast<CCameraGigE*>(&camera);
        if (gige == nullptr) return STATUSQORCAM_FUNCTION_ONLYGIGE;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kNormal | CCamera::kNoResources |
                               CCamera::kNotStarted))
            return kErrorAlreadySet;
        return gige->TestStream() ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_GetGigEPktLog(HCAMERA hCamera, QORCAM_PKTLOG* Log) {
    return GuardedCameraExport(1, "QORCAM_GetGigEPktLog", hCamera, [&](CCamera& camera) -> int {
        if (Log == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
        if (dynamic_cast<CCameraGigE*>(&camera) == nullptr) return STATUSQORCAM_FUNCTION_ONLYGIGE;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kResources)) return kErrorAlreadySet;
        std::memset(Log, 0, sizeof *Log);
        std::size_t size = sizeof *Log;
        camera.Producer().fn.GCReadPort(camera.Stream(0), DS_REG_STATISTICS, Log, &size);
        return 0;
    });
}

QORCAM_API BOOL QORCAM_SetCmdTimeOut(HCAMERA hCamera, uint32_t TimeOut) {
    return Guarded("QORCAM_SetCmdTimeOut", FALSE, [&]() -> BOOL {
        static constexpr char kName[] = "QORCAM_SetCmdTimeOut";
        // Clients of structures older than this have no command time-out.
        constexpr uint32_t kFirstVersion = 10102;
        CQorCamDLL* library = CLibraryProcess::Library();
        if (library == nullptr) return FALSE;
        if (library->StructVersion() < kFirstVersion) {
            library->SetLastErrorCode(STATUSQORCAM_STRUCTVERSION_ERROR);
            return FALSE;
        }
        if (TimeOut != 0 && (TimeOut < 500 || TimeOut > 600000)) {
            library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
            return FALSE;
        }
        return CameraExport(1, kName, hCamera, [&](CCamera& camera) {
            if (!camera.CheckState(CCamera::kNormal)) return kErrorAlreadySet;
            return camera.SetCmdTimeOut(TimeOut == 0 ? 0xFFFFFFFFu : TimeOut) ? 0 : kErrorAlreadySet;
        });
    });
}

} // extern "C"
