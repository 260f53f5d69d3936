// TestSupport: a private runtime root, simulated cameras as child processes, and a small GenCP client.
#pragma once

#include "os/Process.h"
#include "usb/Descriptors.h"
#include "usb/VirtualBus.h"

#include "../sim/LittleEndian.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qorcam::usb::test {

// Values of the USB3 Vision standard that the tests check against.
inline constexpr std::uint32_t kPrefixU3vc = 0x43563355;
inline constexpr std::uint32_t kPrefixU3ve = 0x45563355;
inline constexpr std::uint32_t kMagicLeader = 0x4C563355;
inline constexpr std::uint32_t kMagicTrailer = 0x54563355;
inline constexpr std::uint64_t kAbrmManufacturer = 0x0004;
inline constexpr std::uint64_t kAbrmModel = 0x0044;
inline constexpr std::uint64_t kAbrmSerial = 0x0144;
inline constexpr std::uint64_t kAbrmUserName = 0x0184;
inline constexpr std::uint64_t kAbrmManifest = 0x01D0;
inline constexpr std::uint64_t kAbrmSbrm = 0x01D8;

inline std::uint16_t Le16(const std::vector<std::uint8_t>& b, std::size_t o) {
    return static_cast<std::uint16_t>(b.at(o) | b.at(o + 1) << 8);
}
inline std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t o) {
    return Le16(b, o) | static_cast<std::uint32_t>(Le16(b, o + 2)) << 16;
}
inline std::uint64_t Le64(const std::vector<std::uint8_t>& b, std::size_t o) {
    return Le32(b, o) | static_cast<std::uint64_t>(Le32(b, o + 4)) << 32;
}
using sim::Put16;
using sim::Put32;
using sim::Put64;

/// Polls condition every 10 ms until it holds or timeoutMs pass.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

