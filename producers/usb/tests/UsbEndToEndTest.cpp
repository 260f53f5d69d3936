// The USB producer end to end: the real service program over the virtual bus and a simulated camera
// process, under a private root; nothing is left running afterwards.
#include "GenTLConsumer.h"
#include "GenTLCustom.h"
#include "UsbDeviceControl.h"
#include "UsbStreamSession.h"
#include "UsbTestSupport.h"
#include "devio/DeviceName.h"
#include "devio/Status.h"
#include "os/Process.h"
#include "usb/VirtualBus.h"
#include "usb/VirtualDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace qorcam::testing {
namespace {

constexpr uint64_t kAcquisitionStart = 0x10010;

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

std::string SimCommand(const std::string& name, const std::string& text) {
    usb::VirtualBus bus;
    auto device = bus.OpenVirtual(name);
    if (!device) return {};
    return device->SimCommand(text).value_or("");
}

// A number the simulated camera's status line holds after `key=`, or -1.
long StatusValue(const std::string& status, const std::string& key) {
    const auto at = status.find(key + "=");
    return at == std::string::npos ? -1 : std::strtol(status.c_str() + at + key.size() + 1, nullptr, 10);
}

size_t DeviceCount() {
    std::error_code error;
    const auto folder = devio::DeviceInterfaceDirectory(usbdrv::kUsbDeviceInterfaceClass);
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(folder, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++n;
    return n;
}

class UsbEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qorcam-usbgentl-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        setenv("QORCAM_ROOT", root.c_str(), 1);
        setenv("QORCAM_USB_BUS", "virtual", 1);
        auto cam = os::Process::Spawn(QOR_U3V_SIM_CAMERA,
                                      {"--name=cam1", "--vendor=Acme", "--model=U3-Test", "--serial=4711",
                                       "--guid=00A1B2C3D4E5", "--user-name=left", "--width=64", "--height=16",
                                       "--exit-with-parent"});
        ASSERT_TRUE(cam.has_value());
        camera = std::move(*cam);
        auto drv = os::Process::Spawn(QOR_USB_DRV);
        ASSERT_TRUE(drv.has_value());
        driver = std::move(*drv);
        ASSERT_TRUE(WaitFor([] { return DeviceCount() == 1; })) << "the camera's device did not come up";
        gc = std::make_unique<GenTLConsumer>(USB_PRODUCER_PATH);
        ASSERT_EQ(gc->GCInitLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(gc->TLOpen(&tl), GC_ERR_SUCCESS);
        bool8_t changed = 0;
        ASSERT_EQ(gc->TLUpdateInterfaceList(tl, &changed, 1000), GC_ERR_SUCCESS);
        ASSERT_EQ(gc->TLOpenInterface(tl, "QORUSB::\\\\.\\QORUSB", &iface), GC_ERR_SUCCESS);
    }
    void TearDown() override {
        if (tl) gc->TLClose(tl);
        if (gc) gc->GCCloseLib();
        gc.reset();
        if (driver.IsValid() && driver.Kill(SIGTERM)) {
            EXPECT_TRUE(driver.Wait(10000).has_value());
        }
        if (camera.IsValid() && camera.Kill(SIGTERM)) camera.Wait(5000);
        unsetenv("QORCAM_USB_BUS");
        unsetenv("QORCAM_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    // Updates the list and answers what it holds.
    std::vector<std::string> ListedIds() {
        bool8_t changed = 0;
        EXPECT_EQ(gc->IFUpdateDeviceList(iface, &changed, 1000), GC_ERR_SUCCESS) << gc->LastError().second;
        return testing::ListedIds(*gc, iface);
    }
    // Lists the one simulated camera and opens it.
    DEV_HANDLE OpenTheCamera() {
        const std::string id = UsbId(0x00A1B2C3D4E5ULL);
        EXPECT_EQ(ListedIds(), std::vector<std::string>{id});
        DEV_HANDLE device = nullptr;
        EXPECT_EQ(gc->IFOpenDevice(iface, id.c_str(), DEVICE_ACCESS_EXCLUSIVE, &device), GC_ERR_SUCCESS)
            << gc->LastError().second;
        return device;
    }
    template <class T> T PortValue(PORT_HANDLE port, uint64_t address) {
        T value{};
        size_t size = sizeof value;
        EXPECT_EQ(gc->GCReadPort(port, address, &value, &size), GC_ERR_SUCCESS) << gc->LastError().second;
        return value;
    }
    void WriteModule(void* module, uint64_t address, uint32_t value) {
        size_t size = sizeof value;
        EXPECT_EQ(gc->GCWritePort(module, address, &value, &size), GC_ERR_SUCCESS) << gc->LastError().second;
    }

    std::filesystem::path root;
    os::Process camera, driver;
    std::unique_ptr<GenTLConsumer> gc;
    TL_HANDLE tl = nullptr;
    IF_HANDLE iface = nullptr;
};

TEST_F(UsbEndToEndTest, ListsOpensStreamsAndLosesASimulatedCamera) {
    DEV_HANDLE device = OpenTheCamera();
    ASSERT_NE(device, nullptr);
    auto text = [&](DEVICE_INFO_CMD cmd) {
        return gc->InfoText(
            [&](INFO_DATATYPE* t, void* b, size_t* s) { return gc->DevGetInfo(device, cmd, t, b, s); });
    };
    EXPECT_EQ(text(DEVICE_INFO_VENDOR), "Acme");
    EXPECT_EQ(text(DEVICE_INFO_MODEL), "U3-Test");
    EXPECT_EQ(text(DEVICE_INFO_CUSTOM_SERIAL_NUMBER), "4711");
    EXPECT_EQ(text(DEVICE_INFO_CUSTOM_USER_NAME), "left");

    PORT_HANDLE port = nullptr;
    ASSERT_EQ(gc->DevGetPort(device, &port), GC_ERR_SUCCESS);
    char url[512] = {};
    size_t size = sizeof url;
    ASSERT_EQ(gc->GCGetPortURL(port, url, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(std::string(url).rfind("Local:Acme_U3-Test_", 0), 0u) << url;

    // The stream layout as the camera library computes it.
    const uint64_t sbrm = PortValue<uint64_t>(port, 0x1D8);
    const uint64_t sirm = PortValue<uint64_t>(port, sbrm + 0x20);
    const uint64_t payload = PortValue<uint64_t>(port, sirm + 0x08);
    const uint32_t leaderSize = PortValue<uint32_t>(port, sirm + 0x10);
    const uint32_t trailerSize = PortValue<uint32_t>(port, sirm + 0x14);
    ASSERT_EQ(payload, 64u * 16u);
    auto align = [](uint64_t n) { return (n + 63) & ~uint64_t{63}; };
    const uint64_t leaderOffset = align(payload);
    const uint64_t trailerOffset = leaderOffset + align(leaderSize);
    const uint64_t bufferSize = trailerOffset + align(trailerSize);

    DS_HANDLE ds = nullptr;
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &ds), GC_ERR_SUCCESS);
    WriteModule(ds, DS_REG_USB_106, 0);
    WriteModule(ds, DS_REG_USB_107, static_cast<uint32_t>(leaderOffset));
    WriteModule(ds, DS_REG_USB_108, static_cast<uint32_t>(trailerOffset));
    std::vector<BUFFER_HANDLE> buffers(3);
    for (auto& b : buffers) {
        ASSERT_EQ(gc->DSAllocAndAnnounceBuffer(ds, bufferSize, nullptr, &b), GC_ERR_SUCCESS);
        ASSERT_EQ(gc->DSQueueBuffer(ds, b), GC_ERR_SUCCESS);
    }
    EVENT_HANDLE newBuffer = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(ds, EVENT_NEW_BUFFER, &newBuffer), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DSStartAcquisition(ds, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    WriteModule(port, kAcquisitionStart, 1);

    auto next = [&]() -> BUFFER_HANDLE {
        EVENT_NEW_BUFFER_DATA data{};
        size_t n = sizeof data;
        if (gc->EventGetData(newBuffer, &data, &n, 5000) != GC_ERR_SUCCESS) return nullptr;
        return data.BufferHandle;
    };
    auto info = [&](BUFFER_HANDLE b, BUFFER_INFO_CMD cmd) {
        uint64_t value = 0;
        size_t n = sizeof value;
        EXPECT_EQ(gc->DSGetBufferInfo(ds, b, cmd, nullptr, &value, &n), GC_ERR_SUCCESS) << cmd;
        return value;
    };
    for (int k = 0; k < 5; ++k) {
        BUFFER_HANDLE b = next();
        ASSERT_NE(b, nullptr) << "block " << k;
        EXPECT_EQ(info(b, BUFFER_INFO_CUSTOM_STATUS) & 0xFFFFFFFF, 0u);
        EXPECT_EQ(info(b, BUFFER_INFO_CUSTOM_BYTES) & 0xFFFFFFFF, payload);
        EXPECT_EQ(info(b, BUFFER_INFO_WIDTH), 64u);
        EXPECT_EQ(info(b, BUFFER_INFO_HEIGHT), 16u);
        ASSERT_EQ(gc->DSQueueBuffer(ds, b), GC_ERR_SUCCESS);
    }

    // The camera goes: the reads in flight come back as not connected and the device turns
    // inaccessible; the camera leaves the list.
    ASSERT_TRUE(camera.Kill(SIGKILL));
    camera.Wait(5000);
    BUFFER_HANDLE failed = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] {
            BUFFER_HANDLE b = next();
            if (b && (info(b, BUFFER_INFO_CUSTOM_STATUS) & 0xFFFFFFFF) == devio::STATUS_DEVICE_NOT_CONNECTED)
                failed = b;
            return failed != nullptr;
        },
        15000));
    bool8_t visible = 1;
    size = sizeof visible;
    ASSERT_EQ(gc->DevGetInfo(device, DEVICE_INFO_CUSTOM_VISIBLE, nullptr, &visible, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(visible, 0);
    ASSERT_TRUE(WaitFor([] { return DeviceCount() == 0; }));
    EXPECT_TRUE(ListedIds().empty());
    EXPECT_EQ(gc->DSStopAcquisition(ds, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->DevClose(device), GC_ERR_SUCCESS);
}

TEST_F(UsbEndToEndTest, CameraEventsReachTheConsumer) {
    DEV_HANDLE device = OpenTheCamera();
    ASSERT_NE(device, nullptr);
    EVENT_HANDLE events = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(device, EVENT_CUSTOM_DEVICE_EVENT, &events), GC_ERR_SUCCESS)
        << gc->LastError().second;
    for (uint16_t eventId : {0x9001, 0x9002, 0x9003}) {
        char command[32];
        std::snprintf(command, sizeof command, "event 0x%X", eventId);
        ASSERT_EQ(SimCommand("cam1", command), "ok");
    }
    for (uint16_t eventId : {0x9001, 0x9002, 0x9003}) {
        uint8_t packet[512] = {};
        size_t size = sizeof packet;
        ASSERT_EQ(gc->EventGetData(events, packet, &size, 5000), GC_ERR_SUCCESS) << gc->LastError().second;
        ASSERT_GE(size, 16u);
        uint32_t prefix = 0;
        std::memcpy(&prefix, packet, 4);
        EXPECT_EQ(prefix, 0x45563355u) << "the packet as the camera sent it, header included";
        EXPECT_EQ(packet[14] | packet[15] << 8, eventId);
    }
    ASSERT_EQ(gc->GCUnregisterEvent(device, EVENT_CUSTOM_DEVICE_EVENT), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->DevClose(device), GC_ERR_SUCCESS);
}

// A consumer killed in the middle of a stream leaves the camera streaming and a whole block on the
// stream pipe. The next consumer's first buffer must be a block of its own stream: the camera numbers
// blocks from 0 at every stream start and stamps each pixel (x, y) of block n with x + y + n.
TEST_F(UsbEndToEndTest, ANewConsumerGetsNoBlockOfAKilledOne) {
    const std::string id = UsbId(0x00A1B2C3D4E5ULL);
    ASSERT_EQ(ListedIds(), std::vector<std::string>{id});
    constexpr uint64_t kPayload = 64 * 16;
    auto first = os::Process::Spawn(USB_STREAM_CLIENT, {USB_PRODUCER_PATH, id, std::to_string(kPayload)});
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(WaitFor([] { return StatusValue(SimCommand("cam1", "status"), "blocks") >= 3; }, 20000))
        << "the first consumer did not stream: " << SimCommand("cam1", "status");
    ASSERT_TRUE(first->Kill(SIGKILL));
    ASSERT_TRUE(first->Wait(10000).has_value());

    // The camera streams on with nobody reading: once it drops frames while its block count stands
    // still, a block of the killed consumer's stream waits on the pipe.
    ASSERT_TRUE(WaitFor(
        [] {
            const std::string before = SimCommand("cam1", "status");
            const long dropped = StatusValue(before, "dropped");
            if (!WaitFor([&] { return StatusValue(SimCommand("cam1", "status"), "dropped") >= dropped + 2; },
                         5000))
                return false;
            return StatusValue(SimCommand("cam1", "status"), "blocks") == StatusValue(before, "blocks");
        },
        30000))
        << SimCommand("cam1", "status");
    ASSERT_GE(StatusValue(SimCommand("cam1", "status"), "blocks"), 3);

    UsbStreamSession session(*gc);
    std::string error;
    ASSERT_TRUE(WaitFor([&] { return ListedIds() == std::vector<std::string>{id}; }));
    ASSERT_TRUE(session.Start(iface, id, kPayload, 3, error)) << error << " " << gc->LastError().second;
    BUFFER_HANDLE b = session.Next(10000);
    ASSERT_NE(b, nullptr) << SimCommand("cam1", "status");
    EXPECT_EQ(session.Info(b, BUFFER_INFO_CUSTOM_STATUS) & 0xFFFFFFFF, 0u);
    EXPECT_EQ(session.Info(b, BUFFER_INFO_FRAMEID), 0u) << "a block of the killed consumer's stream";
    const auto* pixels = reinterpret_cast<const uint8_t*>(session.Info(b, BUFFER_INFO_BASE));
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels[5], 5u);
    EXPECT_EQ(pixels[64 * 2 + 3], 5u);
    EXPECT_EQ(gc->DSStopAcquisition(session.ds, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->DevClose(session.device), GC_ERR_SUCCESS);
}

} // namespace
} // namespace qorcam::testing
