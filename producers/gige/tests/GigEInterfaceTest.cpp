// The GigE interface module over a fake service: opening, the camera list, device info, bus events,
// action acknowledges and the interface registers.
#include "ProducerFixture.h"

#include <cstdlib>
#include <filesystem>

namespace qorcam::testing {
namespace {

using namespace qorcam::gige;

TEST_F(GigEFake, OpeningRegistersThisProcessAndClosingReleasesIt) {
    IF_HANDLE i = OpenInterface();
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(service.Count(IOCTL_GIGE_GetVersion), 1u);
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_RegisterProcess, 1));
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_WaitBusEvent, 5));
    for (const auto& r : service.Requests(IOCTL_GIGE_WaitBusEvent))
        EXPECT_EQ(Field<uint32_t>(r.input, 0), pid);
    EXPECT_EQ(Field<uint32_t>(service.Requests(IOCTL_GIGE_RegisterProcess)[0].input, 0), pid);

    ASSERT_EQ(gc->IFClose(i), GC_ERR_SUCCESS);
    // Cancelling the registration is what frees the process's state in the service.
    EXPECT_EQ(service.Pending(IOCTL_GIGE_RegisterProcess), 0u);
    EXPECT_EQ(service.Pending(IOCTL_GIGE_WaitBusEvent), 0u);
}

TEST_F(GigEFake, RefusesAServiceOfAnotherVersionAndAMissingOne) {
    {
        auto held = service.Lock();
        service.version = 10105;
    }
    IF_HANDLE i = nullptr;
    ExpectError(gc->TLOpenInterface(tl, "QORGIGE::\\\\.\\QORGIGE", &i), GC_ERR_ERROR,
                "GigE Driver Version Error");
    EXPECT_EQ(service.Count(IOCTL_GIGE_RegisterProcess), 0u);

    const std::string root = std::getenv("QORCAM_ROOT");
    const std::string empty = root + "/elsewhere";
    std::filesystem::create_directories(empty);
    setenv("QORCAM_ROOT", empty.c_str(), 1);
    ExpectError(gc->TLOpenInterface(tl, "QORGIGE::\\\\.\\QORGIGE", &i), GC_ERR_ERROR, "CreateFile Error");
    setenv("QORCAM_ROOT", root.c_str(), 1);
}

TEST_F(GigEFake, ListsAnsweringCamerasWithTheirInfo) {
    FakeCamera& a = AddCamera(0x55);
    a.linkSpeed = 100;
    a.userName = "sixteen-chars-xx"; // fills its field without a terminator
    AddCamera(0x56).answersInfo = false;
    AddCamera(0x57).adapterIp = 0;
    IF_HANDLE i = OpenInterface();
    bool8_t changed = 0;
    ASSERT_EQ(gc->IFUpdateDeviceList(i, &changed, 1000), GC_ERR_SUCCESS);
    EXPECT_EQ(changed, 1);
    uint32_t count = 0;
    ASSERT_EQ(gc->IFGetNumDevices(i, &count), GC_ERR_SUCCESS);
    ASSERT_EQ(count, 1u);

    const std::string id = DeviceIdAt(i, 0);
    EXPECT_EQ(id, "GigEVision::216172855702013013"); // 0x0300000000000000 | 00-11-22-33-44-55
    EXPECT_EQ(DeviceText(i, id, DEVICE_INFO_VENDOR), "Maker");
    EXPECT_EQ(DeviceText(i, id, DEVICE_INFO_MODEL), "Model");
    EXPECT_EQ(DeviceText(i, id, DEVICE_INFO_TLTYPE), "GEV");
    EXPECT_EQ(DeviceText(i, id, DEVICE_INFO_DISPLAYNAME), "Model (SN1 )");
    EXPECT_EQ(DeviceText(i, id, DEVICE_INFO_CUSTOM_USER_NAME), "sixteen-chars-xx");
    EXPECT_EQ(DeviceInfoValue<int32_t>(i, id, DEVICE_INFO_ACCESS_STATUS), 3);
    EXPECT_EQ(DeviceInfoValue<int32_t>(i, id, DEVICE_INFO_CUSTOM_SPEED), 100);
    EXPECT_EQ(DeviceInfoValue<uint32_t>(i, id, DEVICE_INFO_CUSTOM_BUS_NUMBER), 0xA9FE0001u);
    // Any spelling of the number names the camera.
    EXPECT_EQ(DeviceText(i, "whatever::216172855702013013", DEVICE_INFO_MODEL), "Model");

    size_t size = 64;
    char text[64];
    ExpectError(gc->IFGetDeviceInfo(i, id.c_str(), 7, nullptr, text, &size), GC_ERR_INVALID_PARAMETER,
                "Invalid DeviceInfoId 7");
    ExpectError(gc->IFGetDeviceInfo(i, "GigEVision::1", DEVICE_INFO_MODEL, nullptr, text, &size),
                GC_ERR_ERROR, "Unable to find device GigEVision::1");
    ExpectError(gc->IFGetDeviceID(i, 1, text, &size), GC_ERR_INVALID_PARAMETER, " Invalid Device Index 1");
    DEV_HANDLE device = nullptr;
    ExpectError(gc->IFOpenDevice(i, "GigEVision::1", DEVICE_ACCESS_CONTROL, &device), GC_ERR_ERROR,
                "Device not available");
}

