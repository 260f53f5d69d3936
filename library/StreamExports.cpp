// StreamExports: a camera's stream resources and the start and stop of its images.
#include "QorCam.h"

#include "CameraFrame.h"
#include "CameraGigE.h"

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
    return CameraExport(1, "QORCAM_ResourceAlloc", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kPresent | CCamera::kNormal | CCamera::kNoResources))
            return kErrorAlreadySet;
        return camera.AllocResources() ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ResourceAllocGigE(HCAMERA hCamera, uint8_t* IPAddr, BOOL Recover) {
    return CameraExport(1, "QORCAM_ResourceAllocGigE", hCamera, [&](CCamera& camera) -> int {
        if (!DestinationAccepted(IPAddr)) return STATUSQORCAM_PARAMETER_ERROR;
        auto* gige = dynamic_cast<CCameraGigE*>(&camera);
        if (gige == nullptr) return STATUSQORCAM_FUNCTION_ONLYGIGE;
        if (!camera.CheckState(CCamera::kPresent | CCamera::kNormal | CCamera::kNoResources))
            return kErrorAlreadySet;
        return gige->AllocResources(IPAddr, Recover != 0) ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ResourceRelease(HCAMERA hCamera) {
    return CameraExport(1, "QORCAM_ResourceRelease", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kNormal | CCamera::kResources | CCamera::kNotStarted))
            return kErrorAlreadySet;
        return camera.ReleaseResources() ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ImageStart(HCAMERA hCamera) {
    return CameraExport(1, "QORCAM_ImageStart", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kPresent | CCamera::kNormal | CCamera::kResources |
                               CCamera::kNotStarted))
            return kErrorAlreadySet;
        return camera.ImageStart() ? 0 : kErrorAlreadySet;
    });
}

QORCAM_API BOOL QORCAM_ImageStop(HCAMERA hCamera) {
    return CameraExport(1, "QORCAM_ImageStop", hCamera, [](CCamera& camera) {
        if (!camera.CheckState(CCamera::kNormal | CCamera::kResources)) return kErrorAlreadySet;
        return camera.ImageStop() ? 0 : kErrorAlreadySet;
    });
}

} // extern "C"
