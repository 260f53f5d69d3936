// A producer built from the framework over a fake transport, so tests drive the real exports.
#include "GenTL.h"
#include "GenTLCustom.h"
#include "gentl/CBufferInfo.h"
#include "gentl/CDataStream.h"
#include "gentl/CDevice.h"
#include "gentl/CInterface.h"
#include "gentl/CInterfaceInfo.h"
#include "gentl/HandleRegistry.h"
#include "gentl/InfoFillers.h"
#include "gentl/Producer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <stdexcept>

using namespace GenICam::Client;

namespace {

// Address at which every fake module port fails, to exercise error paths of the port exports.
constexpr uint64_t kFailingAddress = 0xBAD;
uint32_t g_interfaceCount = 1;

class FakePort : public ICommonBase {
public:
    void Read(uint64_t address, void* buffer, size_t* size) override {
        if (address == kFailingAddress) throw std::runtime_error("Error I/O");
        std::memset(buffer, 0xAB, *size);
    }
    void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override {
        PortInfoValues values;
        values.module = "Device";
        AnswerPortInfo(values, cmd, type, buffer, size);
    }
};

class FakeStream : public CDataStream {
public:
    using CDataStream::CDataStream;
    ~FakeStream() override {
        for (CBufferInfo* b : m_announced) delete b;
    }
    CBufferInfo* AnnounceBuffer(void* buffer, size_t size, void* user) override {
        m_announced.push_back(new CBufferInfo(buffer, size, user));
        return m_announced.back();
    }
    CBufferInfo* AllocAndAnnounceBuffer(size_t size, void* user) override { return AnnounceBuffer(nullptr, size, user); }
    void RevokeBuffer(CBufferInfo* buffer, void** memory, void** user) override {
        auto it = std::find(m_announced.begin(), m_announced.end(), buffer);
        if (it == m_announced.end()) throw std::invalid_argument("Invalid Buffer Handle");
        if (buffer->queued || buffer->awaitingDelivery) throw std::runtime_error("Buffer queued");
        if (memory) *memory = buffer->OwnsMemory() ? nullptr : buffer->GetBase();
        if (user) *user = buffer->GetUserPointer();
        m_announced.erase(it);
        delete buffer;
    }
    // A queued buffer completes at once: it is delivered with status 0 and all its bytes.
    void QueueBuffer(CBufferInfo* buffer) override {
        std::lock_guard<std::mutex> guard(m_lock);
        buffer->awaitingDelivery = true;
        buffer->bytes = static_cast<uint32_t>(buffer->GetSize());
        m_output.push_back(buffer);
        m_wake.notify_one();
    }
    void FlushQueue(ACQ_QUEUE_TYPE operation) override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (operation == ACQ_QUEUE_OUTPUT_DISCARD) {
            for (CBufferInfo* b : m_output) b->awaitingDelivery = false;
            m_output.clear();
        }
    }
    void StartAcquisition(ACQ_START_FLAGS, uint64_t) override {}
    void StopAcquisition(ACQ_STOP_FLAGS) override {}
    void GetInfo(STREAM_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override {
        std::lock_guard<std::mutex> guard(m_lock);
        switch (cmd) {
        case STREAM_INFO_NUM_ANNOUNCED: return CopyInfoSizeT(buffer, size, type, m_announced.size());
        case STREAM_INFO_NUM_AWAIT_DELIVERY: return CopyInfoSizeT(buffer, size, type, m_output.size());
        default: throw std::runtime_error(FormatString("Invalid stream info command %d", cmd));
        }
    }
    void GetBufferInfo(CBufferInfo* buffer, BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* out, size_t* size) override {
        if (!buffer->AnswerCommonInfo(cmd, type, out, size) && type) *type = INFO_DATATYPE_UNKNOWN;
    }
    CBufferInfo* GetBufferID(uint32_t index) override {
        if (index >= m_announced.size()) throw std::runtime_error(FormatString("Invalid Buffer Index %d", index));
        return m_announced[index];
    }
    bool TakeNextNewBuffer(void* buffer, size_t* size, uint64_t timeout) override {
        std::unique_lock<std::mutex> held(m_lock);
        if (!m_wake.wait_for(held, std::chrono::milliseconds(static_cast<uint32_t>(timeout)),
                             [this] { return !m_output.empty(); }))
            return false;
        CBufferInfo* next = m_output.front();
        m_output.pop_front();
        next->awaitingDelivery = false;
        next->newData = true;
        CopyNewBufferEventData(*next, buffer, size);
        return true;
    }
    void CancelPendingRequests() override {}

private:
    std::vector<CBufferInfo*> m_announced;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<CBufferInfo*> m_output;
};

class FakeDevice : public CDevice {
public:
    using CDevice::CDevice;
    void GetInfo(DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override {
        if (cmd == DEVICE_INFO_ID) return CopyInfoString(buffer, size, type, GetID());
        throw std::invalid_argument(FormatString("Invalid DeviceInfoId %d", cmd));
    }
    ICommonBase* GetPort() override { return &m_port; }
    CEventQueue<EventDataEntry>& DeviceEvents() { return m_events; }

protected:
    CDataStream* CreateDataStream(uint32_t index, const std::string& id) override {
        return new FakeStream(this, index, id);
    }
    CEventObj* EventSource(EVENT_TYPE type) override {
        return type == EVENT_CUSTOM_DEVICE_EVENT ? &m_events : nullptr;
    }

private:
    FakePort m_port;
    CEventQueue<EventDataEntry> m_events;
};

class FakeInterface : public CInterface {
public:
    using CInterface::CInterface;
    ~FakeInterface() override { DestroyOpenDevices(); }

