// The interface module behind an IF_HANDLE: what every transport's interface shares.
#pragma once

#include "gentl/CEventQueue.h"
#include "gentl/CModuleDescription.h"
#include "gentl/ICommonBase.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace GenICam::Client {

class CTL;
class CDevice;
class CInterfaceInfo;

// An opened interface. It owns its description, its bus-event source and the devices opened through
// it: destroying the interface destroys them, and tells its system module to forget it. A transport
// derives from it and supplies the device list and the opening of devices. The consumer serialises
// calls on one interface.
class CInterface : public ICommonBase, public IDescribedModule {
public:
    CInterface(CTL* tl, std::unique_ptr<CInterfaceInfo> info);
    ~CInterface() override;

    // The module's description (TLVendorName, ...): one URL, "Local:" and the registers of its port.
    CModuleDescription& Description() override;
    void GetNumURLs(uint32_t* count) override { *count = 1; }
    void GetURL(char* text, size_t* size) override;
    void GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;

    void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;
    // EVENT_CUSTOM_BUS selects the bus-event source, other types what EventSource() gives; none throws
    // runtime_error "Event ID <type> not implemented".
    void RegisterEvent(EVENT_TYPE type, EVENT_HANDLE* event) override;
    void UnregisterEvent(EVENT_TYPE type) override;

    // The transport's part.
    virtual CDevice* OpenDevice(const std::string& id, DEVICE_ACCESS_FLAGS access) = 0;
    virtual uint32_t GetNumDevices() = 0;
    virtual std::string GetDeviceID(uint32_t index) = 0;
    virtual void UpdateDeviceList(bool8_t* changed, uint64_t timeout) = 0;
    virtual void GetDeviceInfo(const std::string& id, DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                               size_t* size) = 0;

    void GetInfo(INTERFACE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size);
    const CInterfaceInfo& GetInterfaceInfo() const { return *m_info; }
    CTL* GetParent() const { return m_tl; }
    CEventBusEvent& GetBusEvent() { return m_busEvent; }

    // An opened device joins the interface (which then owns it) and leaves it from its destructor.
    void AddOpenDevice(CDevice* device);
    void RemoveDevice(CDevice* device);
    const std::vector<CDevice*>& GetOpenDevices() const { return m_openDevices; }

protected:
    // Event sources of the transport beyond the bus events; null when the type is not offered.
    virtual CEventObj* EventSource(EVENT_TYPE type);
    // Adds the transport's features of the listed devices (selected by DeviceSelector) to the description.
    virtual void DescribeListedDevices(CModuleDescription&) {}
    // Destroys every open device. A transport whose devices need its own resources calls this first in
    // its destructor; the base destructor calls it again (then a no-op).
    void DestroyOpenDevices();

private:
    CTL* m_tl;
    std::unique_ptr<CInterfaceInfo> m_info;
    std::vector<CDevice*> m_openDevices;
    CEventBusEvent m_busEvent;
    // Made on first use; ports may be read from several threads.
    std::mutex m_describing;
    std::unique_ptr<CModuleDescription> m_description;
};

} // namespace GenICam::Client
