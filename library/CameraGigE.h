// CameraGigE: CCameraGigE, a camera opened through a GigE Vision producer.
#pragma once

#include "Camera.h"

namespace qorcam::library {

/// A GigE Vision camera: the base camera with the GigE camera record.
class CCameraGigE : public CCamera {
public:
    /// Opens as CCamera does, then sets the camera up for this library: the
    /// first link and stream channel selected, the heartbeat time-out near
    /// 10 s (normal cameras), the heartbeat off where the camera allows, and
    /// the largest packet size up to 9000 that passes the stream test, else
    /// up to 1500. A setting the camera lacks or refuses ends them quietly.
    CCameraGigE(CGenTL& producer, CInterface& iface, std::string id, DEV_HANDLE device,
                std::uint32_t urlIndex, bool watch);
    ~CCameraGigE() override;

    /// GigE stream resources: the stream's destination (ipAddr, a multicast
    /// address in network order, or the host adapter's address), the resend
    /// flag, then the base allocation, then the buffer layout from the
    /// payload and the camera's packet size. False with the last error set
    /// (8 allocated, 19 no destination, 7 node or register failures, 99
    /// producer failures). A failure after the base allocation leaves the
    /// resources allocated.
    bool AllocResources(const std::uint8_t* ipAddr, bool recover);
    bool AllocResources() override { return AllocResources(nullptr, true); }
    /// Clears the destination (normal cameras), then the base release.
    bool ReleaseResources() override;
    /// The stream test: the stream pointed at the adapter, a test packet
    /// asked for; false with the producer's result word as the last error.
    bool TestStream();
    /// Multicast when the camera's stream channel has a port and a 239.x.y.z destination.
    bool QueryMulticast(bool& multicast) override;
    void DecodeImageDataInfo(const BufferView& buffer, std::uint32_t status, std::uint32_t bytes,
                             QORCAM_IMAGEDATAINFO* info) override;
    /// Only a block with no packet missing.
    bool WholeImage(const BufferView& buffer, std::uint32_t status, std::uint32_t bytes) const override;
    /// Names the image's memory file to the producer, which then has the
    /// service write frames into it in place (no copy per frame).
    void BeforeAnnounce(const Image_Buffer& image) override;
    std::uint32_t PacketsPerBlock() const { return packetsPerBlock_; }
    /// Fills the GigE record; false (last error 99, producer text traced) when a call fails.
    bool CameraInfo(QORCAM_GIGECAMERAINFO* info);

private:
    void ApplyOpenSettings();

    std::uint32_t packetsPerBlock_ = 0;
};

} // namespace qorcam::library