TEST_F(GigEFake, ReadsOnlyTheRecordsTheServiceWrote) {
    AddCamera(0x55);
    {
        auto held = service.Lock();
        service.listCountClaim = 60;
    }
    IF_HANDLE i = OpenInterface();
    ASSERT_EQ(gc->IFUpdateDeviceList(i, nullptr, 1000), GC_ERR_SUCCESS);
    uint32_t count = 0;
    ASSERT_EQ(gc->IFGetNumDevices(i, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(service.Count(IOCTL_GIGE_GetDeviceInfo), 1u);
}

TEST_F(GigEFake, UpdatesReportChangesAndKeepControlledCamerasListed) {
    AddCamera(0x55);
    AddCamera(0x56);
    IF_HANDLE i = OpenInterface();
    bool8_t changed = 0;
    ASSERT_EQ(gc->IFUpdateDeviceList(i, &changed, 1000), GC_ERR_SUCCESS);
    EXPECT_EQ(changed, 1);
    ASSERT_EQ(gc->IFUpdateDeviceList(i, &changed, 1000), GC_ERR_SUCCESS);
    EXPECT_EQ(changed, 0);

    DEV_HANDLE controlled = nullptr, watched = nullptr;
    ASSERT_EQ(gc->IFOpenDevice(i, DeviceId(Camera(0).mac).c_str(), DEVICE_ACCESS_CONTROL, &controlled), 0);
    ASSERT_EQ(gc->IFOpenDevice(i, DeviceId(Camera(1).mac).c_str(), DEVICE_ACCESS_READONLY, &watched), 0);
    const size_t opens = service.Count(IOCTL_GIGE_DeviceOpen);
    DEV_HANDLE again = nullptr;
    ExpectError(gc->IFOpenDevice(i, DeviceId(Camera(0).mac).c_str(), DEVICE_ACCESS_CONTROL, &again),
                GC_ERR_ERROR, "Device already open");
    EXPECT_EQ(service.Count(IOCTL_GIGE_DeviceOpen), opens);

    {
        auto held = service.Lock();
        service.cameras.clear();
    }
    ASSERT_EQ(gc->IFUpdateDeviceList(i, &changed, 1000), GC_ERR_SUCCESS);
    EXPECT_EQ(changed, 1);
    uint32_t count = 0;
    ASSERT_EQ(gc->IFGetNumDevices(i, &count), GC_ERR_SUCCESS);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(DeviceIdAt(i, 0), DeviceId({0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
    bool8_t visible = 1;
    size_t size = 1;
    ASSERT_EQ(gc->DevGetInfo(watched, DEVICE_INFO_CUSTOM_VISIBLE, nullptr, &visible, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(visible, 0);
    // The watched camera's info still answers from the open device.
    EXPECT_EQ(DeviceText(i, DeviceId({0x00, 0x11, 0x22, 0x33, 0x44, 0x56}), DEVICE_INFO_MODEL), "Model");
}

TEST_F(GigEFake, BusEventsBecomeCustomBusEntries) {
    IF_HANDLE i = OpenInterface();
    EVENT_HANDLE bus = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(i, EVENT_CUSTOM_BUS, &bus), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_WaitBusEvent, 5));
    const std::pair<uint32_t, uint32_t> cases[] = {{STATUS_POWER_PARKED, BUS_EVENT_POWER_UP},
                                                   {STATUS_SUCCESS, BUS_EVENT_RESET},
                                                   {STATUS_GIGE_DEVICE_LOST, BUS_EVENT_RESET},
                                                   {STATUS_UNSUCCESSFUL, BUS_EVENT_OTHER}};
    for (const auto& [status, code] : cases) {
        ASSERT_TRUE(service.CompletePending(IOCTL_GIGE_WaitBusEvent, status));
        uint32_t value = 99;
        size_t size = sizeof value;
        ASSERT_EQ(gc->EventGetData(bus, &value, &size, 2000), GC_ERR_SUCCESS) << std::hex << status;
        EXPECT_EQ(value, code) << std::hex << status;
        // The completed wait is sent again at once.
        EXPECT_TRUE(service.WaitPending(IOCTL_GIGE_WaitBusEvent, 5));
    }
}

// A wake-up completes every bus-event wait the service held over the sleep: the application hears of
// it once.
TEST_F(GigEFake, OneWakeUpIsOnePowerUpEvent) {
    IF_HANDLE i = OpenInterface();
    EVENT_HANDLE bus = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(i, EVENT_CUSTOM_BUS, &bus), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_WaitBusEvent, 5));
    for (int k = 0; k < 5; ++k)
        ASSERT_TRUE(service.CompletePending(IOCTL_GIGE_WaitBusEvent, STATUS_POWER_PARKED));
    // Every wait sent again, then a change of the camera list behind the wake-up.
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_WaitBusEvent, 5));
    ASSERT_TRUE(service.CompletePending(IOCTL_GIGE_WaitBusEvent, STATUS_SUCCESS));
    for (uint32_t expected : {uint32_t{BUS_EVENT_POWER_UP}, uint32_t{BUS_EVENT_RESET}}) {
        uint32_t value = 99;
        size_t size = sizeof value;
        ASSERT_EQ(gc->EventGetData(bus, &value, &size, 2000), GC_ERR_SUCCESS);
        EXPECT_EQ(value, expected);
    }
    // And the next wake-up is heard again.
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_WaitBusEvent, 5));
    ASSERT_TRUE(service.CompletePending(IOCTL_GIGE_WaitBusEvent, STATUS_POWER_PARKED));
    uint32_t value = 99;
    size_t size = sizeof value;
    ASSERT_EQ(gc->EventGetData(bus, &value, &size, 2000), GC_ERR_SUCCESS);
    EXPECT_EQ(value, uint32_t{BUS_EVENT_POWER_UP});
}

