// The producer on the network rig: the real service, the camera emulator, discovery, control, the
// remote device port and images through a data stream. Also the adapters reported at interface open.
#include "FakeGigeService.h"
#include "GenTLConsumer.h"
#include "GenTLCustom.h"
#include "GigEDiscovered.h"
#include "NetworkRig.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <thread>

namespace qorcam::testing {
namespace {

using namespace qorcam::gige;

#define REQUIRE_RIG(rig)                                                                                     \
    if (!(rig).Available()) GTEST_SKIP() << (rig).Reason()

// Runs `body` on a thread inside the rig's host namespace: every socket the producer holds and every
// thread it starts from there belong to that namespace, as in a process on the camera network's host.
void InHostNamespace(const rig::NetworkRig& rig, const std::function<void()>& body) {
    std::thread([&] {
        const int ns = ::open(("/var/run/netns/" + rig.HostNamespace()).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(ns, 0);
        const bool entered = ::setns(ns, CLONE_NEWNET) == 0;
        ::close(ns);
        ASSERT_TRUE(entered);
        body();
    }).join();
}

rig::NetworkRig::Options CameraOptions() {
    rig::NetworkRig::Options o;
    o.driverManaged = false;
    // The emulator answers between frames only: commands get time and resends.
    o.parameters = {{"CMDRETRY", 5}, {"CMDTIMEOUT", 300}};
    return o;
}

std::string IdOfMac(const std::string& text) {
    unsigned m[6] = {};
    std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
    std::array<uint8_t, 6> mac{};
    for (int i = 0; i < 6; ++i)
        mac[i] = static_cast<uint8_t>(m[i]);
    return DeviceId(mac);
}

uint32_t BigEndian(uint32_t value) {
    return htonl(value);
}

// Loads the producer, opens the service's interface and waits until the camera of `id` is listed.
void OpenInterface(GenTLConsumer& gc, TL_HANDLE& tl, IF_HANDLE& iface, const std::string& id) {
    ASSERT_EQ(gc.GCInitLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(gc.TLOpen(&tl), GC_ERR_SUCCESS);
    ASSERT_EQ(gc.TLOpenInterface(tl, "QORGIGE::\\\\.\\QORGIGE", &iface), GC_ERR_SUCCESS)
        << gc.LastError().second;
    ASSERT_TRUE(Discovered(gc, iface, id)) << id << " was not discovered; " << gc.LastError().second;
}

TEST(GigEProducerRig, ReportsLeasedAdapterAddressesWhenTheInterfaceOpens) {
    rig::NetworkRig::Options options;
    options.startService = false;
    options.startCamera = false;
    options.driverManaged = false; // the host veth keeps a fixed address: not a leased one
    rig::NetworkRig rig(options);
    REQUIRE_RIG(rig);
    ASSERT_EQ(rig.Run("ip -n " + rig.HostNamespace() + " addr add 169.254.77.7/16 dev " +
                      rig.HostInterface() + " valid_lft 600 preferred_lft 600"),
              0);
    InHostNamespace(rig, [&] {
        FakeGigeService service;
        ASSERT_TRUE(service.Running());
        GenTLConsumer gc(GIGE_PRODUCER_PATH);
        TL_HANDLE tl = nullptr;
        IF_HANDLE iface = nullptr;
        ASSERT_EQ(gc.TLOpen(&tl), GC_ERR_SUCCESS);
        ASSERT_EQ(gc.TLOpenInterface(tl, "\\\\.\\QORGIGE", &iface), GC_ERR_SUCCESS);
        auto reports = service.Requests(IOCTL_GIGE_SetAdapterAddress);
        ASSERT_EQ(reports.size(), 1u);
        ASSERT_EQ(reports[0].input.size(), sizeof(GigeAdapterAddress));
        GigeAdapterAddress record;
        std::memcpy(&record, reports[0].input.data(), sizeof record);
        std::string name;
        for (size_t i = 0; i < kAdapterNameChars && record.shortName[i]; ++i)
            name += static_cast<char>(record.shortName[i]);
        EXPECT_EQ(name, rig.HostInterface());
        EXPECT_EQ(record.ip, inet_addr("169.254.77.7"));
        EXPECT_EQ(record.mask, inet_addr("255.255.0.0"));
        gc.TLClose(tl);
    });
}

TEST(GigEProducerRig, FindsControlsAndStreamsTheEmulator) {
    rig::NetworkRig rig(CameraOptions());
    REQUIRE_RIG(rig);
    ASSERT_TRUE(rig.CameraRunning());
    InHostNamespace(rig, [&] {
        GenTLConsumer gc(GIGE_PRODUCER_PATH);
        TL_HANDLE tl = nullptr;
        IF_HANDLE iface = nullptr;
        // Discovery: the emulator is listed under the id its MAC gives.
        const std::string id = IdOfMac(rig.CameraMac());
        ASSERT_NO_FATAL_FAILURE(OpenInterface(gc, tl, iface, id));

        DEV_HANDLE device = nullptr;
        ASSERT_EQ(gc.IFOpenDevice(iface, id.c_str(), DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS)
            << gc.LastError().second;
        PORT_HANDLE port = nullptr;
        ASSERT_EQ(gc.DevGetPort(device, &port), GC_ERR_SUCCESS);

        // Registers and the description URL at 0x200.
        uint32_t control = 0;
        size_t size = 4;
        ASSERT_EQ(gc.GCReadPort(port, 0x0A00, &control, &size), GC_ERR_SUCCESS) << gc.LastError().second;
        EXPECT_EQ(ntohl(control), 2u) << "control privilege";
        char url[520] = {};
        size = 512;
        ASSERT_EQ(gc.GCReadPort(port, 0x200, url, &size), GC_ERR_SUCCESS) << gc.LastError().second;
        EXPECT_EQ(size, 512u);
        EXPECT_EQ(std::string(url).rfind("Local:", 0), 0u) << url;

        // The camera set up for small Mono8 frames, its stream pointed at this host.
        auto writeRegister = [&](uint32_t address, uint32_t value) {
            uint32_t wire = BigEndian(value);
            size_t n = 4;
            EXPECT_EQ(gc.GCWritePort(port, address, &wire, &n), GC_ERR_SUCCESS)
                << std::hex << address << " " << gc.LastError().second;
        };
        constexpr uint32_t kWidth = 320, kHeight = 240, kPayload = kWidth * kHeight;
        writeRegister(0x124, 0); // acquisition stopped
        writeRegister(0x100, kWidth);
        writeRegister(0x104, kHeight);
        writeRegister(0x128, 0x01080001);
        writeRegister(0x138, 40000); // frame period, us
        writeRegister(0x0D04, 1400);
        int32_t host = 0;
        size = sizeof host;
        ASSERT_EQ(gc.DevGetInfo(device, DEVICE_INFO_CUSTOM_BUS_NUMBER, nullptr, &host, &size),
                  GC_ERR_SUCCESS);
        EXPECT_EQ(static_cast<uint32_t>(host), ntohl(inet_addr(rig.DriverAddress().c_str())));

        DS_HANDLE stream = nullptr;
        ASSERT_EQ(gc.DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS);
        auto streamRegister = [&](uint64_t address, uint32_t value) {
            size_t n = 4;
            EXPECT_EQ(gc.GCWritePort(stream, address, &value, &n), GC_ERR_SUCCESS);
            EXPECT_EQ(n, 4u);
        };
        const uint32_t packets = (kPayload + 1363) / 1364;
        const uint32_t infoOffset = (kPayload + 15) & ~7u;
        const size_t bufferSize = infoOffset + 546 + (packets + 7) / 8;
        streamRegister(DS_REG_DESTINATION, static_cast<uint32_t>(host));
        streamRegister(DS_REG_INFO_OFFSET, infoOffset);
        streamRegister(DS_REG_PACKET_COUNT, packets);
        EVENT_HANDLE newBuffer = nullptr;
        ASSERT_EQ(gc.GCRegisterEvent(stream, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
        // Two buffers in the consumer's memory (one copy each), two in the producer's (in place).
        std::vector<std::vector<uint8_t>> own(2, std::vector<uint8_t>(bufferSize));
        std::vector<BUFFER_HANDLE> buffers(4);
        for (size_t i = 0; i < buffers.size(); ++i) {
            void* memory = i < own.size() ? own[i].data() : nullptr;
            ASSERT_EQ(gc.DSAnnounceBuffer(stream, memory, bufferSize, nullptr, &buffers[i]), GC_ERR_SUCCESS);
            ASSERT_EQ(gc.DSQueueBuffer(stream, buffers[i]), GC_ERR_SUCCESS);
        }
        EVENT_HANDLE errors = nullptr;
        ASSERT_EQ(gc.GCRegisterEvent(stream, EVENT_ERROR, &errors), GC_ERR_SUCCESS);
        ASSERT_EQ(gc.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
        // The service takes blocks only once the consumer enables the stream.
        streamRegister(DS_REG_STREAM_ENABLE, 1);
        writeRegister(0x124, 1); // AcquisitionStart
        auto streamErrors = [&] {
            std::string all;
            char text[300];
            size_t n = sizeof text;
            while (gc.EventGetData(errors, text, &n, 0) == GC_ERR_SUCCESS) {
                all += std::string(text + 4) + "; ";
                n = sizeof text;
            }
            return all;
        };

        uint64_t lastBlock = 0;
        int complete = 0;
        for (int n = 0; n < 6; ++n) {
            EVENT_NEW_BUFFER_DATA data{};
            size = sizeof data;
            ASSERT_EQ(gc.EventGetData(newBuffer, &data, &size, 5000), GC_ERR_SUCCESS)
                << "frame " << n << ": " << streamErrors();
            BUFFER_HANDLE b = data.BufferHandle;
            auto value = [&](BUFFER_INFO_CMD cmd) {
                uint64_t v = 0;
                size_t s = sizeof v;
                EXPECT_EQ(gc.DSGetBufferInfo(stream, b, cmd, nullptr, &v, &s), GC_ERR_SUCCESS);
                return s == 4 ? v & 0xFFFFFFFFu : v;
            };
            EXPECT_EQ(value(BUFFER_INFO_CUSTOM_STATUS), 0u) << "frame " << n;
            EXPECT_EQ(value(BUFFER_INFO_CUSTOM_BYTES), bufferSize);
            EXPECT_EQ(value(BUFFER_INFO_PAYLOADTYPE), 1u);
            EXPECT_EQ(value(BUFFER_INFO_WIDTH), kWidth);
            EXPECT_EQ(value(BUFFER_INFO_HEIGHT), kHeight);
            EXPECT_EQ(value(BUFFER_INFO_PIXELFORMAT), 0x01080001u);
            const uint64_t block = value(BUFFER_INFO_FRAMEID);
            EXPECT_GT(block, lastBlock) << "block ids rise";
            lastBlock = block;
            uint32_t missing = 0;
            std::memcpy(&missing, reinterpret_cast<const uint8_t*>(value(BUFFER_INFO_BASE)) + infoOffset + 540, 4);
            complete += missing == 0;
            ASSERT_EQ(gc.DSQueueBuffer(stream, b), GC_ERR_SUCCESS);
        }
        EXPECT_GE(complete, 5) << "frames arrived with packets missing on a lossless link";
        uint64_t counters[3] = {};
        size = sizeof counters;
        ASSERT_EQ(gc.GCReadPort(stream, DS_REG_STATISTICS, counters, &size), GC_ERR_SUCCESS);
        EXPECT_EQ(size, sizeof counters);
        EXPECT_GE(counters[0], 6u * packets) << "packets counted by the service";

        writeRegister(0x124, 0);
        ASSERT_EQ(gc.DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL), GC_ERR_SUCCESS);
        ASSERT_EQ(gc.DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS);
        for (BUFFER_HANDLE b : buffers)
            EXPECT_EQ(gc.DSRevokeBuffer(stream, b, nullptr, nullptr), GC_ERR_SUCCESS);
        ASSERT_EQ(gc.DSClose(stream), GC_ERR_SUCCESS);
        ASSERT_EQ(gc.DevClose(device), GC_ERR_SUCCESS);
        ASSERT_EQ(gc.IFClose(iface), GC_ERR_SUCCESS);
        ASSERT_EQ(gc.TLClose(tl), GC_ERR_SUCCESS);
        gc.GCCloseLib();
    });
    EXPECT_TRUE(rig.ServiceRunning());
}

TEST(GigEProducerRig, ACameraThatDiesIsReportedLost) {
    rig::NetworkRig rig(CameraOptions());
    REQUIRE_RIG(rig);
    ASSERT_TRUE(rig.CameraRunning());
    InHostNamespace(rig, [&] {
        GenTLConsumer gc(GIGE_PRODUCER_PATH);
        TL_HANDLE tl = nullptr;
        IF_HANDLE iface = nullptr;
        const std::string id = IdOfMac(rig.CameraMac());
        ASSERT_NO_FATAL_FAILURE(OpenInterface(gc, tl, iface, id));
        DEV_HANDLE device = nullptr;
        ASSERT_EQ(gc.IFOpenDevice(iface, id.c_str(), DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS)
            << gc.LastError().second;
        // A short heartbeat, so the loss shows soon.
        const uint32_t heartbeat = 500;
        size_t size = 4;
        ASSERT_EQ(gc.GCWritePort(device, DEV_REG_HEARTBEAT, &heartbeat, &size), GC_ERR_SUCCESS);
        EVENT_HANDLE bus = nullptr;
        ASSERT_EQ(gc.GCRegisterEvent(iface, EVENT_CUSTOM_BUS, &bus), GC_ERR_SUCCESS);

        ASSERT_EQ(rig.Run("ip netns pids " + rig.CameraNamespace() + " | xargs -r kill -9"), 0);
        uint32_t code = 0;
        size = sizeof code;
        ASSERT_EQ(gc.EventGetData(bus, &code, &size, 5000), GC_ERR_SUCCESS) << "no bus event after the loss";
        EXPECT_EQ(code, uint32_t(BUS_EVENT_RESET));
        bool8_t visible = 1;
        size = 1;
        ASSERT_EQ(gc.DevGetInfo(device, DEVICE_INFO_CUSTOM_VISIBLE, nullptr, &visible, &size),
                  GC_ERR_SUCCESS);
        EXPECT_EQ(visible, 0);
        PORT_HANDLE port = nullptr;
        ASSERT_EQ(gc.DevGetPort(device, &port), GC_ERR_SUCCESS);
        uint32_t value = 0;
        size = 4;
        EXPECT_EQ(gc.GCReadPort(port, 0x0A00, &value, &size), GC_ERR_ERROR);
        EXPECT_EQ(gc.LastError().second, "Error I/O");
        EXPECT_EQ(gc.DevClose(device), GC_ERR_SUCCESS);
        EXPECT_EQ(gc.TLClose(tl), GC_ERR_SUCCESS);
        gc.GCCloseLib();
    });
    EXPECT_TRUE(rig.ServiceRunning());
}

TEST(GigEProducerRig, AnotherProcessWatchesACameraThisOneControls) {
    rig::NetworkRig rig(CameraOptions());
    REQUIRE_RIG(rig);
    const std::string id = IdOfMac(rig.CameraMac());
    const std::string opener = rig::BinaryDir() + "/gige_watch_opener ";
    InHostNamespace(rig, [&] {
        GenTLConsumer gc(GIGE_PRODUCER_PATH);
        TL_HANDLE tl = nullptr;
        IF_HANDLE iface = nullptr;
        ASSERT_NO_FATAL_FAILURE(OpenInterface(gc, tl, iface, id));
        DEV_HANDLE device = nullptr;
        ASSERT_EQ(gc.IFOpenDevice(iface, id.c_str(), DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS)
            << gc.LastError().second;

        // A watcher in another process opens, reads and closes; a second controller is refused.
        std::string out;
        ASSERT_EQ(rig.RunIn(rig.HostNamespace(), opener + "readonly " + id, &out), 0) << out;
        EXPECT_NE(out.find("open=0 control=2"), std::string::npos) << out;
        ASSERT_EQ(rig.RunIn(rig.HostNamespace(), opener + "control " + id, &out), 0) << out;
        EXPECT_EQ(out.find("open=0"), std::string::npos) << out;

        // The watcher's close left this process in control.
        PORT_HANDLE port = nullptr;
        ASSERT_EQ(gc.DevGetPort(device, &port), GC_ERR_SUCCESS);
        uint32_t control = 0;
        size_t size = 4;
        ASSERT_EQ(gc.GCReadPort(port, 0x0A00, &control, &size), GC_ERR_SUCCESS) << gc.LastError().second;
        EXPECT_EQ(ntohl(control), 2u);
        EXPECT_EQ(gc.DevClose(device), GC_ERR_SUCCESS);

        // Once this process lets go, another takes control at once.
        ASSERT_EQ(rig.RunIn(rig.HostNamespace(), opener + "control " + id, &out), 0) << out;
        EXPECT_NE(out.find("open=0 control=2"), std::string::npos) << out;
        gc.IFClose(iface);
        gc.TLClose(tl);
        gc.GCCloseLib();
    });
}

TEST(GigEProducerRig, LostAnswersCostTimeOutsNotTheOpenAndAFailedOpenLeavesTheCameraFree) {
    rig::NetworkRig::Options options;
    options.driverManaged = false; // the service's own resend defaults: no CMDRETRY stored
    rig::NetworkRig rig(options);
    REQUIRE_RIG(rig);
    const std::string nft = "ip netns exec " + rig.CameraNamespace() + " nft ";
    ASSERT_EQ(rig.Run(nft + "add table inet qorcamloss"), 0);
    ASSERT_EQ(rig.Run(nft + "\"add chain inet qorcamloss out { type filter hook output priority 0; }\""), 0);
    const std::string id = IdOfMac(rig.CameraMac());
    InHostNamespace(rig, [&] {
        GenTLConsumer gc(GIGE_PRODUCER_PATH);
        TL_HANDLE tl = nullptr;
        IF_HANDLE iface = nullptr;
        ASSERT_NO_FATAL_FAILURE(OpenInterface(gc, tl, iface, id));

        // One control answer in ten is lost (every tenth: a random pick would now and then take all four
        // answers of one command, which no retry count rules out): every open and every read still succeeds.
        ASSERT_EQ(rig.Run(nft + "add rule inet qorcamloss out udp sport 3956 numgen inc mod 10 == 0 drop"), 0);
        for (int round = 0; round < 3; ++round) {
            DEV_HANDLE device = nullptr;
            ASSERT_EQ(gc.IFOpenDevice(iface, id.c_str(), DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS)
                << round << ": " << gc.LastError().second;
            PORT_HANDLE port = nullptr;
            ASSERT_EQ(gc.DevGetPort(device, &port), GC_ERR_SUCCESS);
            for (int i = 0; i < 20; ++i) {
                uint32_t value = 0;
                size_t size = 4;
                EXPECT_EQ(gc.GCReadPort(port, 0x0A00, &value, &size), GC_ERR_SUCCESS) << round << "/" << i;
            }
            EXPECT_EQ(gc.DevClose(device), GC_ERR_SUCCESS);
        }

        // Every write acknowledge lost: the camera takes the control write but the open can't
        // know and fails; it hands control back on its way out.
        ASSERT_EQ(rig.Run(nft + "flush chain inet qorcamloss out"), 0);
        ASSERT_EQ(rig.Run(nft + "add rule inet qorcamloss out udp sport 3956 @ih,16,16 0x0083 drop"), 0);
        DEV_HANDLE device = nullptr;
        EXPECT_NE(gc.IFOpenDevice(iface, id.c_str(), DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS);
        ASSERT_EQ(rig.Run(nft + "flush chain inet qorcamloss out"), 0);
        // So the next open succeeds at once, long before the camera's heartbeat time-out.
        ASSERT_EQ(gc.IFOpenDevice(iface, id.c_str(), DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS)
            << gc.LastError().second;
        EXPECT_EQ(gc.DevClose(device), GC_ERR_SUCCESS);
        gc.IFClose(iface);
        gc.TLClose(tl);
        gc.GCCloseLib();
    });
    EXPECT_TRUE(rig.ServiceRunning());
}

} // namespace
} // namespace qorcam::testing
