// The GigE service against the camera emulator: discovery, control, heartbeat, lost cameras and streaming.
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "NetworkRig.h"
#include "RigClient.h"
#include "devio/DeviceHandle.h"
#include "devio/Region.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>
#include <unistd.h>

namespace qorcam::rig {
namespace {

using namespace qorcam::gige;
using namespace std::chrono_literals;

#define REQUIRE_RIG(rig)                                                                                     \
    if (!(rig).Available()) GTEST_SKIP() << (rig).Reason()

constexpr uint16_t kStreamPort = 0x8123;


TEST(GigeCameraRig, DiscoversOpensAndCommandsTheEmulator) {
    NetworkRig rig(CameraOptions());
    REQUIRE_RIG(rig);
    ASSERT_TRUE(rig.CameraRunning());
    Client c(rig);
    ASSERT_TRUE(Reach(rig, c)) << "the emulator did not answer the service's discovery";
    // A list round holds the cameras that answered within its wait; on a loaded
    // machine the emulator may answer one round late, so the list is asked again.
    std::vector<GigeDeviceRecord> list;
    const GigeDeviceRecord* rec = nullptr;
    WaitFor(
        [&] {
            list = c.List();
            rec = nullptr;
            for (const auto& r : list)
                if (r.ip == c.camera) rec = &r;
            return rec != nullptr;
        },
        10000ms);
    ASSERT_NE(rec, nullptr);
    char mac[18];
    std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", rec->mac[0], rec->mac[1], rec->mac[2],
                  rec->mac[3], rec->mac[4], rec->mac[5]);
    EXPECT_EQ(mac, rig.CameraMac());
    EXPECT_NE(rec->manufacturerName[0], 0);
    EXPECT_NE(rec->modelName[0], 0);

    GigeDeviceLink link{};
    std::vector<uint8_t> ip(4);
    std::memcpy(ip.data(), &c.camera, 4);
    ASSERT_EQ(c.Call(IOCTL_GIGE_GetDeviceInfo, ip, &link, sizeof link), 0u);
    EXPECT_EQ(+link.adapterIp, c.host);

    ASSERT_EQ(c.Call(IOCTL_GIGE_DeviceOpen, c.Pair(c.pid, c.camera)), 0u);
    EXPECT_EQ(c.Call(IOCTL_GIGE_DeviceOpen, c.Pair(c.pid, c.camera)), STATUS_INVALID_PARAMETER)
        << "a camera has one owner";
    EXPECT_EQ(c.Call(IOCTL_GIGE_DeviceOpen, c.Pair(c.pid + 1, c.camera)), STATUS_ACCESS_DENIED)
        << "a caller acts for its own process only";
    ASSERT_TRUE(c.WriteReg(kRegControl, 0));
    EXPECT_EQ(c.ReadReg(kRegControl), 0u);
    ASSERT_TRUE(c.WriteReg(kRegControl, 2));
    EXPECT_EQ(c.ReadReg(kRegControl), 2u);
    ASSERT_TRUE(c.WriteReg(kRegWidth, 320));
    EXPECT_EQ(c.ReadReg(kRegWidth), 320u);

    // Several registers in one command.
    std::vector<uint8_t> a;
    ASSERT_EQ(c.Command(
                  1,
                  [](GigeRequestBlock& b) {
                      const uint16_t n = 2;
                      const uint32_t regs[2] = {kRegControl, kRegWidth};
                      std::memcpy(b.body, &n, 2);
                      std::memcpy(b.body + 2, regs, 8);
                  },
                  a),
              0u);
    // The emulator answers the first register of a list only; the answer says how many it holds.
    uint32_t values[2];
    std::memcpy(values, a.data() + 4, 8);
    EXPECT_GE(a[2], 1);
    EXPECT_EQ(values[0], 2u);
    if (a[2] == 2) {
        EXPECT_EQ(values[1], 320u);
    }

    // Memory: the first description URL, 512 bytes of text.
    ASSERT_EQ(c.Command(
                  3,
                  [](GigeRequestBlock& b) {
                      const uint32_t address = 0x200;
                      const uint16_t count = 512;
                      std::memcpy(b.body, &address, 4);
                      std::memcpy(b.body + 4, &count, 2);
                  },
                  a),
              0u);
    uint16_t status, count;
    std::memcpy(&status, a.data(), 2);
    std::memcpy(&count, a.data() + 2, 2);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(count, 512);
    std::string url(reinterpret_cast<const char*>(a.data() + 4),
                    strnlen(reinterpret_cast<const char*>(a.data() + 4), 512));
    EXPECT_EQ(url.rfind("Local:", 0) == 0 || url.rfind("local:", 0) == 0, true) << url;

