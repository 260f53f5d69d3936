// The GigE interface module: the GigE network service's device, its camera list and bus events.
#pragma once

#include "CAckData.h"
#include "CDeviceInfo.h"
#include "devio/DeviceHandle.h"
#include "gentl/CInterface.h"
#include "os/Event.h"
#include "os/Thread.h"

#include <memory>
#include <string>
#include <vector>

namespace GenICam::Client {

// The one interface of the GigE producer. Construction opens the service's device, checks its version,
// reports the adapters with leased addresses and starts the interface thread, which registers this
// process with the service (for the interface's life) and turns the service's bus events into
// EVENT_CUSTOM_BUS entries. The camera list changes only in UpdateDeviceList. The consumer serialises
// calls on one interface.
class CGigEInterface : public CInterface {
public:
    // Throws runtime_error "CreateFile Error", "GigE Driver Version Error" or
    // "Interface Thread Create Error"; nothing is left open then.
    CGigEInterface(CTL* tl, std::unique_ptr<CInterfaceInfo> info);
    ~CGigEInterface() override;

    // Module registers: 0x100 (any size) asks the service to discover again; 0x101 (12 bytes) sends an
    // action command to every camera. Anything else, and every read, answers size 0.
    void Read(uint64_t address, void* buffer, size_t* size) override;
    void Write(uint64_t address, const void* buffer, size_t* size) override;

    CDevice* OpenDevice(const std::string& id, DEVICE_ACCESS_FLAGS access) override;
    uint32_t GetNumDevices() override;
    std::string GetDeviceID(uint32_t index) override;
    void UpdateDeviceList(bool8_t* changed, uint64_t timeout) override;
    void GetDeviceInfo(const std::string& id, DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                       size_t* size) override;

    qorcam::devio::DeviceHandle& Driver() { return m_driver; }

protected:
    CEventObj* EventSource(EVENT_TYPE type) override;
    // GevDeviceIPAddress and GevDeviceMACAddress of the selected listed camera.
    void DescribeListedDevices(CModuleDescription& description) override;

private:
    void ReportAdapters();
    void InterfaceThread();

    qorcam::devio::DeviceHandle m_driver;
    std::vector<std::unique_ptr<CDeviceInfo>> m_devices;
    qorcam::os::Thread m_thread{"GigEInterface"};
    qorcam::os::Event m_started{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_ended{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_stop{qorcam::os::ResetMode::Manual};
    std::unique_ptr<CAckData> m_ackData;
};

} // namespace GenICam::Client
