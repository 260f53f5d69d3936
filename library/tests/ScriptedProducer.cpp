// ScriptedProducer: a GenTL producer for the library's tests, built from the producer framework. Its
// interfaces and devices come from a script file beside it, and test hooks change them while it runs.
//
// Script: "<producer file>.script", one statement per line:
//   prefix <text>                 device ids are "<text>::<number>"
//   interface <path>              an interface (id "SCRIPTED::<path>")
//   device <path> <number> <vendor> <model> <user name|-> <bus> <speed>
//   fail_interfaces <text>        the interface list can't be read; <text> is the error text
//   fail_open_interface <text>    every interface open fails with <text>
//   port <path> <number> <url> [<file> <hex address>]
//                                 the device's remote port: its URL 0, and memory that holds the file's
//                                 bytes at that address (the rest of the port reads as zeros)
//   elsewhere <path> <number>     the device is open in another process ("Device already open")
#include "GenTL.h"
#include "GenTLCustom.h"
#include "gentl/CBufferInfo.h"
#include "gentl/CDataStream.h"
#include "gentl/CDevice.h"
#include "gentl/CInterface.h"
#include "gentl/CInterfaceInfo.h"
#include "gentl/InfoFillers.h"
#include "gentl/Producer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>

using namespace GenICam::Client;

namespace {

// What an opened device shares with the script and the hooks.
struct DeviceState {
    std::string url;
    std::vector<uint8_t> memory;
    bool visible = true;
    bool elsewhere = false;
    uint32_t writes = 0;
    std::map<uint64_t, uint32_t> streamRegisters[2]; // what the library wrote to each data stream
    std::map<uint64_t, uint32_t> deviceRegisters;    // the device module's registers
};

struct Device {
    uint64_t number = 0;
    std::string vendor, model, user;
    uint32_t bus = 0, speed = 0;
    bool failInfo = false;
    std::shared_ptr<DeviceState> state = std::make_shared<DeviceState>();
};

struct InterfaceScript {
    std::string path;
    std::vector<Device> present; // what the hooks change
};

class ScriptedInterface;

struct State {
    std::mutex lock;
    bool read = false;
    std::string prefix = "Scripted";
    std::vector<InterfaceScript> interfaces;
    std::string failInterfaces;
    std::string failOpenInterface;
    std::vector<ScriptedInterface*> open;
};

State& Script() {
    static State state;
    return state;
}

void ReadScript(State& s) {
    if (s.read) return;
    s.read = true;
    std::ifstream in(GetProducerPath() + ".script");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string verb;
        words >> verb;
        if (verb == "prefix") {
            words >> s.prefix;
        } else if (verb == "interface") {
            InterfaceScript i;
            words >> i.path;
            s.interfaces.push_back(i);
        } else if (verb == "device") {
            std::string path;
            Device d;
            words >> path >> d.number >> d.vendor >> d.model >> d.user >> d.bus >> d.speed;
            if (d.user == "-") d.user.clear();
            for (auto& i : s.interfaces) {
                if (i.path == path) i.present.push_back(d);
            }
        } else if (verb == "port" || verb == "elsewhere") {
            std::string path, url, file, address;
            uint64_t number = 0;
            words >> path >> number;
            if (verb == "port") words >> url >> file >> address;
            for (auto& i : s.interfaces) {
                for (auto& d : i.present) {
                    if (i.path != path || d.number != number) continue;
                    if (verb == "elsewhere") {
                        d.state->elsewhere = true;
                        continue;
                    }
                    d.state->url = url;
                    if (file.empty()) continue;
                    std::ifstream bytes(file, std::ios::binary);
                    std::vector<uint8_t> content((std::istreambuf_iterator<char>(bytes)),
                                                 std::istreambuf_iterator<char>());
                    const size_t at = std::stoull(address, nullptr, 16);
                    d.state->memory.assign(at + content.size() + 1024, 0);
                    std::copy(content.begin(), content.end(), d.state->memory.begin() + at);
                }
            }
        } else if (verb == "fail_interfaces") {
            std::getline(words >> std::ws, s.failInterfaces);
        } else if (verb == "fail_open_interface") {
            std::getline(words >> std::ws, s.failOpenInterface);
        }
    }
}

