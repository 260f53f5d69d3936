// A stand-in for the USB3 Vision service: camera devices under a private root with scripted bootstrap
// memory, answering the service's device-control codes, and the requests it received.
#pragma once

#include "UsbDeviceControl.h"
#include "devio/DeviceServer.h"
#include "devio/RequestQueue.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace qorcam::testing {

// Addresses of the fake camera's bootstrap maps.
inline constexpr uint64_t kSbrm = 0x1000;
inline constexpr uint64_t kEirm = 0x1100;
inline constexpr uint64_t kSirm = 0x1200;
inline constexpr uint64_t kManifest = 0x2000;
inline constexpr size_t kCameraMemory = 0x10000;

// One camera: its little-endian memory (ABRM at 0 and the maps above) and its faults.
struct FakeUsbCamera {
    FakeUsbCamera();
    void Put32(uint64_t address, uint32_t value);
    void Put64(uint64_t address, uint64_t value);
    void PutText(uint64_t address, const std::string& text); // a 64-byte text register
    uint32_t Get32(uint64_t address) const;
    void SetManifestEntry(uint32_t index, uint32_t fileVersion, uint32_t fileFormat, uint64_t address,
                          uint64_t size);

    std::u16string guid = u"00A1B2C3D4E5";
    uint32_t controlMaxPacket = 1024;
    std::vector<uint8_t> memory = std::vector<uint8_t>(kCameraMemory);
    std::set<uint64_t> failingReads; // reads at these addresses complete with STATUS_UNSUCCESSFUL
    uint32_t commandStatus = 0;      // when set, every command completes with this status
    uint16_t ackStatus = 0;          // status word of every acknowledge
    int readAnswerClaim = -1;        // when set, read answers claim this many data bytes
    uint32_t owner = 0;
    std::set<uint32_t> registered; // processes with a pending registration
};

class FakeUsbService {
public:
    FakeUsbService();
    ~FakeUsbService();
    FakeUsbService(const FakeUsbService&) = delete;
    FakeUsbService& operator=(const FakeUsbService&) = delete;

    const std::filesystem::path& Root() const { return m_root; }
    // Serves a new camera device under `name` in the class folder; false when its socket can't be made.
    bool Plug(const std::string& name, const FakeUsbCamera& camera = FakeUsbCamera());
    // Removes the device (its socket and its connections), as an unplugged camera.
    void Unplug(const std::string& name);

    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(m_lock); }
    // Guarded by Lock().
    FakeUsbCamera& Camera(const std::string& name);
    uint32_t version = usbdrv::kUsbInterfaceVersion;

    struct Logged {
        std::string device;
        uint32_t code; // 0 for a read
        std::vector<uint8_t> input;
    };
    std::vector<Logged> Requests(uint32_t code);
    // Memory writes (address, bytes) that cameras received, in order.
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> Writes(const std::string& name);
    // Addresses and lengths of memory reads, in order.
    std::vector<std::pair<uint64_t, uint16_t>> Reads(const std::string& name);

    // Waiting requests (GetEvent, GetStream, reads) of one camera: kind 0 is a ReadFile.
    size_t Pending(const std::string& name, uint32_t code);
    bool WaitPending(const std::string& name, uint32_t code, size_t count, int ms = 3000);
    // Completes the oldest waiting request of that code; `fill` writes its output and returns the byte
    // count. False when none waits.
    // `reported` (when not negative) is the byte count the client is told instead.
    bool CompletePending(const std::string& name, uint32_t code, uint32_t status,
                         const std::function<uint32_t(std::span<uint8_t>)>& fill = {}, int64_t reported = -1);

private:
    struct Device;
    void Dispatch(Device& device, const devio::RequestPtr& request);
    void SendCmd(Device& device, const devio::RequestPtr& request);

    std::filesystem::path m_root;
    std::mutex m_lock;
    std::vector<Logged> m_log;
    std::map<std::string, std::unique_ptr<Device>> m_devices;
};

} // namespace qorcam::testing
