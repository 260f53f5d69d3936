// A stand-in for the GigE network service: its device under a private root, scripted cameras, and the
// requests it received, for tests of the producer without a network.
#pragma once

#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "devio/DeviceServer.h"
#include "devio/Request.h"

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qorcam::testing {

// One camera the fake service lists and answers commands for: 32-bit registers and a block of memory.
struct FakeCamera {
    std::array<uint8_t, 6> mac{};
    uint32_t ip = 0;        // network order
    uint32_t adapterIp = 0; // network order
    uint32_t linkSpeed = 1000;
    uint16_t versionMajor = 1, versionMinor = 2;
    std::string manufacturer = "Maker", model = "Model", serial = "SN1", userName = "left";
    std::map<uint32_t, uint32_t> registers;
    std::vector<uint8_t> memory = std::vector<uint8_t>(0x1000);
    bool answersInfo = true; // IOCTL_GIGE_GetDeviceInfo succeeds for it
    uint32_t owner = 0;
    bool lost = false;
};

// Serves \\.\QORGIGE under a private QORCAM_ROOT for its lifetime. Every request is logged with its
// code and input; waits (registration, bus events, streams, events, acknowledges) are kept pending
// until a test completes them or the client cancels them.
class FakeGigeService {
public:
    FakeGigeService();
    ~FakeGigeService();
    FakeGigeService(const FakeGigeService&) = delete;
    FakeGigeService& operator=(const FakeGigeService&) = delete;

    bool Running() const { return m_started; }

    // What the test scripts (guarded by Lock()).
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(m_lock); }
    std::vector<FakeCamera> cameras;
    uint32_t version = gige::LIBRARY_STRUCT_VERSION;
    // When set, READMEM answers claim this many bytes, whatever was asked.
    int memoryAnswerCount = -1;
    // When set, the device list claims this many records, whatever it holds.
    int listCountClaim = -1;
    // Codes the service refuses (STATUS_INVALID_PARAMETER) instead of serving.
    std::vector<uint32_t> refused;

    // Every request received: code and input bytes.
    struct Logged {
        uint32_t code;
        std::vector<uint8_t> input;
    };
    std::vector<Logged> Log();
    std::vector<Logged> Requests(uint32_t code);
    size_t Count(uint32_t code) { return Requests(code).size(); }
    // Register writes (address, value) that cameras received, in order.
    std::vector<std::pair<uint32_t, uint32_t>> RegisterWrites();
    // Register reads (addresses), in order.
    std::vector<uint32_t> RegisterReads();

    // Pending waits of one code, oldest first.
    size_t Pending(uint32_t code);
    // Completes the oldest pending wait of that code; `fill` may write its output and returns the byte
    // count. False when none is pending.
    bool
    CompletePending(uint32_t code, uint32_t status,
                    const std::function<uint32_t(std::span<uint8_t>, std::span<const uint8_t>)>& fill = {});
    // Waits up to `ms` until `count` waits of that code are pending.
    bool WaitPending(uint32_t code, size_t count, int ms = 3000);

private:
    void Dispatch(const devio::RequestPtr& request);
    void Answer(const devio::RequestPtr& request, std::unique_lock<std::mutex>& held);
    void SendCmd(const devio::RequestPtr& request, std::unique_lock<std::mutex>& held);
    FakeCamera* CameraByIp(uint32_t ip);

    std::filesystem::path m_root;
    std::mutex m_lock;
    std::vector<Logged> m_log;
    std::vector<std::pair<uint32_t, uint32_t>> m_writes;
    std::vector<uint32_t> m_reads;
    std::deque<devio::RequestPtr> m_pending;
    devio::DeviceServer m_server;
    bool m_started = false;
};

// The id the producer gives a camera of this MAC.
std::string DeviceId(const std::array<uint8_t, 6>& mac);

} // namespace qorcam::testing