InterfaceScript* FindScript(State& s, const std::string& path) {
    for (auto& i : s.interfaces) {
        if (i.path == path) return &i;
    }
    return nullptr;
}

// The device's remote port: its memory and its one URL. Accesses outside the memory fail.
class ScriptedPort : public ICommonBase {
public:
    explicit ScriptedPort(std::shared_ptr<DeviceState> state) : m_state(std::move(state)) {}
    void Read(uint64_t address, void* buffer, size_t* size) override {
        std::lock_guard<std::mutex> guard(Script().lock);
        uint8_t* at = Locate(address, *size);
        std::memcpy(buffer, at, *size);
    }
    void Write(uint64_t address, const void* buffer, size_t* size) override {
        std::lock_guard<std::mutex> guard(Script().lock);
        uint8_t* at = Locate(address, *size);
        std::memcpy(at, buffer, *size);
        ++m_state->writes;
    }
    void GetNumURLs(uint32_t* count) override { *count = 1; }
    void GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                    size_t* size) override {
        if (index != 0 || cmd != URL_INFO_URL) throw std::invalid_argument("Invalid URL Info");
        std::lock_guard<std::mutex> guard(Script().lock);
        CopyInfoString(buffer, size, type, m_state->url);
    }
    void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override {
        PortInfoValues values;
        values.module = "Device";
        AnswerPortInfo(values, cmd, type, buffer, size);
    }

private:
    uint8_t* Locate(uint64_t address, size_t size) {
        auto& memory = m_state->memory;
        if (address > memory.size() || size > memory.size() - address)
            throw std::runtime_error("Invalid Address");
        return memory.data() + address;
    }
    std::shared_ptr<DeviceState> m_state;
};

// A data stream with 4-byte module registers that remember what was written.
class ScriptedStream : public CDataStream {
public:
    ScriptedStream(CDevice* device, uint32_t index, const std::string& id, std::shared_ptr<DeviceState> state)
        : CDataStream(device, index, id), m_index(index), m_state(std::move(state)) {}
    // A real transport stops its threads before its stream goes; this one's "driver" is the test's thread,
    // which may still be inside a delivery when the buffer's consumer closes the stream.
    ~ScriptedStream() override {
        std::unique_lock<std::mutex> guard(Script().lock);
        m_closing = true;
        m_idle.wait(guard, [&] { return m_completing == 0; });
    }
    // Called under Script().lock: false once the stream is being closed.
    bool BeginCompleting() {
        if (m_closing) return false;
        ++m_completing;
        return true;
    }
    void EndCompleting() {
        std::lock_guard<std::mutex> guard(Script().lock);
        --m_completing;
        m_idle.notify_all();
    }
    void Read(uint64_t address, void* buffer, size_t* size) override {
        if (*size != 4) throw std::invalid_argument("Invalid register size");
        std::lock_guard<std::mutex> guard(Script().lock);
        auto& registers = m_state->streamRegisters[m_index];
        const auto it = registers.find(address);
        const uint32_t value = it == registers.end() ? 0x1234 : it->second;
        std::memcpy(buffer, &value, 4);
    }
    void Write(uint64_t address, const void* buffer, size_t* size) override {
        if (*size != 4) throw std::invalid_argument("Invalid register size");
        std::lock_guard<std::mutex> guard(Script().lock);
        std::memcpy(&m_state->streamRegisters[m_index][address], buffer, 4);
    }
    void StartAcquisition(ACQ_START_FLAGS, uint64_t) override { SetWaitStop(false); }
    void StopAcquisition(ACQ_STOP_FLAGS) override { SetWaitStop(true); }
    void GetBufferInfo(CBufferInfo* buffer, BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* out,
                       size_t* size) override {
        RequireOwnBuffer(buffer);
        if (!buffer->AnswerCommonInfo(cmd, type, out, size) && type) *type = INFO_DATATYPE_UNKNOWN;
    }
    void CancelPendingRequests() override {
        while (CBufferInfo* pending = OldestWithDriver())
            Finish(pending, 0xC0000120u, 0);
    }
    // Counts the consumers that are in (or have committed to) a wait for the stream's next buffer.
    bool TakeNextNewBuffer(void* buffer, size_t* size, uint64_t timeout) override {
        struct Waiting {
            std::atomic<int>& count;
            explicit Waiting(std::atomic<int>& c) : count(c) { ++count; }
            ~Waiting() { --count; }
        } waiting(m_waiting);
        return CDataStream::TakeNextNewBuffer(buffer, size, timeout);
    }
    int Waiting() const { return m_waiting.load(); }
    // "The driver" fills the oldest queued buffer; false when none is queued.
    bool CompleteNext(uint32_t status, uint32_t bytes) {
        CBufferInfo* next = PopInput();
        if (!next) return false;
        AddToDriver(next);
        Finish(next, status, bytes);
        return true;
    }

private:
    void Finish(CBufferInfo* buffer, uint32_t status, uint32_t bytes) {
        buffer->status = status;
        buffer->bytes = bytes;
        Deliver(buffer, true);
    }
    uint32_t m_index;
    std::shared_ptr<DeviceState> m_state;
    std::atomic<int> m_waiting{0};
    bool m_closing = false; // guarded by Script().lock, as is m_completing
    int m_completing = 0;
    std::condition_variable m_idle;
};

