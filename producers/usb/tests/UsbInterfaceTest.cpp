// The USB producer's identity, its interface and the camera list it builds from the service's devices.
#include "UsbProducerFixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace qorcam::testing {
namespace {

TEST_F(UsbProducerTest, IdentityAndTheOneInterface) {
    ExpectLibraryInfo(*gc, tl,
                      {{TL_INFO_MODEL, "QorUSBGenTL"},
                       {TL_INFO_TLTYPE, "U3V"},
                       {TL_INFO_DISPLAYNAME, "GenTL USB3 Vision"}});
    iface = OpenInterface();
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
        return gc->IFGetInfo(iface, INTERFACE_INFO_DISPLAYNAME, t, b, s);
    }),
              "Interface : \\\\.\\QORUSB");
    // Bus events are accepted, never fed: a wait ends with a time-out.
    EVENT_HANDLE bus = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(iface, EVENT_CUSTOM_BUS, &bus), GC_ERR_SUCCESS);
    uint32_t code = 0;
    size_t size = sizeof code;
    EXPECT_EQ(gc->EventGetData(bus, &code, &size, 10), GC_ERR_TIMEOUT);
    EXPECT_EQ(gc->GCUnregisterEvent(iface, EVENT_CUSTOM_BUS), GC_ERR_SUCCESS);
    EVENT_HANDLE other = nullptr;
    ExpectError(gc->GCRegisterEvent(iface, EVENT_NEW_BUFFER, &other), GC_ERR_ERROR,
                "Event ID 1 not implemented");
}

TEST_F(UsbProducerTest, NoCameraListsNothing) {
    iface = OpenInterface();
    EXPECT_EQ(Update(), 0);
    EXPECT_TRUE(ListedIds().empty());
    EXPECT_TRUE(service.Requests(usbdrv::IOCTL_USB_GetVersion).empty());
}

TEST_F(UsbProducerTest, CamerasComeAndGoWithTheChangedFlag) {
    FakeUsbCamera second;
    second.guid = u"000000000042";
    ASSERT_TRUE(service.Plug("a", FakeUsbCamera()));
    iface = OpenInterface();
    EXPECT_EQ(Update(), 1);
    EXPECT_EQ(ListedIds(), std::vector<std::string>{UsbId(kDefaultNumber)});
    EXPECT_EQ(Update(), 0);

    ASSERT_TRUE(service.Plug("b", second));
    EXPECT_EQ(Update(), 1);
    EXPECT_EQ(ListedIds(), (std::vector<std::string>{UsbId(kDefaultNumber), UsbId(0x42)}));

    service.Unplug("a");
    EXPECT_EQ(Update(), 1);
    EXPECT_EQ(ListedIds(), std::vector<std::string>{UsbId(0x42)});
    // The version is asked at most once, of the first device ever seen in this process.
    EXPECT_LE(service.Requests(usbdrv::IOCTL_USB_GetVersion).size(), 1u);

    char text[128];
    size_t size = sizeof text;
    ExpectError(gc->IFGetDeviceID(iface, 1, text, &size), GC_ERR_INVALID_PARAMETER,
                " Invalid Device Index 1");
}

TEST_F(UsbProducerTest, ARecordTellsTheServiceTheCamerasMaxima) {
    ASSERT_TRUE(service.Plug("a"));
    iface = OpenInterface();
    Update();
    const auto sizes = service.Requests(usbdrv::IOCTL_USB_SetMaxSize);
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(Field<uint32_t>(sizes[0].input, 0), 250u) << "response time first";
    EXPECT_EQ(Field<uint32_t>(sizes[0].input, 4), 0u);
    EXPECT_EQ(Field<uint32_t>(sizes[1].input, 0), 0u);
    EXPECT_EQ(Field<uint32_t>(sizes[1].input, 4), 1024u);
    EXPECT_EQ(Field<uint32_t>(sizes[1].input, 8), 1024u);
    EXPECT_EQ(Field<uint32_t>(sizes[1].input, 12), 256u);
}