TEST_F(GigEFake, ActionAcknowledgesArriveWhileRegistered) {
    IF_HANDLE i = OpenInterface();
    EVENT_HANDLE acks = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(i, EVENT_CUSTOM_ACTION_ACK, &acks), GC_ERR_SUCCESS);
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_WaitActionAck, 5));
    ASSERT_TRUE(service.CompletePending(IOCTL_GIGE_WaitActionAck, STATUS_SUCCESS,
                                        [](std::span<uint8_t> out, std::span<const uint8_t>) {
                                            const uint64_t mac = 0x001122334455ULL;
                                            std::memcpy(out.data(), &mac, 8);
                                            return 8u;
                                        }));
    uint64_t mac = 0;
    size_t size = 16;
    ASSERT_EQ(gc->EventGetData(acks, &mac, &size, 2000), GC_ERR_SUCCESS);
    EXPECT_EQ(mac, 0x001122334455ULL);
    ASSERT_EQ(gc->GCUnregisterEvent(i, EVENT_CUSTOM_ACTION_ACK), GC_ERR_SUCCESS);
    EXPECT_EQ(service.Pending(IOCTL_GIGE_WaitActionAck), 0u);
}

TEST_F(GigEFake, InterfaceRegistersSendRediscoveryAndActions) {
    IF_HANDLE i = OpenInterface();
    const uint32_t keys[3] = {0x11, 0x22, 0x33};
    size_t size = 12;
    ASSERT_EQ(gc->GCWritePort(i, IF_REG_ACTION, keys, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 12u);
    auto actions = service.Requests(IOCTL_GIGE_SendActionCmd);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(Field<uint32_t>(actions[0].input, 4), 0u);
    EXPECT_EQ(Field<uint32_t>(actions[0].input, 12), 0x11u);
    EXPECT_EQ(Field<uint32_t>(actions[0].input, 16), 0x22u);
    EXPECT_EQ(Field<uint32_t>(actions[0].input, 20), 0x33u);

    size = 8;
    ASSERT_EQ(gc->GCWritePort(i, IF_REG_ACTION, keys, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(service.Count(IOCTL_GIGE_SendActionCmd), 1u);

    size = 1;
    ASSERT_EQ(gc->GCWritePort(i, IF_REG_REDISCOVER, keys, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(service.Count(IOCTL_GIGE_Rediscover), 1u);
    size = 4;
    ASSERT_EQ(gc->GCReadPort(i, IF_REG_REDISCOVER, &size, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 0u);
}

} // namespace
} // namespace qorcam::testing
