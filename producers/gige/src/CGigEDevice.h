// The GigE device module: one opened camera, claimed in the service and, with control access, controlled.
#pragma once

#include "CDeviceInfo.h"
#include "CDevicePort.h"
#include "CEventData.h"
#include "HeldUdpPort.h"
#include "gentl/CDevice.h"

#include <atomic>
#include <memory>

namespace qorcam::devio {
class DeviceHandle;
}

namespace GenICam::Client {

class CGigEInterface;

// Opening holds a host command port, claims the camera in the service and, with CONTROL or EXCLUSIVE
// access, takes the camera's control channel and starts the service's heartbeat; READONLY access only
// watches. Every failure undoes what was done. Closing releases all of it in reverse.
class CGigEDevice : public CDevice {
public:
    // Throws runtime_error "socket Error", "IOCTL_GIGE_PortAlloc Error", "Device already open" or
    // "Device Open Error".
    CGigEDevice(CTL* tl, CGigEInterface* parent, std::string id, std::unique_ptr<CDeviceInfo> info,
                DEVICE_ACCESS_FLAGS access);
    ~CGigEDevice() override;

    // Module registers (sizes must match exactly; anything else answers size 0 and never throws).
    void Read(uint64_t address, void* buffer, size_t* size) override;
    void Write(uint64_t address, const void* buffer, size_t* size) override;

    void GetInfo(DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;
    ICommonBase* GetPort() override { return m_port.get(); }

    const CDeviceInfo& Info() const { return *m_info; }
    CDevicePort& Port() { return *m_port; }
    qorcam::devio::DeviceHandle& Driver();
    uint16_t CommandPort() const { return m_commandPort.Port(); }
    uint32_t MessageDestination() const { return m_messageDestination; }
    bool Controls() const {
        return GetAccess() == DEVICE_ACCESS_CONTROL || GetAccess() == DEVICE_ACCESS_EXCLUSIVE;
    }
    void SetVisible(bool visible) { m_visible = visible; }

protected:
    CDataStream* CreateDataStream(uint32_t index, const std::string& id) override;
    // GevDeviceIPAddress and GevDeviceMACAddress.
    void DescribeDevice(CModuleDescription& description) override;
    CEventObj* EventSource(EVENT_TYPE type) override;

private:
    void TakeControl();
    void ReleaseControl();
    uint32_t TestPacket();
    void SendAction(const uint32_t keys[3], bool wait, size_t* size);

    CGigEInterface* m_interface;
    std::unique_ptr<CDeviceInfo> m_info;
    qorcam::gige::HeldUdpPort m_commandPort;
    std::unique_ptr<CDevicePort> m_port;
    std::unique_ptr<CEventData> m_eventData;
    uint32_t m_messageDestination = 0;
    uint32_t m_testTimeout = 0;
    std::atomic<bool> m_visible{true};
};

} // namespace GenICam::Client
