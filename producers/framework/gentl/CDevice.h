// The device module behind a DEV_HANDLE: what every transport's device shares.
#pragma once

#include "gentl/CEventQueue.h"
#include "gentl/CModuleDescription.h"
#include "gentl/ICommonBase.h"

#include <array>
#include <memory>
#include <mutex>
#include <string>

namespace GenICam::Client {

class CTL;
class CInterface;
class CDataStream;

// An opened device. It owns its error-event source and its two data streams ("DS0", "DS1"):
// destroying the device destroys them, and tells its interface to forget the device. A transport
// derives from it and supplies the device info, the remote device port, its module registers and
// the data streams themselves.
class CDevice : public ICommonBase, public IDescribedModule {
public:
    static constexpr uint32_t kNumDataStreams = 2;

    CDevice(CTL* tl, CInterface* parent, std::string id, DEVICE_ACCESS_FLAGS access);
    ~CDevice() override;

    // EVENT_ERROR selects the error source, other types what EventSource() gives (the transport's
    // device events); none throws runtime_error "Event ID <type> not implemented".
    void RegisterEvent(EVENT_TYPE type, EVENT_HANDLE* event) override;
    void UnregisterEvent(EVENT_TYPE type) override;
    // The device module's own port: ID "DEV::" and the id, MODULE "Device", PORTNAME "DevicePort",
    // little-endian, readable and writable.
    void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;
    // The module's description (TLVendorName, ...): one URL, "Local:" and the registers of its port.
    CModuleDescription& Description() override;
    void GetNumURLs(uint32_t* count) override { *count = 1; }
    void GetURL(char* text, size_t* size) override;
    void GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;

    // The transport's part.
    virtual void GetInfo(DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) = 0;
    // The remote device port (PORT_HANDLE of DevGetPort), owned by the device.
    virtual ICommonBase* GetPort() = 0;

    uint32_t GetNumDataStreams() const { return kNumDataStreams; }
    // "DS" and the index; an index past the streams throws invalid_argument "Invalid Stream Index %d".
    std::string GetDataStreamID(uint32_t index) const;
    // The stream already open under `id`, or a new one. Only "DS0" and "DS1" name a stream.
    CDataStream* OpenDataStream(const std::string& id);
    // Called by a stream's destructor.
    void ForgetDataStream(CDataStream* stream);

    const std::string& GetID() const { return m_id; }
    DEVICE_ACCESS_FLAGS GetAccess() const { return m_access; }
    CInterface* GetParent() const { return m_parent; }
    CTL* GetSystem() const { return m_tl; }
    CEventError& GetErrorEvent() { return m_errorEvent; }

protected:
    virtual CDataStream* CreateDataStream(uint32_t index, const std::string& id) = 0;
    virtual CEventObj* EventSource(EVENT_TYPE type);
    // Adds the transport's own features of the device to its description.
    virtual void DescribeDevice(CModuleDescription&) {}
    // Destroys the open streams. A transport whose streams need its own resources calls this first in
    // its destructor; the base destructor calls it again (then a no-op).
    void DestroyDataStreams();

private:
    CTL* m_tl;
    CInterface* m_parent;
    std::string m_id;
    DEVICE_ACCESS_FLAGS m_access;
    std::array<CDataStream*, kNumDataStreams> m_streams{};
    CEventError m_errorEvent;
    // Made on first use; ports may be read from several threads.
    std::mutex m_describing;
    std::unique_ptr<CModuleDescription> m_description;
};

} // namespace GenICam::Client
