// A stand-in for the USB3 Vision service: camera devices under a private root with scripted bootstrap
// memory, answering the service's device-control codes, and the requests it received.
#include "FakeUsbService.h"

#include "devio/DeviceName.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace qorcam::testing {

using namespace qorcam::usbdrv;
using devio::STATUS_SUCCESS;

namespace {

template <class T> T At(std::span<const uint8_t> bytes, size_t offset) {
    T value{};
    if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

} // namespace

FakeUsbCamera::FakeUsbCamera() {
    Put32(0x0000, 0x00010002); // GenCP 1.2
    PutText(0x0004, "Maker");
    PutText(0x0044, "Model");
    PutText(0x0084, "Family");
    PutText(0x00C4, "1.0");
    PutText(0x0104, "Info");
    PutText(0x0144, "12345");
    PutText(0x0184, "left");
    Put64(0x01C4, 0x0000000000000F0FULL);
    Put32(0x01CC, 250);
    Put64(0x01D0, kManifest);
    Put64(0x01D8, kSbrm);
    Put32(kSbrm + 0x14, 1024);
    Put32(kSbrm + 0x18, 1024);
    Put64(kSbrm + 0x20, kSirm);
    Put64(kSbrm + 0x2C, kEirm);
    Put32(kEirm + 4, 256);
    Put64(kManifest, 1);
    SetManifestEntry(0, 0x01020003, 0, 0x8000, 0x1234);
}

void FakeUsbCamera::Put32(uint64_t address, uint32_t value) {
    std::memcpy(memory.data() + address, &value, 4);
}
void FakeUsbCamera::Put64(uint64_t address, uint64_t value) {
    std::memcpy(memory.data() + address, &value, 8);
}
void FakeUsbCamera::PutText(uint64_t address, const std::string& text) {
    std::memset(memory.data() + address, 0, 64);
    std::memcpy(memory.data() + address, text.data(), std::min<size_t>(text.size(), 64));
}
uint32_t FakeUsbCamera::Get32(uint64_t address) const {
    uint32_t value;
    std::memcpy(&value, memory.data() + address, 4);
    return value;
}
void FakeUsbCamera::SetManifestEntry(uint32_t index, uint32_t fileVersion, uint32_t fileFormat,
                                     uint64_t address, uint64_t size) {
    const uint64_t entry = kManifest + 8 + index * 64;
    Put32(entry, fileVersion);
    Put32(entry + 4, fileFormat);
    Put64(entry + 8, address);
    Put64(entry + 16, size);
}

struct FakeUsbService::Device {
    std::string name;
    FakeUsbCamera camera;
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> writes;
    std::vector<std::pair<uint64_t, uint16_t>> reads;
    devio::RequestQueue waits; // registrations, events, stream notices and reads
    std::unique_ptr<devio::DeviceServer> server;
};

FakeUsbCamera& FakeUsbService::Camera(const std::string& name) {
    return m_devices.at(name)->camera;
}

FakeUsbService::FakeUsbService() {
    std::string pattern = (std::filesystem::temp_directory_path() / "usb-producer-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    m_root = pattern;
    setenv("QORCAM_ROOT", m_root.c_str(), 1);
}

FakeUsbService::~FakeUsbService() {
    std::vector<std::string> names;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto& [name, device] : m_devices)
            names.push_back(name);
    }
    for (auto& name : names)
        Unplug(name);
    unsetenv("QORCAM_ROOT");
    std::error_code ignored;
    if (!m_root.empty()) std::filesystem::remove_all(m_root, ignored);
}

bool FakeUsbService::Plug(const std::string& name, const FakeUsbCamera& camera) {
    auto device = std::make_unique<Device>();
    device->name = name;
    device->camera = camera;
    Device* raw = device.get();
    device->server =
        std::make_unique<devio::DeviceServer>([this, raw](const devio::RequestPtr& r) { Dispatch(*raw, r); });
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_devices[name] = std::move(device);
    }
    const auto path = devio::DeviceInterfaceDirectory(kUsbDeviceInterfaceClass) / name;
    return raw->server->Start(path) == STATUS_SUCCESS;
}

