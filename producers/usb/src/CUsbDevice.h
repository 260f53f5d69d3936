// The USB3 Vision device module: one opened camera, owned by this process in the service.
#pragma once

#include "CDeviceInfo.h"
#include "CDevicePort.h"
#include "CEventData.h"
#include "devio/DeviceHandle.h"
#include "gentl/CDevice.h"

#include <atomic>
#include <memory>

namespace GenICam::Client {

class CUsbInterface;

// Opening connects to the camera's device, registers this process with a request that stays with the
// service for the handle's life and makes this process the camera's owner; every failure undoes what
// was done. The device stays accessible until a register access or a stream transfer finds the camera
// gone; after that every access fails at once, and closing leaves the release of ownership to the
// closed handle.
class CUsbDevice : public CDevice {
public:
    // Throws runtime_error "CreateFile Error", "IOCTL_USB_ProcessId Error" or "Device already open".
    CUsbDevice(CTL* tl, CUsbInterface* parent, std::string id, std::unique_ptr<CDeviceInfo> info,
               DEVICE_ACCESS_FLAGS access);
    ~CUsbDevice() override;

    // Module registers: 0x104 (4 bytes) sets the service's acknowledge timeout, 0x105 (any size) resets
    // the stream pipe. Anything else, and every read, answers size 0.
    void Read(uint64_t address, void* buffer, size_t* size) override;
    void Write(uint64_t address, const void* buffer, size_t* size) override;

    void GetInfo(DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;
    ICommonBase* GetPort() override { return m_port.get(); }

    const CDeviceInfo& Info() const { return *m_info; }
    CDevicePort& Port() { return *m_port; }
    qorcam::devio::DeviceHandle& Driver() { return m_driver; }
    bool IsAccessible() const { return m_accessible.load(); }
    void SetInaccessible() { m_accessible = false; }

protected:
    CDataStream* CreateDataStream(uint32_t index, const std::string& id) override;
    CEventObj* EventSource(EVENT_TYPE type) override;

private:
    CUsbInterface* m_interface;
    std::unique_ptr<CDeviceInfo> m_info;
    qorcam::devio::DeviceHandle m_driver;
    qorcam::devio::Overlapped m_registration;
    std::unique_ptr<CDevicePort> m_port;
    std::unique_ptr<CEventData> m_eventData;
    std::atomic<bool> m_accessible{true};
};

} // namespace GenICam::Client