TEST_F(UsbProducerTest, ACameraWithoutAnEventInterfaceIsListedWithNoEventSize) {
    FakeUsbCamera plain;
    plain.Put64(kSbrm + 0x2C, 0); // no EIRM; address 4 holds the manufacturer's name
    ASSERT_TRUE(service.Plug("a", plain));
    iface = OpenInterface();
    Update();
    EXPECT_EQ(ListedIds().size(), 1u);
    const auto sizes = service.Requests(usbdrv::IOCTL_USB_SetMaxSize);
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(Field<uint32_t>(sizes[1].input, 12), 0u);
}

TEST_F(UsbProducerTest, DeviceInfoOfAListedCamera) {
    FakeUsbCamera camera;
    camera.controlMaxPacket = 512;
    ASSERT_TRUE(service.Plug("a", camera));
    iface = OpenInterface();
    Update();
    const std::string id = UsbId(kDefaultNumber);
    auto text = [&](DEVICE_INFO_CMD cmd) {
        return gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
            return gc->IFGetDeviceInfo(iface, id.c_str(), cmd, t, b, s);
        });
    };
    EXPECT_EQ(text(DEVICE_INFO_ID), id);
    EXPECT_EQ(text(DEVICE_INFO_VENDOR), "Maker");
    EXPECT_EQ(text(DEVICE_INFO_MODEL), "Model");
    EXPECT_EQ(text(DEVICE_INFO_TLTYPE), "U3V");
    EXPECT_EQ(text(DEVICE_INFO_DISPLAYNAME), "Model (12345 )");
    EXPECT_EQ(text(DEVICE_INFO_CUSTOM_USER_NAME), "left");
    int32_t value = -1;
    size_t size = sizeof value;
    EXPECT_EQ(gc->IFGetDeviceInfo(iface, id.c_str(), DEVICE_INFO_CUSTOM_SPEED, nullptr, &value, &size),
              GC_ERR_SUCCESS);
    EXPECT_EQ(value, 512);
    EXPECT_EQ(gc->IFGetDeviceInfo(iface, id.c_str(), DEVICE_INFO_CUSTOM_BUS_NUMBER, nullptr, &value, &size),
              GC_ERR_SUCCESS);
    EXPECT_EQ(value, 0);

    // Only the open device answers the other customs.
    ExpectError(
        gc->IFGetDeviceInfo(iface, id.c_str(), DEVICE_INFO_CUSTOM_SERIAL_NUMBER, nullptr, &value, &size),
        GC_ERR_INVALID_PARAMETER, "Invalid DeviceInfoId 1008");
    const std::string unknown = UsbId(7);
    ExpectError(gc->IFGetDeviceInfo(iface, unknown.c_str(), DEVICE_INFO_ID, nullptr, &value, &size),
                GC_ERR_ERROR, "Unable to find device " + unknown);
}

TEST_F(UsbProducerTest, DeviceNumberTakesTheSerialWhenTheGuidEndsInZeros) {
    FakeUsbCamera camera;
    camera.guid = u"00AB00000000";
    camera.PutText(0x0144, "16777217"); // 2^24 + 1: only its low 24 bits count
    ASSERT_TRUE(service.Plug("a", camera));
    iface = OpenInterface();
    Update();
    EXPECT_EQ(ListedIds(), std::vector<std::string>{UsbId(0x00AB00000001ULL)});
}

TEST_F(UsbProducerTest, CamerasWhoseRecordCantBeBuiltAreSkipped) {
    struct Fault {
        const char* what;
        std::function<void(FakeUsbCamera&)> apply;
    };
    const std::vector<Fault> faults = {
        {"a failing string read", [](FakeUsbCamera& c) { c.failingReads.insert(0x0144); }},
        {"a failing SBRM read", [](FakeUsbCamera& c) { c.failingReads.insert(kSbrm + 0x18); }},
        {"a failing EIRM read", [](FakeUsbCamera& c) { c.failingReads.insert(kEirm + 4); }},
        {"answers shorter than the value", [](FakeUsbCamera& c) { c.readAnswerClaim = 2; }},
        {"a SBRM outside the camera's memory", [](FakeUsbCamera& c) { c.Put64(0x01D8, 0xFFFF0000ULL); }},
    };
    int index = 0;
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.what);
        FakeUsbCamera bad;
        fault.apply(bad);
        ASSERT_TRUE(service.Plug("bad" + std::to_string(index++), bad));
    }
    FakeUsbCamera good;
    good.guid = u"000000000099";
    ASSERT_TRUE(service.Plug("good", good));
    iface = OpenInterface();
    Update();
    EXPECT_EQ(ListedIds(), std::vector<std::string>{UsbId(0x99)});
}