class ScriptedDevice : public CDevice {
public:
    ScriptedDevice(CTL* tl, CInterface* parent, const std::string& id, DEVICE_ACCESS_FLAGS access,
                   Device device)
        : CDevice(tl, parent, id, access), m_device(std::move(device)), m_port(m_device.state) {}
    ~ScriptedDevice() override { DestroyDataStreams(); }

    void GetInfo(DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override {
        const Device& d = m_device;
        switch (static_cast<int>(cmd)) {
        case DEVICE_INFO_ID:
            return CopyInfoString(buffer, size, type, GetID());
        case DEVICE_INFO_VENDOR:
            return CopyInfoString(buffer, size, type, d.vendor);
        case DEVICE_INFO_MODEL:
            return CopyInfoString(buffer, size, type, d.model);
        case DEVICE_INFO_CUSTOM_VISIBLE: {
            std::lock_guard<std::mutex> guard(Script().lock);
            return CopyInfoBool8(buffer, size, type, d.state->visible);
        }
        case DEVICE_INFO_CUSTOM_SPEED:
            return CopyInfoUInt32(buffer, size, type, d.speed);
        case DEVICE_INFO_CUSTOM_BUS_NUMBER:
            return CopyInfoUInt32(buffer, size, type, d.bus);
        case DEVICE_INFO_CUSTOM_SPEC_MAJOR:
            return CopyInfoUInt32(buffer, size, type, 2);
        case DEVICE_INFO_CUSTOM_SPEC_MINOR:
            return CopyInfoUInt32(buffer, size, type, 1);
        case DEVICE_INFO_CUSTOM_DEV_MODE:
            return CopyInfoUInt32(buffer, size, type, 0x80000000u);
        case DEVICE_INFO_CUSTOM_DEV_VERSION:
            return CopyInfoString(buffer, size, type, "Version 1.2");
        case DEVICE_INFO_CUSTOM_VENDOR_INFO:
            return CopyInfoString(buffer, size, type, "Vendor information of a scripted camera");
        case DEVICE_INFO_CUSTOM_SERIAL_NUMBER:
            return CopyInfoString(buffer, size, type, "SN" + std::to_string(d.number));
        case DEVICE_INFO_CUSTOM_USER_NAME:
            return CopyInfoString(buffer, size, type, d.user);
        case DEVICE_INFO_CUSTOM_FAMILY_NAME:
            return CopyInfoString(buffer, size, type, "Family");
        case DEVICE_INFO_CUSTOM_CAPABILITY:
            return CopyInfoUInt64(buffer, size, type, 0x0123456789ABCDEFull);
        default:
            throw std::invalid_argument(FormatString("Invalid DeviceInfoId %d", cmd));
        }
    }
    ICommonBase* GetPort() override { return &m_port; }
    // The device module's 4-byte registers: what was written, or what a hook set.
    void Read(uint64_t address, void* buffer, size_t* size) override {
        if (*size != 4) throw std::invalid_argument("Invalid register size");
        std::lock_guard<std::mutex> guard(Script().lock);
        const uint32_t value = m_device.state->deviceRegisters[address];
        std::memcpy(buffer, &value, 4);
    }
    void Write(uint64_t address, const void* buffer, size_t* size) override {
        if (*size != 4) throw std::invalid_argument("Invalid register size");
        std::lock_guard<std::mutex> guard(Script().lock);
        std::memcpy(&m_device.state->deviceRegisters[address], buffer, 4);
    }

protected:
    CDataStream* CreateDataStream(uint32_t index, const std::string& id) override {
        return new ScriptedStream(this, index, id, m_device.state);
    }

private:
    Device m_device;
    ScriptedPort m_port;
};

class ScriptedInterface : public CInterface {
public:
    ScriptedInterface(CTL* tl, std::unique_ptr<CInterfaceInfo> info) : CInterface(tl, std::move(info)) {
        std::lock_guard<std::mutex> guard(Script().lock);
        m_path = GetInterfaceInfo().GetDevicePath();
        if (InterfaceScript* script = FindScript(Script(), m_path)) m_listed = script->present;
        Script().open.push_back(this);
    }
    ~ScriptedInterface() override {
        DestroyOpenDevices();
        std::lock_guard<std::mutex> guard(Script().lock);
        auto& open = Script().open;
        open.erase(std::remove(open.begin(), open.end(), this), open.end());
    }

