// CameraIIDC: CCameraIIDC, a camera opened through an IEEE 1394 producer.
#pragma once

#include "Camera.h"

namespace qorcam::library {

/// An IEEE 1394 camera: the base camera with its own class identity.
class CCameraIIDC : public CCamera {
public:
    using CCamera::CCamera;
};

} // namespace qorcam::library
