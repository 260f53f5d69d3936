// RigClient: a client of the GigE service on the rig, as the producer uses the service.
#pragma once

#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "NetworkRig.h"
#include "devio/DeviceHandle.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qorcam::rig {

using namespace qorcam::gige;
using namespace std::chrono_literals;

inline constexpr uint16_t kCommandPort = 0xC123;
inline constexpr uint32_t kRegControl = 0x0A00;

// Camera registers of the GigE Vision bootstrap and of the emulator's description.
inline constexpr uint32_t kRegHeartbeatTimeout = 0x0938;
inline constexpr uint32_t kRegStreamPort = 0x0D00;
inline constexpr uint32_t kRegPacketSize = 0x0D04;
inline constexpr uint32_t kRegStreamDestination = 0x0D18;
inline constexpr uint32_t kRegWidth = 0x100;
inline constexpr uint32_t kRegHeight = 0x104;
inline constexpr uint32_t kRegAcquisition = 0x124;
inline constexpr uint32_t kRegPixelFormat = 0x128;
inline constexpr uint32_t kRegFramePeriod = 0x138; // microseconds
inline constexpr uint32_t kMono8 = 0x01080001;

// The service's rig when the host veth keeps a Linux address: cameras are
// listed from their discovery answers as on a system-managed adapter.
inline NetworkRig::Options CameraOptions() {
    NetworkRig::Options o;
    o.driverManaged = false;
    // The emulator answers between frames only: commands get time and resends.
    o.parameters = {{"CMDRETRY", 5}, {"CMDTIMEOUT", 300}};
    return o;
}

inline uint32_t Address(const std::string& dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted.c_str(), &a);
    return a.s_addr;
}

// One handle, one request at a time; camera and host addresses in network order.
class Client {
public:
    explicit Client(const NetworkRig& rig)
        : camera(Address(rig.CameraAddress())), host(Address(rig.DriverAddress())),
          pid(static_cast<uint32_t>(::getpid())) {}

    bool Open() { return h.Open("\\\\.\\QORGIGE") == devio::STATUS_SUCCESS; }

    std::vector<GigeDeviceRecord> List() {
        std::vector<uint8_t> out(12124);
        uint32_t capacity = 60;
        std::memcpy(out.data(), &capacity, 4);
        uint64_t bytes = 0;
        std::vector<GigeDeviceRecord> list;
        if (h.DeviceIoControl(IOCTL_GIGE_GetDeviceList, out.data(), 4, out.data(), out.size(), &bytes) !=
            devio::STATUS_SUCCESS)
            return list;
        uint32_t count;
        std::memcpy(&count, out.data(), 4);
        for (uint32_t i = 0; i < count && 4 + (i + 1) * 202 <= bytes; ++i) {
            GigeDeviceRecord r;
            std::memcpy(&r, out.data() + 4 + i * 202, sizeof r);
            list.push_back(r);
        }
        return list;
    }
    bool Listed() {
        for (int attempt = 0; attempt < 20; ++attempt) {
            for (const auto& r : List())
                if (r.ip == camera) return true;
            std::this_thread::sleep_for(200ms);
        }
        return false;
    }

    uint32_t Call(uint32_t code, std::vector<uint8_t> in, void* out = nullptr, size_t outLength = 0) {
        return h.DeviceIoControl(code, in.data(), in.size(), out, outLength);
    }
    std::vector<uint8_t> Pair(uint32_t a, uint32_t b) {
        std::vector<uint8_t> v(8);
        std::memcpy(v.data(), &a, 4);
        std::memcpy(v.data() + 4, &b, 4);
        return v;
    }

    // One command: its completion status and the answer block.
    uint32_t Command(uint16_t command, const std::function<void(GigeRequestBlock&)>& fill,
                     std::vector<uint8_t>& answer, uint16_t port = kCommandPort) {
        GigeRequestBlock b{};
        b.processId = pid;
        b.cameraIp = camera;
        b.command = command;
        b.hostPort = port;
        fill(b);
        answer.assign(802, 0);
        return h.DeviceIoControl(IOCTL_GIGE_SendCmd, &b, sizeof b, answer.data(), answer.size());
    }
    std::optional<uint32_t> ReadReg(uint32_t address) {
        std::vector<uint8_t> a;
        uint32_t status = Command(
            1,
            [&](GigeRequestBlock& b) {
                uint16_t n = 1;
                std::memcpy(b.body, &n, 2);
                std::memcpy(b.body + 2, &address, 4);
            },
            a);
        uint16_t gvcp, count;
        std::memcpy(&gvcp, a.data(), 2);
        std::memcpy(&count, a.data() + 2, 2);
        if (status != 0 || gvcp != 0 || count != 1) return std::nullopt;
        uint32_t value;
        std::memcpy(&value, a.data() + 4, 4);
        return value;
    }
    bool WriteReg(uint32_t address, uint32_t value) {
        std::vector<uint8_t> a;
        uint32_t status = Command(
            2,
            [&](GigeRequestBlock& b) {
                uint16_t n = 1;
                std::memcpy(b.body, &n, 2);
                std::memcpy(b.body + 2, &address, 4);
                std::memcpy(b.body + 270, &value, 4);
            },
            a);
        uint16_t gvcp;
        std::memcpy(&gvcp, a.data(), 2);
        return status == 0 && gvcp == 0;
    }
    bool TakeControl(uint32_t interval = 300, uint32_t lost = 3050) {
        if (Call(IOCTL_GIGE_DeviceOpen, Pair(pid, camera)) != 0 || !WriteReg(kRegControl, 2)) return false;
        GigeHeartbeatForm hb{pid, camera, interval, lost, kCommandPort};
        std::vector<uint8_t> in(reinterpret_cast<uint8_t*>(&hb), reinterpret_cast<uint8_t*>(&hb) + sizeof hb);
        return Call(IOCTL_GIGE_StartHeartbeat, in) == 0 && ReadReg(kRegControl) == 2u;
    }
    uint32_t DeviceLost() {
        uint32_t lost = 7;
        Call(IOCTL_GIGE_GetDeviceStatus, Pair(pid, camera), &lost, 4);
        return lost;
    }

    devio::DeviceHandle h;
    uint32_t camera, host, pid;
};

// Holds the host ports the service answers on, as the producer does, opens
// the service and waits until the camera is listed.
inline bool Reach(NetworkRig& rig, Client& c) {
    rig.HoldHostPort(3957);
    rig.HoldHostPort(kCommandPort);
    return c.Open() && c.Listed();
}

template <class F> inline bool WaitFor(F condition, std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (condition()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

} // namespace qorcam::rig
