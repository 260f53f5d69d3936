// Device-control codes: size rules, statuses, pending, cancelling and per-process state.
#include "Fixture.h"

#include <gtest/gtest.h>

namespace qorcam::gige::test {
namespace {

constexpr uint32_t kPid = 4242;
const uint32_t kCamIp = Ip(169, 254, 10, 2);

struct Case {
    const char* what;
    uint32_t code;
    std::vector<uint8_t> in;
    size_t out;
    uint32_t status;
    uint32_t bytes;
};

std::vector<uint8_t> Block(size_t size, uint16_t command, uint16_t count = 1) {
    Bytes b;
    b.U32(kPid).U32(kCamIp).U16(command).U16(0xC001).U16(count);
    return b.Resize(size);
}

// Every code against one bound adapter with no camera on its network: the
// codes that need a device entry, channel or port fail, the ones that wait
// pend, and every minimum size is enforced.
std::vector<Case> Cases() {
    const uint32_t P = STATUS_PENDING, BAD = STATUS_INVALID_PARAMETER, OK = STATUS_SUCCESS;
    return {
        {"version", IOCTL_GIGE_GetVersion, {}, 8, OK, 8},
        {"version short output", IOCTL_GIGE_GetVersion, {}, 7, BAD, 0},
        {"cmd timeout no device", IOCTL_GIGE_SetCmdTimeout, Bytes().U32(kPid).U32(kCamIp).U32(100), 0, BAD,
         0},
        {"cmd timeout short", IOCTL_GIGE_SetCmdTimeout, Bytes().U32(kPid).U32(kCamIp), 0, BAD, 0},
        {"nic count", IOCTL_GIGE_GetNicCount, {}, 4, OK, 4},
        {"nic count short", IOCTL_GIGE_GetNicCount, {}, 3, BAD, 0},
        {"register", IOCTL_GIGE_RegisterProcess, Bytes().U32(kPid), 0, P, 0},
        {"register short", IOCTL_GIGE_RegisterProcess, Bytes().U16(1), 0, BAD, 0},
        {"bus event", IOCTL_GIGE_WaitBusEvent, Bytes().U32(kPid), 0, P, 0},
        {"bus event short", IOCTL_GIGE_WaitBusEvent, {}, 0, BAD, 0},
        {"device list waits for discovery", IOCTL_GIGE_GetDeviceList, {}, 4, P, 0},
        {"device list short", IOCTL_GIGE_GetDeviceList, {}, 3, BAD, 0},
        {"device info no device", IOCTL_GIGE_GetDeviceInfo, Bytes().U32(kCamIp), 20, BAD, 0},
        {"device info short output", IOCTL_GIGE_GetDeviceInfo, Bytes().U32(kCamIp), 19, BAD, 0},
        {"open no device", IOCTL_GIGE_DeviceOpen, Bytes().U32(kPid).U32(kCamIp), 0, BAD, 0},
        {"close no device", IOCTL_GIGE_DeviceClose, Bytes().U32(kPid).U32(kCamIp), 0, BAD, 0},
        {"port alloc", IOCTL_GIGE_PortAlloc, Bytes().U32(kPid).U16(0x8001).U16(0), 0, OK, 0},
        {"port alloc short", IOCTL_GIGE_PortAlloc, Bytes().U32(kPid).U16(0x8001), 0, BAD, 0},
        {"port free unknown", IOCTL_GIGE_PortFree, Bytes().U32(kPid).U16(0x8002).U16(0), 0, BAD, 0},
        {"add multicast", IOCTL_GIGE_AddMultiCast, Bytes().U32(kPid).U16(0xA001).U32(Ip(239, 1, 2, 3)), 0, OK,
         0},
        {"add multicast short", IOCTL_GIGE_AddMultiCast, Bytes().U32(kPid).U16(0xA001), 0, BAD, 0},
        {"del multicast unknown", IOCTL_GIGE_DelMultiCast,
         Bytes().U32(kPid).U16(0xA001).U32(Ip(239, 9, 9, 9)), 0, BAD, 0},
        {"start heartbeat no device", IOCTL_GIGE_StartHeartbeat,
         Bytes().U32(kPid).U32(kCamIp).U32(1000).U32(3000).U16(0xC002), 0, BAD, 0},
        {"stop heartbeat no device", IOCTL_GIGE_StopHeartbeat, Bytes().U32(kPid).U32(kCamIp), 0, BAD, 0},
        {"send cmd no device", IOCTL_GIGE_SendCmd, Block(554, 1), 544, BAD, 0},
        {"send cmd short input", IOCTL_GIGE_SendCmd, Block(553, 1), 544, BAD, 0},
        {"send cmd short output", IOCTL_GIGE_SendCmd, Block(802, 1), 543, BAD, 0},
        {"send cmd unknown command", IOCTL_GIGE_SendCmd, Block(802, 6), 544, BAD, 0},
        {"send cmd 136 registers", IOCTL_GIGE_SendCmd, Block(802, 1, 136), 544, BAD, 0},
        {"send cmd 68 writes", IOCTL_GIGE_SendCmd, Block(802, 2, 68), 544, BAD, 0},
        {"stream info no device", IOCTL_GIGE_SetStreamInfo, Block(17, 0), 0, BAD, 0},
        {"stream info short", IOCTL_GIGE_SetStreamInfo, Block(16, 0), 0, BAD, 0},
        {"stream status no channel", IOCTL_GIGE_GetStreamStatus, Bytes().U16(0x8001).Resize(10), 24, BAD, 0},
        {"get stream no channel", IOCTL_GIGE_GetStream, Bytes().U16(0x8001).U32(100).U32(8), 546 + 100 + 1,
         BAD, 0},
        {"get stream output one short", IOCTL_GIGE_GetStream, Bytes().U16(0x8001).U32(100).U32(9),
         546 + 100 + 1, BAD, 0},
        // 546 + 0xFFFFFFFF + 0x20000000 wraps to a small number in 32 bits.
        {"get stream size overflow", IOCTL_GIGE_GetStream,
         Bytes().U16(0x8001).U32(0xFFFFFFFF).U32(0xFFFFFFF8), 1024, BAD, 0},
        {"test packet no channel", IOCTL_GIGE_GetTestPacket, Bytes().U16(0x8001).U32(64).Resize(10), 64, BAD,
         0},
        {"rediscover in server mode", IOCTL_GIGE_Rediscover, {}, 0, OK, 0},
        {"message enable", IOCTL_GIGE_SetMessageEnable, Bytes().U32(0), 0, OK, 0},
        {"message enable short", IOCTL_GIGE_SetMessageEnable, {}, 0, BAD, 0},
        {"get message", IOCTL_GIGE_GetMessage, {}, 540, P, 0},
        {"get message short", IOCTL_GIGE_GetMessage, {}, 539, BAD, 0},
        {"set adapter address", IOCTL_GIGE_SetAdapterAddress, Bytes().Resize(528), 0, OK, 0},
        {"set adapter address short", IOCTL_GIGE_SetAdapterAddress, Bytes().Resize(527), 0, BAD, 0},
        {"get adapter address", IOCTL_GIGE_GetAdapterAddress, Bytes().U16('q').U16('h').U16('0').U16(0), 4,
         OK, 0},
        {"get adapter address short", IOCTL_GIGE_GetAdapterAddress, {}, 3, BAD, 0},
        {"nic list", IOCTL_GIGE_GetNicList, Bytes().U32(4), 4 * 802, OK, 802},
        {"nic list no room", IOCTL_GIGE_GetNicList, Bytes().U32(4), 801, STATUS_NO_MORE_ENTRIES_LISTED, 0},
        {"nic list short", IOCTL_GIGE_GetNicList, {}, 802, BAD, 0},
        {"nic cmd", IOCTL_GIGE_SendNicCmd, Bytes().U32(1).U32(0).Resize(546), 546, P, 0},
        {"nic cmd unknown adapter", IOCTL_GIGE_SendNicCmd, Bytes().U32(1).U32(7).Resize(546), 546, BAD, 0},
        {"nic cmd unknown command", IOCTL_GIGE_SendNicCmd, Bytes().U32(5).U32(0).Resize(546), 546, BAD, 0},
        {"nic cmd short", IOCTL_GIGE_SendNicCmd, Bytes().U32(1).U32(0).Resize(545), 546, BAD, 0},
        {"start discovery", IOCTL_GIGE_StartDiscovery, {}, 0, OK, 0},
        {"discovery ack", IOCTL_GIGE_GetDiscoveryAck, {}, 110, P, 0},
        {"discovery ack short", IOCTL_GIGE_GetDiscoveryAck, {}, 109, BAD, 0},
        {"camera ip unknown", IOCTL_GIGE_SetCameraIp, Bytes().Raw(kPeerMac.data(), 6).U32(kCamIp), 0, BAD, 0},
        {"stream sync no channel", IOCTL_GIGE_GetStreamSync, Bytes().U16(0x8001).Resize(10), 0, BAD, 0},
        {"stream enable no channel", IOCTL_GIGE_SetStreamEnable, Bytes().U16(0x8001).U8(1).U8(0), 0, BAD, 0},
        {"event info no device", IOCTL_GIGE_SetEventInfo, Bytes().U32(kPid).U32(kCamIp).U16(0xE001).U16(4000),
         0, BAD, 0},
        {"get event no channel", IOCTL_GIGE_GetEvent, Bytes().U32(kPid).U32(kCamIp).U16(0xE001).U16(0), 548,
         BAD, 0},
        {"action", IOCTL_GIGE_SendActionCmd, Bytes().Resize(24), 0, OK, 0},
        {"action short", IOCTL_GIGE_SendActionCmd, Bytes().Resize(23), 0, BAD, 0},
        {"action ack", IOCTL_GIGE_WaitActionAck, {}, 8, P, 0},
        {"action ack short", IOCTL_GIGE_WaitActionAck, {}, 7, BAD, 0},
        {"device status no device", IOCTL_GIGE_GetDeviceStatus, Bytes().U32(kPid).U32(kCamIp), 4, BAD, 0},
        {"unknown code", 0x222499, {}, 64, STATUS_INVALID_DEVICE_REQUEST, 0},
    };
}

class DeviceControlCodes : public ::testing::TestWithParam<Case> {};

TEST_P(DeviceControlCodes, AnswersWithSizeRulesAndStatus) {
    const Case& c = GetParam();
    GigeParameters params;
    params.dhcp = 1;
    DriverFixture f(params);
    f.Bind(f.port);
    auto r = std::make_shared<FakeRequest>(c.code, c.in, c.out);
    uint32_t status = f.driver.DeviceControl(r);
    EXPECT_EQ(status, c.status) << std::hex << status;
    if (c.status == STATUS_PENDING) {
        EXPECT_EQ(r->completions, 0);
        // Every waiting request can be cancelled and completes as cancelled.
        r->cancelled = true;
        f.driver.Cancel(r);
    }
    EXPECT_EQ(r->completions, 1);
    if (c.status != STATUS_PENDING)
        EXPECT_EQ(r->bytes, c.bytes);
    else
        EXPECT_EQ(r->status, STATUS_CANCELLED);
}

INSTANTIATE_TEST_SUITE_P(AllCodes, DeviceControlCodes, ::testing::ValuesIn(Cases()), [](const auto& info) {
    std::string name = info.param.what;
    for (auto& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

// One byte short of any minimum, input or output, is refused before anything
// else is looked at.
TEST(DeviceControl, EveryMinimumSizeIsEnforced) {
    struct Minimum {
        uint32_t code;
        size_t in;
        size_t out;
    };
    const Minimum minimums[] = {
        {IOCTL_GIGE_GetVersion, 0, 8},
        {IOCTL_GIGE_SetCmdTimeout, 12, 0},
        {IOCTL_GIGE_GetNicCount, 0, 4},
        {IOCTL_GIGE_RegisterProcess, 4, 0},
        {IOCTL_GIGE_WaitBusEvent, 4, 0},
        {IOCTL_GIGE_GetDeviceList, 0, 4},
        {IOCTL_GIGE_GetDeviceInfo, 4, 20},
        {IOCTL_GIGE_DeviceOpen, 8, 0},
        {IOCTL_GIGE_DeviceClose, 8, 0},
        {IOCTL_GIGE_PortAlloc, 8, 0},
        {IOCTL_GIGE_PortFree, 8, 0},
        {IOCTL_GIGE_AddMultiCast, 10, 0},
        {IOCTL_GIGE_DelMultiCast, 10, 0},
        {IOCTL_GIGE_StartHeartbeat, 18, 0},
        {IOCTL_GIGE_StopHeartbeat, 8, 0},
        {IOCTL_GIGE_SendCmd, 554, 544},
        {IOCTL_GIGE_SetStreamInfo, 17, 0},
        {IOCTL_GIGE_GetStreamStatus, 10, 24},
        {IOCTL_GIGE_GetStream, 10, 546 + 1},
        {IOCTL_GIGE_GetTestPacket, 10, 0},
        {IOCTL_GIGE_SetMessageEnable, 4, 0},
        {IOCTL_GIGE_GetMessage, 0, 540},
        {IOCTL_GIGE_SetAdapterAddress, 528, 0},
        {IOCTL_GIGE_GetAdapterAddress, 0, 4},
        {IOCTL_GIGE_GetNicList, 4, 0},
        {IOCTL_GIGE_SendNicCmd, 546, 546},
        {IOCTL_GIGE_GetDiscoveryAck, 0, 110},
        {IOCTL_GIGE_SetCameraIp, 10, 0},
        {IOCTL_GIGE_GetStreamSync, 10, 0},
        {IOCTL_GIGE_SetStreamEnable, 4, 0},
        {IOCTL_GIGE_SetEventInfo, 12, 0},
        {IOCTL_GIGE_GetEvent, 12, 548},
        {IOCTL_GIGE_SendActionCmd, 24, 0},
        {IOCTL_GIGE_WaitActionAck, 0, 8},
        {IOCTL_GIGE_GetDeviceStatus, 8, 4},
    };
    DriverFixture f;
    f.Bind(f.port);
    for (const auto& m : minimums) {
        // A stream form of 0 bytes of room and 1 packet needs 546 + 1 bytes.
        std::vector<uint8_t> in(m.in, 0);
        if (m.code == IOCTL_GIGE_GetStream) in = Bytes().U16(0x8001).U32(0).U32(1);
        if (m.in > 0) {
            std::vector<uint8_t> shortIn(in.begin(), in.end() - 1);
            EXPECT_EQ(f.Call(m.code, shortIn, m.out)->status, STATUS_INVALID_PARAMETER) << std::hex << m.code;
        }
        if (m.out > 0) {
            EXPECT_EQ(f.Call(m.code, in, m.out - 1)->status, STATUS_INVALID_PARAMETER) << std::hex << m.code;
        }
    }
}

TEST(DeviceControl, AnswersWithoutAdaptersAndDuringUnload) {
    DriverFixture f; // DHCP 0
    auto list = f.Call(IOCTL_GIGE_GetDeviceList, {}, 4);
    EXPECT_EQ(list->status, STATUS_SUCCESS);
    EXPECT_EQ(list->bytes, 4u);
    EXPECT_EQ(list->Out<uint32_t>(), 0u);
    EXPECT_EQ(f.Call(IOCTL_GIGE_Rediscover)->status, STATUS_INVALID_DEVICE_REQUEST);
    auto version = f.Call(IOCTL_GIGE_GetVersion, {}, 8);
    EXPECT_EQ(version->Out<uint32_t>(), 10106u);

    auto waiting = f.Call(IOCTL_GIGE_GetMessage, {}, 540);
    f.driver.Unload();
    EXPECT_EQ(waiting->status, STATUS_CANCELLED);
    EXPECT_EQ(f.Call(IOCTL_GIGE_GetVersion, {}, 8)->status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(f.Call(0x222499)->status, STATUS_INVALID_PARAMETER);
}

TEST(DeviceControl, RequestCancelledBeforeItPendsIsNeverQueued) {
    DriverFixture f;
    auto r = std::make_shared<FakeRequest>(IOCTL_GIGE_GetMessage, std::vector<uint8_t>{}, 540);
    r->cancelled = true;
    EXPECT_EQ(f.driver.DeviceControl(r), STATUS_CANCELLED);
    // A later message finds no waiting request.
    f.Call(IOCTL_GIGE_SetMessageEnable, Bytes().U32(1));
    f.Bind(f.port);
    f.Call(IOCTL_GIGE_AddMultiCast, Bytes().U32(kPid).U16(0xA001).U32(Ip(239, 1, 2, 3)));
    EXPECT_EQ(r->completions, 1);
    // Cancelling a request that already completed changes nothing.
    f.driver.Cancel(r);
    EXPECT_EQ(r->completions, 1);
}

TEST(DeviceControl, PortIsListedOnceWhoeverAsks) {
    DriverFixture f;
    EXPECT_EQ(f.Call(IOCTL_GIGE_PortAlloc, Bytes().U32(1).U16(0x8001).U16(0))->status, STATUS_SUCCESS);
    EXPECT_EQ(f.Call(IOCTL_GIGE_PortAlloc, Bytes().U32(1).U16(0x8001).U16(0))->status,
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(f.Call(IOCTL_GIGE_PortAlloc, Bytes().U32(2).U16(0x8001).U16(0))->status,
              STATUS_INVALID_PARAMETER);
    // Another process can't free it either.
    EXPECT_EQ(f.Call(IOCTL_GIGE_PortFree, Bytes().U32(2).U16(0x8001).U16(0))->status,
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(f.Call(IOCTL_GIGE_PortFree, Bytes().U32(1).U16(0x8001).U16(0))->status, STATUS_SUCCESS);
    EXPECT_EQ(f.driver.PortCount(), 0u);
}

TEST(DeviceControl, MulticastGroupsFillEveryAdaptersList) {
    DriverFixture f;
    FakePort second;
    f.Bind(f.port);
    f.Bind(second, "qh1", kPeerMac);
    auto message = f.Call(IOCTL_GIGE_GetMessage, {}, 540);
    f.Call(IOCTL_GIGE_SetMessageEnable, Bytes().U32(1));
    EXPECT_EQ(f.Call(IOCTL_GIGE_AddMultiCast, Bytes().U32(1).U16(0xA001).U32(Ip(239, 129, 2, 3)))->status,
              STATUS_SUCCESS);
    EXPECT_EQ(f.Call(IOCTL_GIGE_AddMultiCast, Bytes().U32(2).U16(0xA002).U32(Ip(224, 5, 6, 7)))->status,
              STATUS_SUCCESS);
    // A group already listed fails and takes back the port it entered.
    EXPECT_EQ(f.Call(IOCTL_GIGE_AddMultiCast, Bytes().U32(3).U16(0xA003).U32(Ip(224, 5, 6, 7)))->status,
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(f.driver.PortCount(), 2u);

    const std::vector<std::array<uint8_t, 6>> expected = {{0x01, 0x00, 0x5E, 0x01, 0x02, 0x03},
                                                          {0x01, 0x00, 0x5E, 0x05, 0x06, 0x07}};
    EXPECT_EQ(f.port.multicast, expected);
    EXPECT_EQ(second.multicast, expected);

    ASSERT_EQ(message->status, STATUS_SUCCESS);
    EXPECT_EQ(message->bytes, 532u);
    EXPECT_EQ(message->written, 540u);
    auto rec = message->Out<GigeMessageRecord>();
    EXPECT_EQ(std::u16string(rec.text), u"Set MULTICAST_LIST OK");
    EXPECT_EQ(rec.adapterWord, 0x55443322u); // MAC bytes 2..5, byte 2 lowest

    EXPECT_EQ(f.Call(IOCTL_GIGE_DelMultiCast, Bytes().U32(2).U16(0xA002).U32(Ip(224, 5, 6, 7)))->status,
              STATUS_SUCCESS);
    EXPECT_EQ(f.port.multicast.size(), 1u);
    EXPECT_EQ(f.driver.PortCount(), 1u);
}

TEST(DeviceControl, ClosingTheRegistrationFreesWhatTheProcessHeld) {
    DriverFixture f;
    f.Bind(f.port);
    auto reg = f.Call(IOCTL_GIGE_RegisterProcess, Bytes().U32(kPid));
    auto other = f.Call(IOCTL_GIGE_RegisterProcess, Bytes().U32(7));
    auto wait = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(kPid));
    auto otherWait = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(7));
    f.Call(IOCTL_GIGE_PortAlloc, Bytes().U32(kPid).U16(0x8001).U16(0));
    f.Call(IOCTL_GIGE_PortAlloc, Bytes().U32(7).U16(0x8002).U16(0));
    f.Call(IOCTL_GIGE_AddMultiCast, Bytes().U32(kPid).U16(0xA001).U32(Ip(239, 1, 2, 3)));
    ASSERT_EQ(f.driver.PortCount(), 3u);
    ASSERT_EQ(f.driver.BusEventWaiterCount(), 2u);

    reg->cancelled = true;
    f.driver.Cancel(reg);
    EXPECT_EQ(reg->status, STATUS_CANCELLED);
    EXPECT_EQ(wait->status, STATUS_CANCELLED);
    EXPECT_EQ(otherWait->completions, 0);
    EXPECT_EQ(f.driver.PortCount(), 1u);
    EXPECT_EQ(f.driver.MulticastCount(), 0u);
    EXPECT_TRUE(f.port.multicast.empty());
    EXPECT_EQ(f.driver.BusEventWaiterCount(), 1u);
    EXPECT_EQ(f.driver.RegistrationCount(), 1u);
    // The freed port and group are free for anyone.
    EXPECT_EQ(f.Call(IOCTL_GIGE_PortAlloc, Bytes().U32(9).U16(0x8001).U16(0))->status, STATUS_SUCCESS);
    EXPECT_EQ(f.Call(IOCTL_GIGE_AddMultiCast, Bytes().U32(9).U16(0xA005).U32(Ip(239, 1, 2, 3)))->status,
              STATUS_SUCCESS);
    (void)other;
}

TEST(DeviceControl, NicListAndAdapterNames) {
    DriverFixture f;
    FakePort second;
    f.Bind(f.port, "qh0");
    f.Bind(second, "qh1", kPeerMac);
    f.driver.SystemAddressChanged(1, Ip(10, 0, 0, 5), Ip(255, 255, 255, 0));

    auto list = f.Call(IOCTL_GIGE_GetNicList, Bytes().U32(8), 8 * 802);
    ASSERT_EQ(list->status, STATUS_SUCCESS);
    ASSERT_EQ(list->bytes, 2u * 802);
    auto second_rec = list->Out<NicInfoRecord>(802);
    EXPECT_EQ(std::u16string(second_rec.shortName), u"qh1");
    EXPECT_EQ(second_rec.adapterNumber, 1u);
    EXPECT_EQ(second_rec.ip, Ip(10, 0, 0, 5));
    EXPECT_EQ(0, std::memcmp(second_rec.mac, kPeerMac.data(), 6));

    auto one = f.Call(IOCTL_GIGE_GetNicList, Bytes().U32(1), 8 * 802);
    EXPECT_EQ(one->status, STATUS_NO_MORE_ENTRIES_LISTED);
    EXPECT_EQ(one->bytes, 802u);

    // Names compare without regard to case and only as far as the input goes.
    struct NameCase {
        std::vector<uint8_t> in;
        uint32_t found;
    };
    const NameCase names[] = {
        {Bytes().U16('Q').U16('H').U16('1').U16(0), 1},
        {Bytes().U16('q').U16('h').U16('1'), 1},         // no terminator: ends with the input
        {Bytes().U16('q').U16('h').U16('1').U8('x'), 1}, // odd byte left over
        {Bytes().U16('q').U16('h'), 0},
        {Bytes().U16('q').U16('h').U16('1').U16('2').U16(0), 0},
        {{}, 0},
    };
    for (const auto& n : names) {
        auto r = f.Call(IOCTL_GIGE_GetAdapterAddress, n.in, 4);
        EXPECT_EQ(r->status, STATUS_SUCCESS);
        EXPECT_EQ(r->bytes, 0u);
        EXPECT_EQ(r->written, 4u); // the answer still goes back
        EXPECT_EQ(r->Out<uint32_t>(), n.found);
    }
    // A full-length name with no terminator matches nothing and reads nothing beyond.
    std::vector<uint8_t> longName(260 * 2 + 40, 'a');
    EXPECT_EQ(f.Call(IOCTL_GIGE_GetAdapterAddress, longName, 4)->Out<uint32_t>(), 0u);

    GigeAdapterAddress addr{};
    addr.shortName[0] = 'Q';
    addr.shortName[1] = 'h';
    addr.shortName[2] = '0';
    addr.ip = Ip(192, 168, 7, 7);
    addr.mask = Ip(255, 255, 0, 0);
    EXPECT_EQ(f.Call(IOCTL_GIGE_SetAdapterAddress, Bytes().Raw(&addr, sizeof addr))->status, STATUS_SUCCESS);
    auto after = f.Call(IOCTL_GIGE_GetNicList, Bytes().U32(1), 802);
    EXPECT_EQ(after->Out<NicInfoRecord>().ip, Ip(192, 168, 7, 7));
}

TEST(DeviceControl, UnmappableOutputFailsWithMappingStatus) {
    DriverFixture f;
    auto r = std::make_shared<FakeRequest>(IOCTL_GIGE_GetVersion, std::vector<uint8_t>{}, 8);
    r->mappable = false;
    EXPECT_EQ(f.driver.DeviceControl(r), STATUS_NO_MEMORY_MAPPING);
}

} // namespace
} // namespace qorcam::gige::test