    CDevice* OpenDevice(const std::string& id, DEVICE_ACCESS_FLAGS access) override {
        Device found;
        {
            std::lock_guard<std::mutex> guard(Script().lock);
            const Device* device = nullptr;
            for (const Device& d : m_listed) {
                if (Id(d) == id) device = &d;
            }
            if (!device) throw std::runtime_error("Device not available");
            if (device->state->elsewhere) throw std::runtime_error("Device already open");
            found = *device;
        }
        for (CDevice* open : GetOpenDevices()) {
            if (open->GetID() == id) throw std::runtime_error("Device already open");
        }
        auto* device = new ScriptedDevice(GetParent(), this, id, access, found);
        AddOpenDevice(device);
        return device;
    }
    uint32_t GetNumDevices() override {
        std::lock_guard<std::mutex> guard(Script().lock);
        return static_cast<uint32_t>(m_listed.size());
    }
    std::string GetDeviceID(uint32_t index) override {
        std::lock_guard<std::mutex> guard(Script().lock);
        if (index >= m_listed.size())
            throw std::invalid_argument(FormatString("Invalid Device Index %u", index));
        return Id(m_listed[index]);
    }
    void UpdateDeviceList(bool8_t* changed, uint64_t) override {
        std::lock_guard<std::mutex> guard(Script().lock);
        ++m_updates;
        std::vector<Device> present;
        if (InterfaceScript* script = FindScript(Script(), m_path)) present = script->present;
        bool differs = present.size() != m_listed.size();
        for (size_t i = 0; !differs && i < present.size(); ++i)
            differs = present[i].number != m_listed[i].number;
        m_listed = present;
        if (changed) *changed = differs ? 1 : 0;
    }
    void GetDeviceInfo(const std::string& id, DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                       size_t* size) override {
        std::lock_guard<std::mutex> guard(Script().lock);
        const Device* device = nullptr;
        for (const Device& d : m_listed) {
            if (Id(d) == id) device = &d;
        }
        if (!device) throw std::runtime_error("Unable to find device " + id);
        if (device->failInfo) throw std::runtime_error("Info Read Error");
        switch (cmd) {
        case DEVICE_INFO_ID:
            return CopyInfoString(buffer, size, type, id);
        case DEVICE_INFO_VENDOR:
            return CopyInfoString(buffer, size, type, device->vendor);
        case DEVICE_INFO_MODEL:
            return CopyInfoString(buffer, size, type, device->model);
        case DEVICE_INFO_CUSTOM_USER_NAME:
            return CopyInfoString(buffer, size, type, device->user);
        case DEVICE_INFO_CUSTOM_BUS_NUMBER:
            return CopyInfoUInt32(buffer, size, type, device->bus);
        case DEVICE_INFO_CUSTOM_SPEED:
            return CopyInfoUInt32(buffer, size, type, device->speed);
        default:
            throw std::invalid_argument(FormatString("Invalid DeviceInfoId %d", cmd));
        }
    }

    const std::string& Path() const { return m_path; }
    uint32_t Updates() const { return m_updates; }

private:
    static std::string Id(const Device& d) { return Script().prefix + "::" + std::to_string(d.number); }

