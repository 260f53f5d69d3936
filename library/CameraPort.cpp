// CameraPort: CCameraPort, a device opened for register access only.
#include "CameraPort.h"

#include "CameraRecord.h"
#include "ErrorText.h"
#include "GenTLInterface.h"
#include "GenTLProducer.h"

namespace qorcam::library {

CCameraPort::CCameraPort(CGenTL& producer, CInterface& iface, std::string id, DEV_HANDLE device)
    : producer_(producer), interface_(iface), id_(std::move(id)), device_(device) {
    if (producer_.fn.DevGetPort(device_, &port_) != GC_ERR_SUCCESS)
        throw CErrorText(producer_.LastErrorText());
}

CCameraPort::~CCameraPort() {
    producer_.fn.DevClose(device_);
    interface_.RemovePort(this);
}

bool CCameraPort::CameraInfo(QORCAM_CAMERAINFO* info) {
    std::lock_guard<std::mutex> guard(lock_);
    return FillCameraRecord(producer_, device_, info, "CCameraPort::CameraInfo");
}

} // namespace qorcam::library
