// CameraPort: CCameraPort, a device opened for register access only.
#pragma once

#include "BasePort.h"
#include "GenTL.h"
#include "QorCam.h"

#include <mutex>
#include <string>

namespace qorcam::library {

class CGenTL;
class CInterface;

/// A device opened exclusively for register access: its remote device port,
/// no node map, no streams. The constructor throws a CErrorText (the
/// producer's text) when the port can't be had, and leaves the device open
/// for the caller to close; the destructor closes the device and leaves the
/// interface's list. The port lock serialises the register exports.
class CCameraPort : public CBasePort {
public:
    CCameraPort(CGenTL& producer, CInterface& iface, std::string id, DEV_HANDLE device);
    ~CCameraPort() override;

    std::mutex& Lock() { return lock_; }
    CGenTL& Producer() { return producer_; }
    PORT_HANDLE Port() const { return port_; }

    /// Fills the camera record; false (last error 99, producer text traced) when a call fails.
    bool CameraInfo(QORCAM_CAMERAINFO* info);

private:
    std::mutex lock_;
    CGenTL& producer_;
    CInterface& interface_;
    std::string id_;
    DEV_HANDLE device_;
    PORT_HANDLE port_ = nullptr;
};

} // namespace qorcam::library