    EXPECT_TRUE(c.WriteReg(kRegControl, 0));
    EXPECT_TRUE(rig.ServiceRunning());
}

TEST(GigeCameraRig, HeartbeatKeepsControlAndClosingTheHandleHandsItBack) {
    NetworkRig rig(CameraOptions());
    REQUIRE_RIG(rig);
    {
        Client c(rig);
        ASSERT_TRUE(Reach(rig, c));
        devio::Overlapped registration;
        ASSERT_EQ(c.h.DeviceIoControl(IOCTL_GIGE_RegisterProcess, &c.pid, 4, nullptr, 0, registration),
                  devio::STATUS_PENDING);
        // The camera drops a controller that is silent for one second.
        ASSERT_TRUE(c.WriteReg(kRegControl, 2));
        ASSERT_TRUE(c.WriteReg(kRegHeartbeatTimeout, 1000));
        ASSERT_TRUE(c.TakeControl(100, 1050));
        std::this_thread::sleep_for(3s);
        EXPECT_EQ(c.ReadReg(kRegControl), 2u) << "the heartbeat did not keep control";
        EXPECT_EQ(c.DeviceLost(), 0u);
    }
    // The handle is closed: the registration ends and the camera is free at once.
    Client next(rig);
    ASSERT_TRUE(next.Open());
    ASSERT_EQ(next.Call(IOCTL_GIGE_DeviceOpen, next.Pair(next.pid, next.camera)), 0u);
    EXPECT_TRUE(WaitFor([&] { return next.ReadReg(kRegControl) == 0u; }, 800ms));
    next.WriteReg(kRegHeartbeatTimeout, 3000);
}

TEST(GigeCameraRig, BackToBackReadsLeaveTheCameraControlled) {
    NetworkRig rig(CameraOptions());
    REQUIRE_RIG(rig);
    Client c(rig);
    ASSERT_TRUE(Reach(rig, c));
    // The emulator counts only reads of its privilege register as heartbeats and drops a controller
    // after a second without one: answers to other reads must not put the heartbeat off.
    ASSERT_TRUE(c.WriteReg(kRegControl, 2));
    ASSERT_TRUE(c.WriteReg(kRegHeartbeatTimeout, 1000));
    ASSERT_TRUE(c.TakeControl(100, 1050));
    // 50,000 reads without a pause, at least for two of the camera's time-outs (at most 20 s).
    const auto start = std::chrono::steady_clock::now();
    int reads = 0, failed = 0;
    for (;;) {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        if ((reads >= 50000 && elapsed >= 2s) || elapsed >= 20s) break;
        failed += c.ReadReg(kRegHeartbeatTimeout) == 1000u ? 0 : 1;
        ++reads;
    }
    EXPECT_EQ(failed, 0) << "of " << reads;
    EXPECT_EQ(c.ReadReg(kRegControl), 2u) << "control was lost during " << reads << " reads";
    EXPECT_EQ(c.DeviceLost(), 0u);
    c.WriteReg(kRegHeartbeatTimeout, 3000);
}

TEST(GigeCameraRig, SilentCameraTimesOutAndIsDeclaredLost) {
    auto options = CameraOptions();
    options.parameters = {{"CMDRETRY", 1}, {"CMDTIMEOUT", 200}};
    NetworkRig rig(options);
    REQUIRE_RIG(rig);
    Client c(rig);
    ASSERT_TRUE(Reach(rig, c)) << "the camera was not listed";
    ASSERT_TRUE(c.TakeControl(200, 1000));
    devio::Overlapped busEvent;
    ASSERT_EQ(c.h.DeviceIoControl(IOCTL_GIGE_WaitBusEvent, &c.pid, 4, nullptr, 0, busEvent),
              devio::STATUS_PENDING);

    // The camera stops hearing anything on its control port.
    const std::string ns = "ip netns exec " + rig.CameraNamespace() + " ";
    ASSERT_EQ(rig.Run(ns + "nft add table inet qorcamrig"), 0);
    ASSERT_EQ(rig.Run(ns + "nft \"add chain inet qorcamrig in { type filter hook input priority 0; }\""), 0);
    ASSERT_EQ(rig.Run(ns + "nft add rule inet qorcamrig in udp dport 3956 drop"), 0);

    std::vector<uint8_t> a;
    auto start = std::chrono::steady_clock::now();
    uint32_t status = c.Command(
        1,
        [](GigeRequestBlock& b) {
            const uint16_t n = 1;
            const uint32_t reg = kRegControl;
            std::memcpy(b.body, &n, 2);
            std::memcpy(b.body + 2, &reg, 4);
        },
        a, 0xC124);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(status == STATUS_GIGE_NO_ACK || status == STATUS_GIGE_DEVICE_LOST) << std::hex << status;
    if (status == STATUS_GIGE_NO_ACK) {
        EXPECT_GE(took, 400ms) << "two sends of 200 ms each";
        EXPECT_LT(took, 1500ms);
    }
    ASSERT_TRUE(busEvent.CompletionEvent().Wait(3000)) << "the lost camera woke no bus-event waiter";
    EXPECT_EQ(busEvent.Status(), devio::STATUS_SUCCESS);
    uint32_t word = 0;
    EXPECT_EQ(c.Call(IOCTL_GIGE_GetDeviceStatus, c.Pair(c.pid, c.camera), &word, 4), 0u);
    EXPECT_EQ(word, 1u) << "the camera is marked lost";
    EXPECT_EQ(c.Call(IOCTL_GIGE_DeviceClose, c.Pair(c.pid, c.camera)), STATUS_INVALID_PARAMETER)
        << "lost releases the owner";
    EXPECT_EQ(c.Command(
                  1, [](GigeRequestBlock&) {}, a),
              STATUS_INVALID_PARAMETER);
    uint16_t n = 1;
    EXPECT_EQ(c.Command(
                  1, [&](GigeRequestBlock& b) { std::memcpy(b.body, &n, 2); }, a),
              STATUS_GIGE_DEVICE_LOST);
    EXPECT_TRUE(rig.ServiceRunning());
}

struct StreamResult {
    int complete = 0;
    int withLoss = 0;
    uint64_t lastBlock = 0;
    bool ordered = true;
    std::string failure;
};

// Streams frames of width x height Mono8 into buffers of one region and checks
// what the service placed and reported for each.
StreamResult StreamFrames(NetworkRig& rig, Client& c, uint32_t width, uint32_t height, int frames,
                          bool resend) {
    StreamResult result;
    auto fail = [&](const std::string& what) {
        result.failure = what;
        return result;
    };
    const uint32_t packetSize = 1400;
    if (!c.WriteReg(kRegAcquisition, 0) || !c.WriteReg(kRegWidth, width) || !c.WriteReg(kRegHeight, height) ||
        !c.WriteReg(kRegPixelFormat, kMono8) || !c.WriteReg(kRegFramePeriod, 40000) ||
        !c.WriteReg(kRegPacketSize, packetSize) || !c.WriteReg(kRegStreamPort, kStreamPort) ||
        !c.WriteReg(kRegStreamDestination, ntohl(c.host)))
        return fail("camera set-up");
    if (!rig.HoldHostPort(kStreamPort)) return fail("stream port");
    GigePortRecord port{c.pid, kStreamPort, {1, 0}};
    if (c.h.DeviceIoControl(IOCTL_GIGE_PortAlloc, &port, sizeof port, nullptr, 0) != 0) return fail("port");
    const uint32_t payloadPerPacket = packetSize - 36;
    GigeStreamSetupForm setup{c.pid, c.camera, kStreamPort, 0, payloadPerPacket, uint8_t(resend ? 1 : 0)};
    if (c.h.DeviceIoControl(IOCTL_GIGE_SetStreamInfo, &setup, sizeof setup, nullptr, 0) != 0)
        return fail("setup");
    const uint8_t enable[4] = {uint8_t(kStreamPort & 0xFF), uint8_t(kStreamPort >> 8), 1, 0};
    if (c.h.DeviceIoControl(IOCTL_GIGE_SetStreamEnable, enable, 4, nullptr, 0) != 0) return fail("enable");

    const uint64_t payload = uint64_t(width) * height;
    const uint32_t infoOffset = static_cast<uint32_t>((payload + 15) & ~uint64_t(7));
    const uint32_t packets = static_cast<uint32_t>((payload + payloadPerPacket - 1) / payloadPerPacket);
    const uint64_t bufferSize = 546 + infoOffset + (packets + 7) / 8;
    constexpr int kBuffers = 4;
    auto region = devio::Region::Create(bufferSize * kBuffers);
    uint32_t regionId = 0;
    if (!region || c.h.RegisterRegion(*region, &regionId) != 0) return fail("region");
    std::array<devio::Overlapped, kBuffers> requests;
    GigeStreamForm form{kStreamPort, infoOffset, packets};
    auto queue = [&](int i) {
        uint8_t* b = region->Data() + i * bufferSize;
        std::memset(b + infoOffset, 0, 546);
        std::memset(b + infoOffset + 544, 0xFF, packets / 8);
        if (packets % 8) b[infoOffset + 544 + packets / 8] = static_cast<uint8_t>(0xFF00 >> (packets % 8));
        devio::RegionSpan span{regionId, i * bufferSize, bufferSize};
        return c.h.DeviceIoControl(IOCTL_GIGE_GetStream, &form, sizeof form, span, requests[i]);
    };
    for (int i = 0; i < kBuffers; ++i)
        if (queue(i) != devio::STATUS_PENDING) return fail("queue");
    if (!c.WriteReg(kRegAcquisition, 1)) return fail("start");
    int next = 0;
    for (int n = 0; n < frames; ++n) {
        if (!requests[next].CompletionEvent().Wait(5000)) {
            c.WriteReg(kRegAcquisition, 0);
            return fail("no frame within 5 s");
        }
        if (requests[next].Status() != 0) return fail("frame status");
        const uint8_t* b = region->Data() + next * bufferSize;
        GigeBlockInfo info;
        std::memcpy(&info, b + infoOffset, sizeof info);
        uint32_t w, h;
        std::memcpy(&w, info.fields + 4, 4);
        std::memcpy(&h, info.fields + 8, 4);
        if (info.payloadType != 1 || w != width || h != height) return fail("block information");
        int marked = 0;
        for (uint32_t k = 0; k < packets; ++k)
            marked += (b[infoOffset + 544 + k / 8] >> (7 - k % 8)) & 1;
        if (marked != static_cast<int>(info.missingPackets)) return fail("bitmap and missing count differ");
        if (result.lastBlock && info.blockId <= result.lastBlock) result.ordered = false;
        result.lastBlock = info.blockId;
        ++result.complete;
        result.withLoss += info.missingPackets ? 1 : 0;
        if (queue(next) != devio::STATUS_PENDING) return fail("queue again");
        next = (next + 1) % kBuffers;
    }
    c.WriteReg(kRegAcquisition, 0);
    c.h.CancelIo();
    for (auto& r : requests)
        r.CompletionEvent().Wait(2000);
    return result;
}

std::array<uint64_t, 3> Statistics(Client& c) {
    uint8_t in[10] = {uint8_t(kStreamPort & 0xFF), uint8_t(kStreamPort >> 8)};
    std::array<uint64_t, 3> stats{};
    c.h.DeviceIoControl(IOCTL_GIGE_GetStreamStatus, in, sizeof in, stats.data(), sizeof stats);
    return stats;
}

TEST(GigeCameraRig, StreamsFramesIntoRegisteredBuffersInPlace) {
    NetworkRig rig(CameraOptions());
    REQUIRE_RIG(rig);
    Client c(rig);
    ASSERT_TRUE(Reach(rig, c)) << "the camera was not listed";
    ASSERT_TRUE(c.TakeControl());
    auto result = StreamFrames(rig, c, 320, 240, 8, true);
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(result.complete, 8);
    EXPECT_EQ(result.withLoss, 0);
    EXPECT_TRUE(result.ordered);
    auto stats = Statistics(c);
    EXPECT_GE(stats[0], 8u * ((320 * 240 + 1363) / 1364));
    EXPECT_EQ(stats[1], 0u);
    EXPECT_EQ(stats[2], 0u);
    EXPECT_TRUE(rig.ServiceRunning());
}

TEST(GigeCameraRig, LostPacketsAreMarkedCountedAndAskedFor) {
    NetworkRig rig(CameraOptions());
    REQUIRE_RIG(rig);
    Client c(rig);
    ASSERT_TRUE(Reach(rig, c)) << "the camera was not listed";
    ASSERT_TRUE(c.TakeControl());
    // One GVSP packet in twenty is lost on the camera's side.
    const std::string ns = "ip netns exec " + rig.CameraNamespace() + " ";
    ASSERT_EQ(rig.Run(ns + "nft add table inet qorcamrig"), 0);
    ASSERT_EQ(rig.Run(ns + "nft \"add chain inet qorcamrig out { type filter hook output priority 0; }\""),
              0);
    ASSERT_EQ(rig.Run(ns + "nft add rule inet qorcamrig out udp dport " + std::to_string(kStreamPort) +
                      " numgen random mod 100 \\< 5 drop"),
              0);
    auto result = StreamFrames(rig, c, 640, 480, 6, true);
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(result.complete, 6);
    EXPECT_GT(result.withLoss, 0) << "no frame lost a packet";
    auto stats = Statistics(c);
    EXPECT_GT(stats[1], 0u);
    EXPECT_GT(stats[2], 0u) << "no packet resend was asked for";
    EXPECT_TRUE(rig.ServiceRunning());
}

} // namespace
} // namespace qorcam::rig