    void Read(uint64_t address, void* buffer, size_t* size) override { m_port.Read(address, buffer, size); }
    CDevice* OpenDevice(const std::string& id, DEVICE_ACCESS_FLAGS access) override {
        for (CDevice* open : GetOpenDevices()) {
            if (open->GetID() == id) throw std::runtime_error("Device already open");
        }
        if (id != m_ids[0] && id != m_ids[1]) throw std::runtime_error("Device not available");
        auto* device = new FakeDevice(GetParent(), this, id, access);
        AddOpenDevice(device);
        return device;
    }
    uint32_t GetNumDevices() override { return 2; }
    std::string GetDeviceID(uint32_t index) override {
        if (index >= 2) throw std::invalid_argument(FormatString(" Invalid Device Index %d", index));
        return m_ids[index];
    }
    void UpdateDeviceList(bool8_t* changed, uint64_t) override {
        if (changed) *changed = 0;
    }
    void GetDeviceInfo(const std::string& id, DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                       size_t* size) override {
        if (!size) throw std::invalid_argument("Invalid Pointer");
        if (id != m_ids[0] && id != m_ids[1]) throw std::runtime_error("Unable to find device " + id);
        if (cmd == DEVICE_INFO_ID) return CopyInfoString(buffer, size, type, id);
        throw std::invalid_argument(FormatString("Invalid DeviceInfoId %d", cmd));
    }
    CEventQueue<AckDataEntry>& Acks() { return m_acks; }

protected:
    CEventObj* EventSource(EVENT_TYPE type) override {
        return type == EVENT_CUSTOM_ACTION_ACK ? &m_acks : nullptr;
    }

private:
    const std::string m_ids[2] = {"Fake::1", "Fake::2"};
    FakePort m_port;
    CEventQueue<AckDataEntry> m_acks;
};

class FakeTransport : public CTransport {
public:
    std::string VendorName() const override { return "Fake Vendor"; }
    std::string ModelName() const override { return "FakeGenTL"; }
    std::string TLType() const override { return "Custom"; }
    std::string DisplayName() const override { return "GenTL Fake"; }
    std::vector<std::unique_ptr<CInterfaceInfo>> BuildInterfaceList() override {
        std::vector<std::unique_ptr<CInterfaceInfo>> list;
        for (uint32_t i = 0; i < g_interfaceCount; ++i)
            list.push_back(std::make_unique<CInterfaceInfo>("Fake", "fake" + std::to_string(i)));
        return list;
    }
    CInterface* CreateInterface(std::unique_ptr<CInterfaceInfo> info, CTL* tl) override {
        return new FakeInterface(tl, std::move(info));
    }
};

template <class T> T* Live(void* handle) {
    ICommonBase* base = HandleRegistry::FindModule(handle);
    return base ? dynamic_cast<T*>(base) : nullptr;
}

} // namespace

CTransport& GenICam::Client::GetTransport() {
    static FakeTransport transport;
    return transport;
}

// Test hooks: feed the event sources as a transport's threads would. Each returns 0, or -1 for a handle
// that is not a live module of the right kind.
extern "C" {

GC_API_EXPORT void FakeGenTL_SetInterfaceCount(uint32_t count) { g_interfaceCount = count; }

GC_API_EXPORT int FakeGenTL_PushBusEvent(IF_HANDLE iface, uint32_t code) {
    auto* i = Live<FakeInterface>(iface);
    if (!i) return -1;
    i->GetBusEvent().Push(std::make_unique<BusEventEventEntry>(code));
    return 0;
}

GC_API_EXPORT int FakeGenTL_PushAck(IF_HANDLE iface, uint64_t mac) {
    auto* i = Live<FakeInterface>(iface);
    if (!i) return -1;
    i->Acks().Push(std::make_unique<AckDataEntry>(mac));
    return 0;
}

GC_API_EXPORT int FakeGenTL_PushDeviceEvent(DEV_HANDLE device, const void* data, size_t size) {
    auto* d = Live<FakeDevice>(device);
    if (!d) return -1;
    d->DeviceEvents().Push(std::make_unique<EventDataEntry>(data, size));
    return 0;
}

GC_API_EXPORT int FakeGenTL_PushError(void* module, const char* text) {
    if (auto* d = Live<CDevice>(module)) {
        d->GetErrorEvent().Push(std::make_unique<ErrorEventEntry>(text));
        return 0;
    }
    if (auto* s = Live<CDataStream>(module)) {
        s->GetErrorEvent().Push(std::make_unique<ErrorEventEntry>(text));
        return 0;
    }
    return -1;
}

} // extern "C"
