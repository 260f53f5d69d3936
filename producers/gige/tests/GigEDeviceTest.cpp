// The GigE device module over a fake service: opening with and without control, closing, the remote
// device port, device info and the device registers.
#include "ProducerFixture.h"

#include <algorithm>
#include <thread>

namespace qorcam::testing {
namespace {

using namespace qorcam::gige;

bool PortInRange(uint16_t port, uint16_t prefix) {
    return (port & 0xE000) == prefix;
}

TEST_F(GigEFake, ControlAccessTakesTheCameraAndClosingHandsItBack) {
    FakeCamera& c = AddCamera(0x55);
    c.registers[0x0938] = 3000;
    c.registers[0x0D04] = 0xC0000578; // flag bits above a packet size of 1400
    DEV_HANDLE device = OpenFirst(DEVICE_ACCESS_CONTROL);
    ASSERT_NE(device, nullptr);

    auto allocs = service.Requests(IOCTL_GIGE_PortAlloc);
    ASSERT_EQ(allocs.size(), 1u);
    EXPECT_EQ(Field<uint32_t>(allocs[0].input, 0), pid);
    const uint16_t port = Field<uint16_t>(allocs[0].input, 4);
    EXPECT_TRUE(PortInRange(port, 0xC000)) << std::hex << port;
    auto opens = service.Requests(IOCTL_GIGE_DeviceOpen);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(Field<uint32_t>(opens[0].input, 4), c.ip);

    EXPECT_EQ(service.RegisterReads(),
              (std::vector<uint32_t>{0x0A00, 0x0938, 0x0A00, 0x0A00, 0x0A00, 0x0D04}));
    EXPECT_EQ(service.RegisterWrites(),
              (std::vector<std::pair<uint32_t, uint32_t>>{{0x0A00, 2}, {0x0D04, 0x0578}}));
    auto beats = service.Requests(IOCTL_GIGE_StartHeartbeat);
    ASSERT_EQ(beats.size(), 1u);
    EXPECT_EQ(Field<uint32_t>(beats[0].input, 8), 300u);
    EXPECT_EQ(Field<uint32_t>(beats[0].input, 12), 3050u);
    EXPECT_EQ(Field<uint16_t>(beats[0].input, 16), port);

    ASSERT_EQ(gc->DevClose(device), GC_ERR_SUCCESS);
    EXPECT_EQ(service.Count(IOCTL_GIGE_StopHeartbeat), 1u);
    EXPECT_EQ(service.RegisterWrites().back(), (std::pair<uint32_t, uint32_t>{0x0A00, 0}));
    EXPECT_EQ(service.Count(IOCTL_GIGE_DeviceClose), 1u);
    auto frees = service.Requests(IOCTL_GIGE_PortFree);
    ASSERT_EQ(frees.size(), 1u);
    EXPECT_EQ(Field<uint16_t>(frees[0].input, 4), port);
    EXPECT_EQ(Camera(0).owner, 0u);
}

TEST_F(GigEFake, ReadOnlyAccessOnlyWatches) {
    AddCamera(0x55).registers[0x0A00] = 2; // controlled by someone else
    DEV_HANDLE device = OpenFirst(DEVICE_ACCESS_READONLY);
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(service.RegisterReads().empty());
    EXPECT_TRUE(service.RegisterWrites().empty());
    EXPECT_EQ(service.Count(IOCTL_GIGE_StartHeartbeat), 0u);
    ASSERT_EQ(gc->DevClose(device), GC_ERR_SUCCESS);
    EXPECT_EQ(service.Count(IOCTL_GIGE_StopHeartbeat), 0u);
}

TEST_F(GigEFake, FailedOpensReleaseWhatTheyTook) {
    struct Case {
        const char* name;
        uint32_t control; // what 0x0A00 reads at the start
        uint32_t owner;   // another owner in the service
        const char* text;
        size_t closes; // DeviceClose requests sent
    };
    const Case cases[] = {{"controlled elsewhere", 1, 0, "Device Open Error", 1},
                          {"claimed by another process", 0, 4242, "Device already open", 0}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        {
            auto held = service.Lock();
            service.cameras.clear();
        }
        FakeCamera& c = AddCamera(0x55);
        c.registers[0x0A00] = k.control;
        c.owner = k.owner;
        const size_t closesBefore = service.Count(IOCTL_GIGE_DeviceClose);
        const size_t freesBefore = service.Count(IOCTL_GIGE_PortFree);
        IF_HANDLE i = OpenInterface();
        ASSERT_EQ(gc->IFUpdateDeviceList(i, nullptr, 1000), GC_ERR_SUCCESS);
        DEV_HANDLE device = nullptr;
        ExpectError(gc->IFOpenDevice(i, DeviceId(c.mac).c_str(), DEVICE_ACCESS_CONTROL, &device),
                    GC_ERR_ERROR, k.text);
        EXPECT_EQ(service.Count(IOCTL_GIGE_DeviceClose) - closesBefore, k.closes);
        EXPECT_EQ(service.Count(IOCTL_GIGE_PortFree) - freesBefore, 1u);
        EXPECT_EQ(Camera(0).owner, k.owner);
        ASSERT_EQ(gc->IFClose(i), GC_ERR_SUCCESS);
    }
}

TEST_F(GigEFake, RemotePortReadsRegistersAndMemoryInChunks) {
    FakeCamera& c = AddCamera(0x55);
    c.registers[0x0100] = 0x11223344;
    for (size_t k = 0; k < c.memory.size(); ++k)
        c.memory[k] = static_cast<uint8_t>(k * 7);
    const std::string url = "Local:camera.xml;8000;1234";
    std::memcpy(c.memory.data() + 0x200, url.c_str(), url.size() + 1);
    DEV_HANDLE device = OpenFirst(DEVICE_ACCESS_READONLY);
    PORT_HANDLE port = nullptr;
    ASSERT_EQ(gc->DevGetPort(device, &port), GC_ERR_SUCCESS);

    uint8_t reg[4];
    size_t size = 4;
    ASSERT_EQ(gc->GCReadPort(port, 0x0100, reg, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(std::vector<uint8_t>(reg, reg + 4), (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}));
    const uint8_t written[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    ASSERT_EQ(gc->GCWritePort(port, 0x0104, written, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(Camera(0).registers[0x0104], 0xAABBCCDDu);

    std::vector<uint8_t> memory(1000);
    size = memory.size();
    const size_t before = service.Count(IOCTL_GIGE_SendCmd);
    ASSERT_EQ(gc->GCReadPort(port, 0x100, memory.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 1000u);
    EXPECT_TRUE(std::equal(memory.begin(), memory.end(), Camera(0).memory.begin() + 0x100));
    auto commands = service.Requests(IOCTL_GIGE_SendCmd);
    ASSERT_EQ(commands.size() - before, 2u);
    EXPECT_EQ(Field<uint16_t>(commands[before].input, 16), 512u);
    EXPECT_EQ(Field<uint32_t>(commands[before + 1].input, 12), 0x100u + 512);
    EXPECT_EQ(Field<uint16_t>(commands[before + 1].input, 16), 488u);

    char text[600] = {};
    size = sizeof text;
    INFO_DATATYPE type = 0;
    ASSERT_EQ(gc->GCGetPortURLInfo(port, 0, URL_INFO_URL, &type, text, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(std::string(text), url);
    uint32_t urls = 0;
    ASSERT_EQ(gc->GCGetNumPortURLs(port, &urls), GC_ERR_SUCCESS);
    EXPECT_EQ(urls, 2u);
    ExpectError(gc->GCGetPortURLInfo(port, 2, URL_INFO_URL, &type, text, &size), GC_ERR_INVALID_PARAMETER,
                "URL Index 2 is out of range");
}

TEST_F(GigEFake, RemotePortNeverTakesMoreThanItAskedFor) {
    AddCamera(0x55);
    DEV_HANDLE device = OpenFirst(DEVICE_ACCESS_READONLY);
    PORT_HANDLE port = nullptr;
    ASSERT_EQ(gc->DevGetPort(device, &port), GC_ERR_SUCCESS);
    // Answers that claim more bytes than asked, fewer, and none.
    const std::pair<int, size_t> cases[] = {{700, 100}, {40, 100}, {0, 0}};
    for (const auto& [claim, expected] : cases) {
        {
            auto held = service.Lock();
            service.memoryAnswerCount = claim;
        }
        std::vector<uint8_t> memory(100 + 16, 0xEE);
        size_t size = 100;
        ASSERT_EQ(gc->GCReadPort(port, 0x10, memory.data(), &size), GC_ERR_SUCCESS) << claim;
        EXPECT_EQ(size, expected) << claim;
        EXPECT_TRUE(std::all_of(memory.begin() + 100, memory.end(), [](uint8_t b) { return b == 0xEE; }))
            << "written past the caller's buffer with a claim of " << claim;
    }
}

TEST_F(GigEFake, PortFailuresAndALostCamera) {
    AddCamera(0x55);
    DEV_HANDLE device = OpenFirst(DEVICE_ACCESS_CONTROL);
    PORT_HANDLE port = nullptr;
    ASSERT_EQ(gc->DevGetPort(device, &port), GC_ERR_SUCCESS);
    uint8_t value[4] = {};
    size_t size = 4;
    ExpectError(gc->GCWritePort(port, 0xFFFC, value, &size), GC_ERR_ERROR, "Error Status");

    bool8_t visible = 0;
    size_t one = 1;
    ASSERT_EQ(gc->DevGetInfo(device, DEVICE_INFO_CUSTOM_VISIBLE, nullptr, &visible, &one), GC_ERR_SUCCESS);
    EXPECT_EQ(visible, 1);
    {
        auto held = service.Lock();
        service.cameras[0].lost = true;
    }
    ExpectError(gc->GCReadPort(port, 0x0A00, value, &size), GC_ERR_ERROR, "Error I/O");
    ASSERT_EQ(gc->DevGetInfo(device, DEVICE_INFO_CUSTOM_VISIBLE, nullptr, &visible, &one), GC_ERR_SUCCESS);
    EXPECT_EQ(visible, 0);
    // Once lost, the service is not asked again.
    {
        auto held = service.Lock();
        service.cameras[0].lost = false;
    }
    ASSERT_EQ(gc->DevGetInfo(device, DEVICE_INFO_CUSTOM_VISIBLE, nullptr, &visible, &one), GC_ERR_SUCCESS);
    EXPECT_EQ(visible, 0);
}

TEST_F(GigEFake, DeviceInfoAndStreams) {
    FakeCamera& c = AddCamera(0x55);
    c.versionMajor = 2;
    c.versionMinor = 1;
    DEV_HANDLE device = OpenFirst(DEVICE_ACCESS_READONLY);
    auto text = [&](DEVICE_INFO_CMD cmd) {
        return gc->InfoText(
            [&](INFO_DATATYPE* t, void* b, size_t* s) { return gc->DevGetInfo(device, cmd, t, b, s); });
    };
    auto number = [&](DEVICE_INFO_CMD cmd) {
        int32_t v = -1;
        size_t s = 4;
        EXPECT_EQ(gc->DevGetInfo(device, cmd, nullptr, &v, &s), GC_ERR_SUCCESS);
        return v;
    };
    EXPECT_EQ(text(DEVICE_INFO_ID), DeviceId(Camera(0).mac));
    EXPECT_EQ(text(DEVICE_INFO_CUSTOM_SERIAL_NUMBER), "SN1");
    EXPECT_EQ(number(DEVICE_INFO_ACCESS_STATUS), 1);
    EXPECT_EQ(number(DEVICE_INFO_CUSTOM_SPEC_MAJOR), 2);
    EXPECT_EQ(number(DEVICE_INFO_CUSTOM_SPEC_MINOR), 1);
    EXPECT_EQ(number(DEVICE_INFO_CUSTOM_SPEED), 1000);

    char id[16];
    size_t size = sizeof id;
    ASSERT_EQ(gc->DevGetDataStreamID(device, 1, id, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(std::string(id), "DS1");
    ExpectError(gc->DevGetDataStreamID(device, 2, id, &size), GC_ERR_INVALID_PARAMETER,
                "Invalid Stream Index 2");
    DS_HANDLE first = nullptr, second = nullptr;
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &first), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &second), GC_ERR_SUCCESS);
    EXPECT_EQ(first, second);
}

TEST_F(GigEFake, DeviceRegistersReachTheService) {
    AddCamera(0x55);
    DEV_HANDLE device = OpenFirst(DEVICE_ACCESS_CONTROL);
    auto write = [&](uint64_t address, std::vector<uint32_t> words, size_t size) {
        EXPECT_EQ(gc->GCWritePort(device, address, words.data(), &size), GC_ERR_SUCCESS);
        return size;
    };
    EXPECT_EQ(write(DEV_REG_HEARTBEAT, {1000}, 4), 4u);
    auto beats = service.Requests(IOCTL_GIGE_StartHeartbeat);
    ASSERT_EQ(beats.size(), 2u);
    EXPECT_EQ(Field<uint32_t>(beats[1].input, 8), 100u);
    EXPECT_EQ(Field<uint32_t>(beats[1].input, 12), 1050u);
    EXPECT_EQ(write(DEV_REG_HEARTBEAT, {0}, 4), 4u);
    EXPECT_EQ(service.Count(IOCTL_GIGE_StopHeartbeat), 1u);

    EXPECT_EQ(write(DEV_REG_CMD_TIMEOUT, {750}, 4), 4u);
    auto timeouts = service.Requests(IOCTL_GIGE_SetCmdTimeout);
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_EQ(Field<uint32_t>(timeouts[0].input, 0), pid);
    EXPECT_EQ(Field<uint32_t>(timeouts[0].input, 4), Camera(0).ip);
    EXPECT_EQ(Field<uint32_t>(timeouts[0].input, 8), 750u);

    EXPECT_EQ(write(DEV_REG_ACTION_NOWAIT, {1, 2, 3}, 12), 12u);
    auto actions = service.Requests(IOCTL_GIGE_SendActionCmd);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(Field<uint32_t>(actions[0].input, 4), Camera(0).ip);
    EXPECT_EQ(Field<uint32_t>(actions[0].input, 20), 3u);

    // Wrong sizes and unknown registers answer size 0 and send nothing.
    const size_t before = service.Log().size();
    EXPECT_EQ(write(DEV_REG_HEARTBEAT, {1000, 0}, 8), 0u);
    EXPECT_EQ(write(DEV_REG_ACTION, {1, 2}, 8), 0u);
    EXPECT_EQ(write(0x1FF, {1}, 4), 0u);
    EXPECT_EQ(service.Log().size(), before);
}

} // namespace
} // namespace qorcam::testing

namespace qorcam::testing {
namespace {

using namespace qorcam::gige;

TEST_F(GigEFake, CameraEventsFlowWhileRegistered) {
    AddCamera(0x55).registers[0x0B1C] = 0x12345; // the camera's message source port, in its low 16 bits
    DEV_HANDLE device = OpenFirst(DEVICE_ACCESS_CONTROL);
    const uint32_t destination = 0xA9FE0001;
    size_t size = 4;
    ASSERT_EQ(gc->GCWritePort(device, DEV_REG_102, &destination, &size), GC_ERR_SUCCESS);
    EVENT_HANDLE events = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(device, EVENT_CUSTOM_DEVICE_EVENT, &events), GC_ERR_SUCCESS)
        << gc->LastError().second;

    auto allocs = service.Requests(IOCTL_GIGE_PortAlloc);
    ASSERT_EQ(allocs.size(), 2u);
    const uint16_t port = Field<uint16_t>(allocs[1].input, 4);
    EXPECT_EQ(port & 0xE000, 0xE000);
    EXPECT_EQ(allocs[1].input[6], 3);
    auto infos = service.Requests(IOCTL_GIGE_SetEventInfo);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(Field<uint32_t>(infos[0].input, 4), Camera(0).ip);
    EXPECT_EQ(Field<uint16_t>(infos[0].input, 8), port);
    EXPECT_EQ(Field<uint16_t>(infos[0].input, 10), 0x2345);
    auto writes = service.RegisterWrites();
    ASSERT_GE(writes.size(), 4u);
    using Writes = std::vector<std::pair<uint32_t, uint32_t>>;
    const Writes channel{{0x0B00, port}, {0x0B10, destination}, {0x0B14, 200}, {0x0B18, 3}};
    EXPECT_EQ(Writes(writes.end() - 4, writes.end()), channel);
    ASSERT_TRUE(service.WaitPending(IOCTL_GIGE_GetEvent, 5));

    ASSERT_TRUE(service.CompletePending(IOCTL_GIGE_GetEvent, STATUS_SUCCESS,
                                        [](std::span<uint8_t> out, std::span<const uint8_t>) {
                                            for (size_t k = 0; k < out.size(); ++k)
                                                out[k] = static_cast<uint8_t>(k);
                                            return 24u;
                                        }));
    std::vector<uint8_t> record(600);
    size = record.size();
    ASSERT_EQ(gc->EventGetData(events, record.data(), &size, 2000), GC_ERR_SUCCESS);
    EXPECT_EQ(size, size_t(GIGE_EVENT_DATA_SIZE));
    EXPECT_EQ(record[8], 8);
    EXPECT_TRUE(service.WaitPending(IOCTL_GIGE_GetEvent, 5));

    ASSERT_EQ(gc->GCUnregisterEvent(device, EVENT_CUSTOM_DEVICE_EVENT), GC_ERR_SUCCESS);
    EXPECT_EQ(service.Pending(IOCTL_GIGE_GetEvent), 0u);
    writes = service.RegisterWrites();
    const Writes closed{{0x0B00, 0}, {0x0B10, 0}};
    EXPECT_EQ(Writes(writes.end() - 2, writes.end()), closed);
    auto frees = service.Requests(IOCTL_GIGE_PortFree);
    ASSERT_EQ(frees.size(), 1u);
    EXPECT_EQ(Field<uint16_t>(frees[0].input, 4), port);
}

TEST_F(GigEFake, RefusedEventChannelFailsTheRegistrationAndFreesThePort) {
    AddCamera(0x55);
    DEV_HANDLE device = OpenFirst(DEVICE_ACCESS_CONTROL);
    {
        auto held = service.Lock();
        service.refused = {IOCTL_GIGE_SetEventInfo};
    }
    EVENT_HANDLE events = nullptr;
    ExpectError(gc->GCRegisterEvent(device, EVENT_CUSTOM_DEVICE_EVENT, &events), GC_ERR_ERROR,
                "IOCTL_GIGE_SetEventInfo Error");
    auto allocs = service.Requests(IOCTL_GIGE_PortAlloc);
    auto frees = service.Requests(IOCTL_GIGE_PortFree);
    ASSERT_EQ(frees.size(), 1u);
    EXPECT_EQ(Field<uint16_t>(frees[0].input, 4), Field<uint16_t>(allocs.back().input, 4));
    EXPECT_EQ(service.Count(IOCTL_GIGE_GetEvent), 0u);
}

TEST_F(GigEFake, TestPacketCheckAnswersItsCode) {
    AddCamera(0x55).registers[0x0D04] = 1400;
    DEV_HANDLE device = OpenFirst(DEVICE_ACCESS_CONTROL);
    const uint32_t wait = 100;
    size_t size = 4;
    ASSERT_EQ(gc->GCWritePort(device, DEV_REG_TEST_TIMEOUT, &wait, &size), GC_ERR_SUCCESS);
    auto check = [&] {
        uint32_t code = 77;
        size_t n = 4;
        EXPECT_EQ(gc->GCReadPort(device, DEV_REG_TEST_PACKET, &code, &n), GC_ERR_SUCCESS);
        return code;
    };
    // No packet within the wait.
    EXPECT_EQ(check(), 13u);
    EXPECT_EQ(service.Pending(IOCTL_GIGE_GetTestPacket), 0u);
    auto setups = service.Requests(IOCTL_GIGE_SetStreamInfo);
    ASSERT_EQ(setups.size(), 1u);
    EXPECT_EQ(Field<uint32_t>(setups[0].input, 12), 1400u);
    // A packet that arrives.
    std::thread answer([&] {
        if (service.WaitPending(IOCTL_GIGE_GetTestPacket, 1))
            service.CompletePending(IOCTL_GIGE_GetTestPacket, STATUS_SUCCESS);
    });
    EXPECT_EQ(check(), 0u);
    answer.join();
    auto writes = service.RegisterWrites();
    EXPECT_TRUE(std::find(writes.begin(), writes.end(), std::pair<uint32_t, uint32_t>{0x0D04, 0xC0000578}) !=
                writes.end());
    EXPECT_EQ(writes.back(), (std::pair<uint32_t, uint32_t>{0x0D00, 0}));
    EXPECT_EQ(service.Count(IOCTL_GIGE_PortFree), service.Count(IOCTL_GIGE_PortAlloc) - 1);
}

TEST_F(GigEFake, TestPacketCheckNeedsControl) {
    AddCamera(0x55);
    DEV_HANDLE device = OpenFirst(DEVICE_ACCESS_READONLY);
    uint32_t code = 0;
    size_t size = 4;
    ASSERT_EQ(gc->GCReadPort(device, DEV_REG_TEST_PACKET, &code, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(code, 6u);
    EXPECT_EQ(service.Count(IOCTL_GIGE_PortAlloc), 1u);
}

} // namespace
} // namespace qorcam::testing
