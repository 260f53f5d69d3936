// A producer built from the framework over a fake transport, so tests drive the real exports.
#include "GenTL.h"
#include "GenTLCustom.h"
#include "gentl/CBufferInfo.h"
#include "gentl/CDataStream.h"
#include "gentl/CDevice.h"
#include "gentl/CInterface.h"
#include "gentl/CInterfaceInfo.h"
#include "gentl/Exceptions.h"
#include "gentl/HandleRegistry.h"
#include "gentl/InfoFillers.h"
#include "gentl/Producer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

using namespace GenICam::Client;

namespace {

// Addresses at which every fake module port fails, one per kind of exception the exports map.
constexpr uint64_t kFailingAddress = 0xBAD;
constexpr uint64_t kThrowInvalidArgument = 0xE1;
constexpr uint64_t kThrowOutOfRange = 0xE2;
constexpr uint64_t kThrowLogicError = 0xE3;
constexpr uint64_t kThrowTimeout = 0xE4;
constexpr uint64_t kThrowCastError = 0xE5;
constexpr uint64_t kThrowForeign = 0xE6;
uint32_t g_interfaceCount = 1;

class FakePort : public ICommonBase {
public:
    void Read(uint64_t address, void* buffer, size_t* size) override {
        switch (address) {
        case kFailingAddress:
            throw std::runtime_error("Error I/O");
        case kThrowInvalidArgument:
            throw std::invalid_argument("bad argument");
        case kThrowOutOfRange:
            throw std::out_of_range("out of range");
        case kThrowLogicError:
            throw std::logic_error("logic");
        case kThrowTimeout:
            throw timeout_error("waited too long");
        case kThrowCastError:
            throw dynamic_cast_error("wrong class");
        case kThrowForeign:
            throw 42;
        default:
            break;
        }
        std::memset(buffer, 0xAB, *size);
    }
    void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override {
        PortInfoValues values;
        values.module = "Device";
        AnswerPortInfo(values, cmd, type, buffer, size);
    }
};

// The stream pools are the framework's; "the driver" is the test, through the hooks below.
class FakeStream : public CDataStream {
public:
    using CDataStream::CDataStream;
    void StartAcquisition(ACQ_START_FLAGS, uint64_t) override { SetWaitStop(false); }
    void StopAcquisition(ACQ_STOP_FLAGS) override { SetWaitStop(true); }
    void GetBufferInfo(CBufferInfo* buffer, BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* out,
                       size_t* size) override {
        RequireOwnBuffer(buffer);
        if (!buffer->AnswerCommonInfo(cmd, type, out, size) && type) *type = INFO_DATATYPE_UNKNOWN;
    }
    void CancelPendingRequests() override {
        while (CBufferInfo* pending = OldestWithDriver())
            Complete(pending, 0xC0000120u);
    }
    // Hands up to `count` input buffers to the driver; answers how many went.
    uint32_t Transfer(uint32_t count) {
        uint32_t done = 0;
        for (; done < count; ++done) {
            CBufferInfo* next = PopInput();
            if (!next) break;
            AddToDriver(next);
        }
        return done;
    }
    bool CompleteOldest(uint32_t status) {
        CBufferInfo* oldest = OldestWithDriver();
        if (!oldest) return false;
        Complete(oldest, status);
        return true;
    }

private:
    void Complete(CBufferInfo* buffer, uint32_t status) {
        buffer->status = status;
        buffer->bytes = status == 0 ? static_cast<uint32_t>(buffer->GetSize()) : 0;
        Deliver(buffer, true);
    }
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

GC_API_EXPORT void FakeGenTL_SetInterfaceCount(uint32_t count) {
    g_interfaceCount = count;
}

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

GC_API_EXPORT int FakeGenTL_Transfer(DS_HANDLE stream, uint32_t count) {
    auto* s = Live<FakeStream>(stream);
    return s ? static_cast<int>(s->Transfer(count)) : -1;
}

GC_API_EXPORT int FakeGenTL_Complete(DS_HANDLE stream, uint32_t status) {
    auto* s = Live<FakeStream>(stream);
    if (!s) return -1;
    return s->CompleteOldest(status) ? 0 : 1;
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