    std::string m_path;
    std::vector<Device> m_listed;
    uint32_t m_updates = 0;
};

class ScriptedTransport : public CTransport {
public:
    std::string VendorName() const override { return "Test Vendor"; }
    std::string ModelName() const override { return "ScriptedGenTL"; }
    std::string TLType() const override { return "Custom"; }
    std::string DisplayName() const override { return "Scripted GenTL"; }
    std::vector<std::unique_ptr<CInterfaceInfo>> BuildInterfaceList() override {
        std::lock_guard<std::mutex> guard(Script().lock);
        ReadScript(Script());
        if (!Script().failInterfaces.empty()) throw std::runtime_error(Script().failInterfaces);
        std::vector<std::unique_ptr<CInterfaceInfo>> list;
        for (const auto& i : Script().interfaces)
            list.push_back(std::make_unique<CInterfaceInfo>("Scripted", i.path));
        return list;
    }
    CInterface* CreateInterface(std::unique_ptr<CInterfaceInfo> info, CTL* tl) override {
        {
            std::lock_guard<std::mutex> guard(Script().lock);
            if (!Script().failOpenInterface.empty()) throw std::runtime_error(Script().failOpenInterface);
        }
        return new ScriptedInterface(tl, std::move(info));
    }
};

ScriptedInterface* OpenInterface(const char* path) {
    for (ScriptedInterface* i : Script().open) {
        if (path && i->Path() == path) return i;
    }
    return nullptr;
}

} // namespace

CTransport& GenICam::Client::GetTransport() {
    static ScriptedTransport transport;
    return transport;
}

// Test hooks. Each returns 0, or -1 when the interface is not open (or not scripted).
extern "C" {

GC_API_EXPORT int ScriptedGenTL_PushBusEvent(const char* path, uint32_t code) {
    ScriptedInterface* i = nullptr;
    {
        std::lock_guard<std::mutex> guard(Script().lock);
        i = OpenInterface(path);
        if (!i) return -1;
        // Pushed under the script lock, so the interface can't go meanwhile.
        i->GetBusEvent().Push(std::make_unique<BusEventEventEntry>(code));
    }
    return 0;
}

GC_API_EXPORT int ScriptedGenTL_AddDevice(const char* path, uint64_t number, const char* vendor,
                                          const char* model, const char* user, uint32_t bus, uint32_t speed) {
    std::lock_guard<std::mutex> guard(Script().lock);
    InterfaceScript* script = path ? FindScript(Script(), path) : nullptr;
    if (!script) return -1;
    Device d;
    d.number = number;
    d.vendor = vendor ? vendor : "";
    d.model = model ? model : "";
    d.user = user ? user : "";
    d.bus = bus;
    d.speed = speed;
    script->present.push_back(d);
    return 0;
}

GC_API_EXPORT int ScriptedGenTL_SetInfoFailure(const char* path, uint64_t number, int fail) {
    std::lock_guard<std::mutex> guard(Script().lock);
    InterfaceScript* script = path ? FindScript(Script(), path) : nullptr;
    if (!script) return -1;
    for (Device& d : script->present) {
        if (d.number == number) d.failInfo = fail != 0;
    }
    return 0;
}

// Takes the interface out of the list the producer reports from now on.
GC_API_EXPORT int ScriptedGenTL_RemoveInterface(const char* path) {
    std::lock_guard<std::mutex> guard(Script().lock);
    auto& list = Script().interfaces;
    const auto before = list.size();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const InterfaceScript& i) { return path && i.path == path; }),
               list.end());
    return list.size() < before ? 0 : -1;
}

// Whether the device answers as reachable.
GC_API_EXPORT int ScriptedGenTL_SetVisible(const char* path, uint64_t number, int visible) {
    std::lock_guard<std::mutex> guard(Script().lock);
    InterfaceScript* script = path ? FindScript(Script(), path) : nullptr;
    if (!script) return -1;
    for (Device& d : script->present) {
        if (d.number == number) d.state->visible = visible != 0;
    }
    return 0;
}

// How many port writes reached the device, or -1.
GC_API_EXPORT int ScriptedGenTL_PortWrites(const char* path, uint64_t number) {
    std::lock_guard<std::mutex> guard(Script().lock);
    InterfaceScript* script = path ? FindScript(Script(), path) : nullptr;
    if (!script) return -1;
    for (Device& d : script->present) {
        if (d.number == number) return static_cast<int>(d.state->writes);
    }
    return -1;
}