void FakeUsbService::Unplug(const std::string& name) {
    std::unique_ptr<Device> device;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_devices.find(name);
        if (it == m_devices.end()) return;
        device = std::move(it->second);
        m_devices.erase(it);
    }
    // Like a released camera: whatever waits ends as not connected before the device goes.
    for (auto& r : device->waits.TakeAll())
        r->Complete(devio::STATUS_DEVICE_NOT_CONNECTED, 0);
    device->server->Stop();
}

std::vector<FakeUsbService::Logged> FakeUsbService::Requests(uint32_t code) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<Logged> found;
    for (auto& entry : m_log)
        if (entry.code == code) found.push_back(entry);
    return found;
}

std::vector<std::pair<uint64_t, std::vector<uint8_t>>> FakeUsbService::Writes(const std::string& name) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_devices.at(name)->writes;
}

std::vector<std::pair<uint64_t, uint16_t>> FakeUsbService::Reads(const std::string& name) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_devices.at(name)->reads;
}

size_t FakeUsbService::Pending(const std::string& name, uint32_t code) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_devices.find(name);
    if (it == m_devices.end()) return 0;
    // Counted by taking and re-queueing nothing: the queue has no count by code, so match and put back.
    size_t count = 0;
    for (auto& r : it->second->waits.TakeAll([&](const devio::Request& r) {
             if (r.Code() == code) ++count;
             return false;
         }))
        (void)r;
    return count;
}

