// CameraUSB: CCameraUSB, a camera opened through a USB3 Vision producer.
#pragma once

#include "Camera.h"

namespace qorcam::library {

/// A USB3 Vision camera: the base camera with the USB camera record.
class CCameraUSB : public CCamera {
public:
    using CCamera::CCamera;
    /// Fills the USB record; false (last error 99, producer text traced) when a call fails.
    bool CameraInfo(QORCAM_USBCAMERAINFO* info);
};

} // namespace qorcam::library