// The value the library last wrote to a data stream's register, or -1.
GC_API_EXPORT int64_t ScriptedGenTL_StreamRegister(const char* path, uint64_t number, uint32_t stream,
                                                   uint64_t address) {
    std::lock_guard<std::mutex> guard(Script().lock);
    InterfaceScript* script = path ? FindScript(Script(), path) : nullptr;
    if (!script || stream > 1) return -1;
    for (Device& d : script->present) {
        if (d.number != number) continue;
        const auto& registers = d.state->streamRegisters[stream];
        const auto it = registers.find(address);
        return it == registers.end() ? -1 : it->second;
    }
    return -1;
}

// A device-module register: set to `value` when it is not negative; answers the value it holds, or -1.
GC_API_EXPORT int64_t ScriptedGenTL_DeviceRegister(const char* path, uint64_t number, uint64_t address,
                                                   int64_t value) {
    std::lock_guard<std::mutex> guard(Script().lock);
    InterfaceScript* script = path ? FindScript(Script(), path) : nullptr;
    if (!script) return -1;
    for (Device& d : script->present) {
        if (d.number != number) continue;
        if (value >= 0) d.state->deviceRegisters[address] = static_cast<uint32_t>(value);
        return d.state->deviceRegisters[address];
    }
    return -1;
}

// Completes the oldest buffer queued on a stream (0 images, 1 frame starts) of an open device: 0, or -1.
GC_API_EXPORT int ScriptedGenTL_CompleteOn(const char* path, uint64_t number, uint32_t streamIndex,
                                           uint32_t status, uint32_t bytes) {
    ScriptedStream* stream = nullptr;
    {
        std::lock_guard<std::mutex> guard(Script().lock);
        ScriptedInterface* i = OpenInterface(path);
        if (!i) return -1;
        for (CDevice* device : i->GetOpenDevices()) {
            if (device->GetID() == Script().prefix + "::" + std::to_string(number))
                stream =
                    dynamic_cast<ScriptedStream*>(device->OpenDataStream(streamIndex == 0 ? "DS0" : "DS1"));
        }
        if (!stream || !stream->BeginCompleting()) return -1;
    }
    const bool completed = stream->CompleteNext(status, bytes);
    stream->EndCompleting();
    return completed ? 0 : -1;
}

// How many consumers wait for the next buffer of a stream of an open device, or -1.
GC_API_EXPORT int ScriptedGenTL_Waiting(const char* path, uint64_t number, uint32_t streamIndex) {
    std::lock_guard<std::mutex> guard(Script().lock);
    ScriptedInterface* i = OpenInterface(path);
    if (!i) return -1;
    for (CDevice* device : i->GetOpenDevices()) {
        if (device->GetID() != Script().prefix + "::" + std::to_string(number)) continue;
        auto* stream =
            dynamic_cast<ScriptedStream*>(device->OpenDataStream(streamIndex == 0 ? "DS0" : "DS1"));
        return stream ? stream->Waiting() : -1;
    }
    return -1;
}

// How many buffers are announced on a stream of an open device, or -1.
GC_API_EXPORT int ScriptedGenTL_Announced(const char* path, uint64_t number, uint32_t streamIndex) {
    std::lock_guard<std::mutex> guard(Script().lock);
    ScriptedInterface* i = OpenInterface(path);
    if (!i) return -1;
    for (CDevice* device : i->GetOpenDevices()) {
        if (device->GetID() != Script().prefix + "::" + std::to_string(number)) continue;
        CDataStream* stream = device->OpenDataStream(streamIndex == 0 ? "DS0" : "DS1");
        if (!stream) return -1;
        size_t announced = 0;
        size_t size = sizeof announced;
        INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
        stream->GetInfo(STREAM_INFO_NUM_ANNOUNCED, &type, &announced, &size);
        return static_cast<int>(announced);
    }
    return -1;
}

// How often the library refreshed that interface's device list, or -1.
GC_API_EXPORT int ScriptedGenTL_UpdateCount(const char* path) {
    std::lock_guard<std::mutex> guard(Script().lock);
    ScriptedInterface* i = OpenInterface(path);
    return i ? static_cast<int>(i->Updates()) : -1;
}

} // extern "C"