bool FakeUsbService::WaitPending(const std::string& name, uint32_t code, size_t count, int ms) {
    for (int waited = 0; waited < ms; waited += 5) {
        if (Pending(name, code) >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool FakeUsbService::CompletePending(const std::string& name, uint32_t code, uint32_t status,
                                     const std::function<uint32_t(std::span<uint8_t>)>& fill,
                                     int64_t reported) {
    devio::RequestPtr request;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_devices.find(name);
        if (it == m_devices.end()) return false;
        request = it->second->waits.TakeIf([&](const devio::Request& r) { return r.Code() == code; });
    }
    if (!request) return false;
    const uint32_t bytes = fill ? fill(request->Output()) : 0;
    request->Complete(status, reported >= 0 ? static_cast<uint64_t>(reported) : bytes, bytes);
    return true;
}

void FakeUsbService::Dispatch(Device& device, const devio::RequestPtr& request) {
    std::unique_lock<std::mutex> held(m_lock);
    auto in = request->Input();
    auto out = request->Output();
    const uint32_t pid = At<uint32_t>(in, 0);
    m_log.push_back({device.name, request->Code(), {in.begin(), in.end()}});
    FakeUsbCamera& camera = device.camera;
    if (request->Kind() == devio::RequestKind::Read) {
        held.unlock();
        device.waits.Pend(request);
        return;
    }
    switch (request->Code()) {
    case IOCTL_USB_GetVersion: {
        const UsbVersionAnswer answer{version, 0};
        std::memcpy(out.data(), &answer, std::min(out.size(), sizeof answer));
        held.unlock();
        request->Complete(STATUS_SUCCESS, sizeof answer);
        return;
    }
    case IOCTL_USB_GetDeviceInfo: {
        UsbDeviceInfoRecord record{};
        record.controlOutMaxPacketSize = camera.controlMaxPacket;
        std::memcpy(record.deviceGuid, camera.guid.data(),
                    std::min<size_t>(camera.guid.size(), 12) * sizeof(char16_t));
        std::memcpy(out.data(), &record, std::min(out.size(), sizeof record));
        held.unlock();
        request->Complete(STATUS_SUCCESS, sizeof record);
        return;
    }
    case IOCTL_USB_ProcessId: {
        camera.registered.insert(pid);
        held.unlock();
        device.waits.Pend(request, [this, &device, pid](const devio::RequestPtr&) {
            std::lock_guard<std::mutex> guard(m_lock);
            device.camera.registered.erase(pid);
            if (device.camera.owner == pid) device.camera.owner = 0;
        });
        return;
    }
    case IOCTL_USB_DeviceOpen: {
        uint32_t status = STATUS_SUCCESS;
        if (camera.owner != 0)
            status = STATUS_USB_DEVICE_OWNED;
        else if (!camera.registered.count(pid))
            status = devio::STATUS_UNSUCCESSFUL;
        else
            camera.owner = pid;
        held.unlock();
        request->Complete(status);
        return;
    }
    case IOCTL_USB_DeviceClose: {
        uint32_t status = STATUS_SUCCESS;
        if (camera.owner == 0)
            status = STATUS_USB_DEVICE_OWNED;
        else if (camera.owner != pid)
            status = devio::STATUS_UNSUCCESSFUL;
        else
            camera.owner = 0;
        held.unlock();
        request->Complete(status);
        return;
    }
    case IOCTL_USB_SendCmd:
        held.unlock();
        SendCmd(device, request);
        return;
    case IOCTL_USB_GetEvent:
    case IOCTL_USB_GetStream:
        held.unlock();
        device.waits.Pend(request);
        return;
    default:
        held.unlock();
        request->Complete(STATUS_SUCCESS);
        return;
    }
}

void FakeUsbService::SendCmd(Device& device, const devio::RequestPtr& request) {
    std::unique_lock<std::mutex> held(m_lock);
    FakeUsbCamera& camera = device.camera;
    auto in = request->Input();
    auto out = request->Output();
    const uint32_t operation = At<uint32_t>(in, 4);
    const uint64_t address = At<uint64_t>(in, 8);
    const uint16_t length = At<uint16_t>(in, 16);
    if (in.size() < kUsbCmdRequestMinimum) {
        held.unlock();
        request->Complete(devio::STATUS_BUFFER_TOO_SMALL);
        return;
    }
    uint32_t status = camera.commandStatus;
    if (operation == kUsbCmdReadMemory && camera.failingReads.count(address))
        status = devio::STATUS_UNSUCCESSFUL;
    if (status != STATUS_SUCCESS) {
        held.unlock();
        request->Complete(status);
        return;
    }
    const bool inside = address <= camera.memory.size() && camera.memory.size() - address >= length;
    const uint16_t ack = inside ? camera.ackStatus : 0x8006;
    uint64_t information = 4;
    if (operation == kUsbCmdReadMemory) {
        device.reads.push_back({address, length});
        if (out.size() < 4u + length) {
            held.unlock();
            request->Complete(devio::STATUS_BUFFER_TOO_SMALL);
            return;
        }
        const uint16_t data = inside && ack == 0 ? length : 0;
        if (data) std::memcpy(out.data() + 4, camera.memory.data() + address, data);
        const uint16_t claim =
            camera.readAnswerClaim >= 0 ? static_cast<uint16_t>(camera.readAnswerClaim) : data;
        std::memcpy(out.data(), &ack, 2);
        std::memcpy(out.data() + 2, &claim, 2);
        information = 4 + data;
    } else {
        if (in.size() < 20u + length || out.size() < 4) {
            held.unlock();
            request->Complete(devio::STATUS_BUFFER_TOO_SMALL);
            return;
        }
        device.writes.push_back({address, {in.begin() + 18, in.begin() + 18 + length}});
        const uint16_t written = inside && ack == 0 ? length : 0;
        if (written) std::memcpy(camera.memory.data() + address, in.data() + 18, written);
        std::memcpy(out.data(), &ack, 2);
        std::memcpy(out.data() + 2, &written, 2);
    }
    held.unlock();
    request->Complete(STATUS_SUCCESS, information);
}

} // namespace qorcam::testing
