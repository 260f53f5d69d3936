// An opened USB3 Vision camera: its device info, module registers and remote device port.
#include "UsbProducerFixture.h"

namespace qorcam::testing {
namespace {

TEST_F(UsbProducerTest, DeviceInfoOfTheOpenDevice) {
    DEV_HANDLE device = OpenCamera();
    ASSERT_NE(device, nullptr);
    auto text = [&](DEVICE_INFO_CMD cmd) {
        return gc->InfoText(
            [&](INFO_DATATYPE* t, void* b, size_t* s) { return gc->DevGetInfo(device, cmd, t, b, s); });
    };
    const std::vector<std::pair<DEVICE_INFO_CMD, std::string>> texts = {
        {DEVICE_INFO_ID, UsbId(kDefaultNumber)},     {DEVICE_INFO_TLTYPE, "U3V"},
        {DEVICE_INFO_CUSTOM_DEV_VERSION, "1.0"},     {DEVICE_INFO_CUSTOM_VENDOR_INFO, "Info"},
        {DEVICE_INFO_CUSTOM_SERIAL_NUMBER, "12345"}, {DEVICE_INFO_CUSTOM_USER_NAME, "left"},
        {DEVICE_INFO_CUSTOM_FAMILY_NAME, "Family"},
    };
    for (const auto& [cmd, value] : texts)
        EXPECT_EQ(text(cmd), value) << cmd;

    auto value = [&](DEVICE_INFO_CMD cmd, INFO_DATATYPE expectedType) {
        uint64_t v = 0;
        size_t size = sizeof v;
        INFO_DATATYPE type = -1;
        EXPECT_EQ(gc->DevGetInfo(device, cmd, &type, &v, &size), GC_ERR_SUCCESS) << cmd;
        EXPECT_EQ(type, expectedType) << cmd;
        return v;
    };
    EXPECT_EQ(value(DEVICE_INFO_CUSTOM_VISIBLE, INFO_DATATYPE_BOOL8), 1u);
    EXPECT_EQ(value(DEVICE_INFO_CUSTOM_SPEED, INFO_DATATYPE_INT32), 1024u);
    EXPECT_EQ(value(DEVICE_INFO_CUSTOM_SPEC_MAJOR, INFO_DATATYPE_INT32), 1u);
    EXPECT_EQ(value(DEVICE_INFO_CUSTOM_SPEC_MINOR, INFO_DATATYPE_INT32), 2u);
    EXPECT_EQ(value(DEVICE_INFO_CUSTOM_CAPABILITY, INFO_DATATYPE_UINT64), 0xF0Fu);
    EXPECT_EQ(value(DEVICE_INFO_CUSTOM_EVENT_SIZE_MAX, INFO_DATATYPE_UINT32), 256u);
    uint32_t v = 0;
    size_t size = sizeof v;
    ExpectError(gc->DevGetInfo(device, DEVICE_INFO_CUSTOM_DEV_MODE, nullptr, &v, &size),
                GC_ERR_INVALID_PARAMETER, "Invalid DeviceInfoId 1005");
}

TEST_F(UsbProducerTest, ModuleRegistersReachTheService) {
    DEV_HANDLE device = OpenCamera();
    ASSERT_NE(device, nullptr);
    uint32_t value = 0xFFFFFFFF;
    size_t size = sizeof value;
    ASSERT_EQ(gc->GCWritePort(device, DEV_REG_CMD_TIMEOUT, &value, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 4u);
    const auto timeouts = service.Requests(usbdrv::IOCTL_USB_SetCmdTimeout);
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_EQ(Field<uint32_t>(timeouts[0].input, 0), pid);
    EXPECT_EQ(Field<uint32_t>(timeouts[0].input, 4), 0xFFFFFFFFu);

    uint8_t any[2] = {};
    size = sizeof any;
    ASSERT_EQ(gc->GCWritePort(device, DEV_REG_RESET_STREAM_PIPE, any, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(service.Requests(usbdrv::IOCTL_USB_ResetStreamPipe).size(), 1u);

    for (uint64_t address : {uint64_t{DEV_REG_HEARTBEAT}, uint64_t{DEV_REG_CMD_TIMEOUT}}) {
        size = 2; // 0x104 takes exactly four bytes
        ASSERT_EQ(gc->GCWritePort(device, address, &value, &size), GC_ERR_SUCCESS);
        EXPECT_EQ(size, 0u);
        size = sizeof value;
        ASSERT_EQ(gc->GCReadPort(device, address, &value, &size), GC_ERR_SUCCESS);
        EXPECT_EQ(size, 0u);
    }
    EXPECT_EQ(service.Requests(usbdrv::IOCTL_USB_SetCmdTimeout).size(), 1u);
}

TEST_F(UsbProducerTest, PortReadsAreWholeRegistersInChunksTheCameraTakes) {
    FakeUsbCamera camera;
    camera.Put32(kSbrm + 0x18, 12 + 50); // acknowledge room for 50 bytes: chunks of 48
    for (size_t i = 0; i < 200; ++i)
        camera.memory[0x3000 + i] = static_cast<uint8_t>(i * 7);
    ASSERT_NE(OpenCamera(camera), nullptr);
    const size_t before = service.Reads("cam").size();

    uint8_t one = 0;
    size_t size = 1;
    ASSERT_EQ(gc->GCReadPort(port, 0x3005, &one, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(one, static_cast<uint8_t>(5 * 7));

    std::vector<uint8_t> data(130, 0xEE);
    size = 129;
    ASSERT_EQ(gc->GCReadPort(port, 0x3000, data.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 129u);
    for (size_t i = 0; i < 129; ++i)
        ASSERT_EQ(data[i], static_cast<uint8_t>(i * 7)) << i;
    EXPECT_EQ(data[129], 0xEE) << "nothing is stored behind the size asked for";

    const auto reads = service.Reads("cam");
    using Reads = std::vector<std::pair<uint64_t, uint16_t>>;
    const Reads expected = {{0x3005, 4}, {0x3000, 48}, {0x3030, 48}, {0x3060, 36}};
    EXPECT_EQ(Reads(reads.begin() + static_cast<std::ptrdiff_t>(before), reads.end()), expected);
}

TEST_F(UsbProducerTest, PortWritesAreSplitToTheCommandMaximum) {
    FakeUsbCamera camera;
    camera.Put32(kSbrm + 0x14, 20 + 40);
    ASSERT_NE(OpenCamera(camera), nullptr);
    std::vector<uint8_t> data(100);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    size_t size = data.size();
    ASSERT_EQ(gc->GCWritePort(port, 0x4000, data.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 100u);
    const auto writes = service.Writes("cam");
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].first, 0x4000u);
    EXPECT_EQ(writes[1].first, 0x4028u);
    EXPECT_EQ(writes[2].second.size(), 20u);
    auto held = service.Lock();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), service.Camera("cam").memory.begin() + 0x4000));
}

TEST_F(UsbProducerTest, CameraMaximaWithoutRoomForDataFailInsteadOfLooping) {
    FakeUsbCamera camera;
    camera.Put32(kSbrm + 0x14, 20);
    camera.Put32(kSbrm + 0x18, 12);
    DEV_HANDLE device = OpenCamera(camera);
    ASSERT_NE(device, nullptr);
    uint32_t value = 0;
    size_t size = sizeof value;
    ExpectError(gc->GCReadPort(port, 0, &value, &size), GC_ERR_ERROR, "Error I/O");
    size = sizeof value;
    ExpectError(gc->GCWritePort(port, 0x4000, &value, &size), GC_ERR_ERROR, "Error I/O");
}

TEST_F(UsbProducerTest, FailedAccessesAndTheAccessibleFlag) {
    struct Case {
        const char* what;
        uint32_t commandStatus;
        uint16_t ackStatus;
        const char* text;
        bool staysAccessible;
    };
    const std::vector<Case> cases = {
        {"camera refuses", 0, 0x8002, "Error Status", true},
        {"attempts ran out", usbdrv::STATUS_RETRY, 0, "Error I/O", true},
        {"camera gone", devio::STATUS_DEVICE_NOT_CONNECTED, 0, "Error I/O", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DEV_HANDLE device = OpenCamera();
        ASSERT_NE(device, nullptr);
        {
            auto held = service.Lock();
            service.Camera("cam").commandStatus = c.commandStatus;
            service.Camera("cam").ackStatus = c.ackStatus;
        }
        uint32_t value = 0;
        size_t size = sizeof value;
        ExpectError(gc->GCReadPort(port, 0, &value, &size), GC_ERR_ERROR, c.text);
        bool8_t visible = 0;
        size = sizeof visible;
        ASSERT_EQ(gc->DevGetInfo(device, DEVICE_INFO_CUSTOM_VISIBLE, nullptr, &visible, &size),
                  GC_ERR_SUCCESS);
        EXPECT_EQ(visible != 0, c.staysAccessible);
        const size_t sent = service.Reads("cam").size();
        size = sizeof value;
        ExpectError(gc->GCReadPort(port, 0, &value, &size), GC_ERR_ERROR, c.text);
        if (!c.staysAccessible) {
            EXPECT_EQ(service.Reads("cam").size(), sent) << "no request once inaccessible";
        }

        const size_t closes = service.Requests(usbdrv::IOCTL_USB_DeviceClose).size();
        ASSERT_EQ(gc->DevClose(device), GC_ERR_SUCCESS);
        EXPECT_EQ(service.Requests(usbdrv::IOCTL_USB_DeviceClose).size(),
                  closes + (c.staysAccessible ? 1 : 0));
        gc->IFClose(iface);
        service.Unplug("cam");
    }
}

TEST_F(UsbProducerTest, DescriptionUrlsFromTheManifest) {
    FakeUsbCamera camera;
    camera.Put64(kManifest, 2);
    // Compression 1 in bits 10-15 of the format word, schema version bits set as well.
    camera.SetManifestEntry(1, 0x0203000A, (1u << 10) | (3u << 24) | (1u << 16), 0x1ABC0, 0xFF01);
    ASSERT_NE(OpenCamera(camera), nullptr);
    uint32_t count = 0;
    ASSERT_EQ(gc->GCGetNumPortURLs(port, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 2u);

    char url[512] = {};
    size_t size = sizeof url;
    ASSERT_EQ(gc->GCGetPortURL(port, url, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(url, "Local:Maker_Model_1.2.3.xml;8000;1234");
    EXPECT_EQ(size, std::strlen(url) + 1);

    EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
        return gc->GCGetPortURLInfo(port, 1, URL_INFO_URL, t, b, s);
    }),
              "Local:Maker_Model_2.3.10.zip;1abc0;ff01");
    ExpectError(gc->GCGetPortURLInfo(port, 2, URL_INFO_URL, nullptr, url, &size), GC_ERR_ERROR,
                "URL Index 2 is out of range");

    size = 511;
    ASSERT_EQ(gc->GCGetPortURL(port, url, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 0u);

    EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
        return gc->GCGetPortInfo(port, PORT_INFO_PORTNAME, t, b, s);
    }),
              "DevicePort");
    EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
        return gc->GCGetPortInfo(port, PORT_INFO_ID, t, b, s);
    }),
              "DEV::" + UsbId(kDefaultNumber));
}

} // namespace
} // namespace qorcam::testing
