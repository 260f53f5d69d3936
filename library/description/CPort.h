// CPort: the node map's port onto an opened camera's remote device port.
#pragma once

#include "description/RemoteDevice.h"

#include "genapi/Interfaces.h"

namespace qorcam::description {

/// Guarantees: every access first refreshes the camera's presence; a camera
/// that is gone, a failing producer call or a short read throws
/// std::runtime_error "Unable to Read Register" / "Unable to Write Register";
/// a port built for a watch (read-only) open reports RO, which makes the
/// whole node map read-only.
class CPort : public genapi::IPort {
public:
    CPort(IRemoteDevice& device, bool readOnly) : device_(device), readOnly_(readOnly) {}

    void Read(void* buffer, int64_t address, int64_t length) override;
    void Write(const void* buffer, int64_t address, int64_t length) override;
    genapi::EAccessMode GetAccessMode() override { return readOnly_ ? genapi::RO : genapi::RW; }

private:
    IRemoteDevice& device_;
    bool readOnly_;
};

} // namespace qorcam::description
