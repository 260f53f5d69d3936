// The USB3 Vision interface module: the cameras of the service's device class and their records.
#pragma once

#include "CDeviceInfo.h"
#include "gentl/CInterface.h"

#include <memory>
#include <string>
#include <vector>

namespace GenICam::Client {

// The one interface of the USB producer. Opening it opens nothing: the camera list is read from the
// service's device-class folder by UpdateDeviceList, one record per camera whose bootstrap registers
// could be read. Bus events are accepted but never fed. The consumer serialises calls on one interface.
class CUsbInterface : public CInterface {
public:
    CUsbInterface(CTL* tl, std::unique_ptr<CInterfaceInfo> info);
    ~CUsbInterface() override;

    CDevice* OpenDevice(const std::string& id, DEVICE_ACCESS_FLAGS access) override;
    uint32_t GetNumDevices() override;
    std::string GetDeviceID(uint32_t index) override;
    // Throws runtime_error "SetupDiGetClassDevs Error" when the class folder can't be read and
    // "USB Driver Version Error" when the first device ever seen answers another interface version.
    void UpdateDeviceList(bool8_t* changed, uint64_t timeout) override;
    void GetDeviceInfo(const std::string& id, DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                       size_t* size) override;

private:
    std::vector<std::unique_ptr<CDeviceInfo>> m_devices;
};

} // namespace GenICam::Client