TEST_F(UsbProducerTest, ADriverOfAnotherVersionFailsTheUpdate) {
    // The version is asked once per process: the check runs in a fresh process of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            int failures = 0;
            auto check = [&](bool ok, const char* what) {
                if (!ok) {
                    std::fprintf(stderr, "failed: %s\n", what);
                    ++failures;
                }
            };
            check(service.Plug("a"), "plug");
            service.version = 10105;
            iface = OpenInterface();
            bool8_t changed = 0;
            check(gc->IFUpdateDeviceList(iface, &changed, 1000) == GC_ERR_ERROR, "first update fails");
            check(gc->LastError().second == "USB Driver Version Error", "version error text");
            // Until a driver answers the right version, every update asks again and fails.
            check(gc->IFUpdateDeviceList(iface, &changed, 1000) == GC_ERR_ERROR, "second update fails");
            service.version = usbdrv::kUsbInterfaceVersion;
            check(gc->IFUpdateDeviceList(iface, &changed, 1000) == GC_ERR_SUCCESS, "right version lists");
            check(ListedIds().size() == 1, "one camera");
            std::fflush(stderr);
            // The child ends without the fixture's tear-down: its private root goes here.
            std::error_code ignored;
            std::filesystem::remove_all(service.Root(), ignored);
            std::_Exit(failures == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(UsbProducerTest, OpeningTakesOwnershipOnce) {
    DEV_HANDLE device = OpenCamera();
    ASSERT_NE(device, nullptr);
    {
        auto held = service.Lock();
        EXPECT_EQ(service.Camera("cam").owner, pid);
        EXPECT_TRUE(service.Camera("cam").registered.count(pid));
    }
    DEV_HANDLE again = nullptr;
    ExpectError(gc->IFOpenDevice(iface, UsbId(kDefaultNumber).c_str(), DEVICE_ACCESS_EXCLUSIVE, &again),
                GC_ERR_ERROR, "Device already open");
    ExpectError(gc->IFOpenDevice(iface, UsbId(5).c_str(), DEVICE_ACCESS_EXCLUSIVE, &again), GC_ERR_ERROR,
                "Device not available");

    ASSERT_EQ(gc->DevClose(device), GC_ERR_SUCCESS);
    EXPECT_EQ(service.Requests(usbdrv::IOCTL_USB_DeviceClose).size(), 1u);
    auto held = service.Lock();
    EXPECT_EQ(service.Camera("cam").owner, 0u);
    EXPECT_FALSE(service.Camera("cam").registered.count(pid)) << "the registration ends with the handle";
}

TEST_F(UsbProducerTest, ACameraOwnedElsewhereIsAlreadyOpen) {
    ASSERT_TRUE(service.Plug("cam"));
    iface = OpenInterface();
    Update();
    {
        auto held = service.Lock();
        service.Camera("cam").owner = 4242;
    }
    DEV_HANDLE device = nullptr;
    ExpectError(gc->IFOpenDevice(iface, UsbId(kDefaultNumber).c_str(), DEVICE_ACCESS_EXCLUSIVE, &device),
                GC_ERR_ERROR, "Device already open");
    // The refused open leaves no registration behind.
    for (int i = 0; i < 200; ++i) {
        {
            auto held = service.Lock();
            if (service.Camera("cam").registered.empty()) break;
        }
        usleep(5000);
    }
    auto held = service.Lock();
    EXPECT_TRUE(service.Camera("cam").registered.empty());
}

} // namespace
} // namespace qorcam::testing
