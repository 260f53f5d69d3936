// CameraGigE: CCameraGigE, a camera opened through a GigE Vision producer.
#pragma once

#include "Camera.h"

namespace qorcam::library {

/// A GigE Vision camera: the base camera with the GigE camera record.
class CCameraGigE : public CCamera {
public:
    using CCamera::CCamera;
    /// Fills the GigE record; false (last error 99, producer text traced) when a call fails.
    bool CameraInfo(QORCAM_GIGECAMERAINFO* info);
};

} // namespace qorcam::library
