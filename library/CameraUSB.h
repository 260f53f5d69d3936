// CameraUSB: CCameraUSB, a camera opened through a USB3 Vision producer.
#pragma once

#include "Camera.h"

namespace qorcam::library {

/// A USB3 Vision camera: the base camera with the USB camera record.
class CCameraUSB : public CCamera {
public:
    using CCamera::CCamera;
    ~CCameraUSB() override;

    /// USB stream resources: leader, trailer and buffer sizes from the
    /// payload and the camera's streaming interface registers, handed to the
    /// producer, then the base allocation.
    bool AllocResources() override;
    void DecodeImageDataInfo(const BufferView& buffer, std::uint32_t status, std::uint32_t bytes,
                             QORCAM_IMAGEDATAINFO* info) override;
    std::uint32_t TrailerOffset() const { return trailerOffset_; }
    /// Fills the USB record; false (last error 99, producer text traced) when a call fails.
    bool CameraInfo(QORCAM_USBCAMERAINFO* info);

private:
    std::uint32_t trailerOffset_ = 0;
};

} // namespace qorcam::library