/// Points QORCAM_ROOT at a fresh temporary folder and owns the cameras
/// started in it (killed at the end of the test).
class UsbRootFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qorcam-usb-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        setenv("QORCAM_ROOT", root_.c_str(), 1);
    }
    void TearDown() override {
        cameras_.clear(); // kills what still runs
        unsetenv("QORCAM_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    /// Starts a camera and waits until it is on the bus.
    os::Process& StartCamera(const std::string& name, std::vector<std::string> args = {}) {
        args.insert(args.begin(), "--name=" + name);
        // A test that crashes takes its cameras with it.
        args.push_back("--exit-with-parent=" + std::to_string(os::Process::CurrentId()));
        auto process = os::Process::Spawn(QOR_U3V_SIM_CAMERA, args, {{"QORCAM_ROOT", root_}});
        EXPECT_TRUE(process.has_value());
        cameras_.push_back(std::move(*process));
        VirtualBus bus;
        EXPECT_TRUE(WaitFor([&] { return VirtualBus::DevicePresent(bus.Folder(), name); }))
            << "camera " << name << " did not come up";
        return cameras_.back();
    }

    std::string root_;
    std::deque<os::Process> cameras_; // references stay valid as cameras are added
};

/// The pipes of a USB3 Vision camera, found by walking its descriptors.
struct U3vPipes {
    std::uint8_t controlOut = 0, controlIn = 0, event = 0, stream = 0;
};

inline std::optional<U3vPipes> FindPipes(const ConfigurationInfo& config) {
    U3vPipes pipes;
    for (const auto& interface : config.interfaces) {
        if (interface.interfaceClass != kClassMiscellaneous || interface.interfaceSubClass != kSubclassU3v)
            continue;
        for (const auto& endpoint : interface.endpoints) {
            if (!endpoint.IsBulk()) continue;
            switch (interface.interfaceProtocol) {
            case 0:
                (endpoint.IsIn() ? pipes.controlIn : pipes.controlOut) = endpoint.address;
                break;
            case 1:
                pipes.event = endpoint.address;
                break;
            case 2:
                pipes.stream = endpoint.address;
                break;
            default:
                break;
            }
        }
    }
    if (pipes.controlIn == 0 || pipes.controlOut == 0 || pipes.stream == 0) return std::nullopt;
    return pipes;
}

/// GenCP over the control pipes, written from the standard.
class GenCp {
public:
    struct Ack {
        Status transfer = Status::IoError;
        std::uint16_t status = 0xFFFF;
        std::uint16_t command = 0;
        std::uint16_t requestId = 0;
        std::vector<std::uint8_t> bytes; ///< the whole acknowledge
        std::vector<std::uint8_t> Data() const {
            return bytes.size() > 12 ? std::vector<std::uint8_t>(bytes.begin() + 12, bytes.end())
                                     : std::vector<std::uint8_t>{};
        }
    };

    GenCp(Device& device, U3vPipes pipes) : device_(device), pipes_(pipes) {}

    static std::vector<std::uint8_t> Packet(std::uint16_t flags, std::uint16_t command,
                                            std::uint16_t requestId, const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> packet;
        Put32(packet, kPrefixU3vc);
        Put16(packet, flags);
        Put16(packet, command);
        Put16(packet, static_cast<std::uint32_t>(data.size()));
        Put16(packet, requestId);
        packet.insert(packet.end(), data.begin(), data.end());
        return packet;
    }
    static std::vector<std::uint8_t> ReadPacket(std::uint16_t requestId, std::uint64_t address,
                                                std::uint16_t count, std::uint16_t flags = 0x4000) {
        std::vector<std::uint8_t> data;
        Put64(data, address);
        Put16(data, 0);
        Put16(data, count);
        return Packet(flags, 0x0800, requestId, data);
    }
    static std::vector<std::uint8_t> WritePacket(std::uint16_t requestId, std::uint64_t address,
                                                 const std::vector<std::uint8_t>& bytes) {
        std::vector<std::uint8_t> data;
        Put64(data, address);
        data.insert(data.end(), bytes.begin(), bytes.end());
        return Packet(0x4000, 0x0802, requestId, data);
    }

    Status Send(std::vector<std::uint8_t> packet) {
        std::size_t moved = 0;
        return device_.BulkTransfer(pipes_.controlOut, packet, 1000, moved);
    }
    Ack Receive(std::uint32_t timeoutMs = 1000) {
        Ack ack;
        ack.bytes.resize(1024);
        std::size_t moved = 0;
        ack.transfer = device_.BulkTransfer(pipes_.controlIn, ack.bytes, timeoutMs, moved);
        ack.bytes.resize(moved);
        if (ack.transfer == Status::Success && moved >= 12 && Le32(ack.bytes, 0) == kPrefixU3vc) {
            ack.status = Le16(ack.bytes, 4);
            ack.command = Le16(ack.bytes, 6);
            ack.requestId = Le16(ack.bytes, 10);
        }
        return ack;
    }

    Ack Read(std::uint64_t address, std::uint16_t count) {
        const std::uint16_t id = ++requestId_;
        EXPECT_EQ(Send(ReadPacket(id, address, count)), Status::Success);
        return Receive();
    }
    Ack Write(std::uint64_t address, const std::vector<std::uint8_t>& bytes) {
        const std::uint16_t id = ++requestId_;
        EXPECT_EQ(Send(WritePacket(id, address, bytes)), Status::Success);
        return Receive();
    }
    std::uint32_t Read32(std::uint64_t address) {
        const auto ack = Read(address, 4);
        EXPECT_EQ(ack.status, 0) << std::hex << address;
        const auto data = ack.Data();
        return data.size() == 4 ? Le32(data, 0) : 0;
    }
    std::uint64_t Read64(std::uint64_t address) {
        const auto data = Read(address, 8).Data();
        return data.size() == 8 ? Le64(data, 0) : 0;
    }
    std::string ReadString(std::uint64_t address) {
        const auto data = Read(address, 64).Data();
        const auto end = std::find(data.begin(), data.end(), 0);
        return std::string(data.begin(), end);
    }
    std::uint16_t Write32(std::uint64_t address, std::uint32_t value) {
        std::vector<std::uint8_t> bytes;
        Put32(bytes, value);
        return Write(address, bytes).status;
    }
    std::uint16_t NextRequestId() { return ++requestId_; }

private:
    Device& device_;
    U3vPipes pipes_;
    std::uint16_t requestId_ = 0;
};

} // namespace qorcam::usb::test
