// Who may do what: identity from the transport, ownership per handle, same-user streams, network configuration.
#include "CameraFixture.h"

#include <gtest/gtest.h>

namespace qorcam::gige::test {
namespace {

constexpr uint16_t kStreamPort = 0x8001;
constexpr uint16_t kEventPort = 0xE001;
constexpr uint32_t kRootUser = 0;
constexpr uint32_t kUser = 1000;
constexpr uint32_t kOtherUser = 1001;

// One request of a table: its code, input and output room.
struct Case {
    const char* name;
    uint32_t code;
    std::vector<uint8_t> in;
    size_t out;
};

GigeCaller Caller(uint32_t pid, uint32_t user, uint64_t connection, bool admin = false) {
    return {pid, user, connection, admin};
}

// A camera opened and streaming for a root process on handle 1.
struct AccessFixture : CameraFixture {
    AccessFixture() {
        AddCamera();
        EXPECT_EQ(As(owner, IOCTL_GIGE_DeviceOpen, Bytes().U32(kOwner).U32(kCameraIp))->status, STATUS_SUCCESS);
        EXPECT_EQ(As(owner, IOCTL_GIGE_StartHeartbeat,
                     Bytes().U32(kOwner).U32(kCameraIp).U32(1000).U32(3000).U16(kCommandPort))
                      ->status,
                  STATUS_SUCCESS);
        EXPECT_EQ(As(owner, IOCTL_GIGE_PortAlloc, Bytes().U32(kOwner).U16(kStreamPort).U16(1))->status,
                  STATUS_SUCCESS);
        EXPECT_EQ(As(owner, IOCTL_GIGE_SetStreamInfo,
                     Bytes().U32(kOwner).U32(kCameraIp).U16(kStreamPort).U16(0).U32(100).U8(1))
                      ->status,
                  STATUS_SUCCESS);
        EXPECT_EQ(As(owner, IOCTL_GIGE_SetStreamEnable, Bytes().U16(kStreamPort).U8(1).U8(0))->status,
                  STATUS_SUCCESS);
        TakeSent();
    }

    std::shared_ptr<FakeRequest> As(const GigeCaller& who, uint32_t code, std::vector<uint8_t> in,
                                     size_t out = 0) {
        auto r = std::make_shared<FakeRequest>(code, std::move(in), out);
        r->caller = who;
        driver.DeviceControl(r);
        return r;
    }
    std::shared_ptr<FakeRequest> StreamBuffer(const GigeCaller& who) {
        return As(who, IOCTL_GIGE_GetStream, Bytes().U16(kStreamPort).U32(0).U32(8), 546 + 1);
    }

    GigeCaller owner = Caller(kOwner, kRootUser, 1);
    GigeCaller attacker = Caller(777, kOtherUser, 2);
};

TEST(Access, RequestNamingAnotherProcessIsRefusedAndChangesNothing) {
    AccessFixture f;
    const uint32_t victim = kOwner;
    const Case cases[] = {
        {"close", IOCTL_GIGE_DeviceClose, Bytes().U32(victim).U32(kCameraIp), 0},
        {"free port", IOCTL_GIGE_PortFree, Bytes().U32(victim).U16(kStreamPort).U16(1), 0},
        {"register", IOCTL_GIGE_RegisterProcess, Bytes().U32(victim), 0},
        {"bus wait", IOCTL_GIGE_WaitBusEvent, Bytes().U32(victim), 0},
        {"heartbeat", IOCTL_GIGE_StartHeartbeat,
         Bytes().U32(victim).U32(kCameraIp).U32(0).U32(0).U16(kCommandPort), 0},
        {"cmd timeout", IOCTL_GIGE_SetCmdTimeout, Bytes().U32(victim).U32(kCameraIp).U32(1), 0},
        {"status", IOCTL_GIGE_GetDeviceStatus, Bytes().U32(victim).U32(kCameraIp), 4},
        {"del multicast", IOCTL_GIGE_DelMultiCast, Bytes().U32(victim).U16(0xA001).U32(Ip(239, 1, 1, 1)), 0},
        {"port alloc", IOCTL_GIGE_PortAlloc, Bytes().U32(victim).U16(0x8009).U16(1), 0},
        {"command", IOCTL_GIGE_SendCmd, CommandBlock(1, victim), 544},
        {"event info", IOCTL_GIGE_SetEventInfo, Bytes().U32(victim).U32(kCameraIp).U16(kEventPort).U16(0).Resize(16),
         0},
    };
    for (const auto& c : cases) {
        auto r = f.As(f.attacker, c.code, c.in, c.out);
        EXPECT_EQ(r->status, STATUS_ACCESS_DENIED) << c.name;
    }
    EXPECT_EQ(f.driver.RegistrationCount(), 0u);
    EXPECT_EQ(f.driver.PortCount(), 1u);
    // The victim still holds its camera: a second open fails, its own close works.
    EXPECT_EQ(f.As(f.attacker, IOCTL_GIGE_DeviceOpen, Bytes().U32(777).U32(kCameraIp))->status,
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(f.As(f.owner, IOCTL_GIGE_DeviceClose, Bytes().U32(kOwner).U32(kCameraIp))->status, STATUS_SUCCESS);
}

// A request too short for its code is malformed, whichever process it names: the invalid-parameter
// answer, as for anyone else, not the refusal.
TEST(Access, MalformedRequestNamingAnotherProcessIsAnInvalidParameter) {
    AccessFixture f;
    const uint32_t victim = kOwner;
    const Case cases[] = {
        {"close", IOCTL_GIGE_DeviceClose, Bytes().U32(victim), 0},
        {"free port", IOCTL_GIGE_PortFree, Bytes().U32(victim).U16(kStreamPort), 0},
        {"heartbeat", IOCTL_GIGE_StartHeartbeat, Bytes().U32(victim).U32(kCameraIp), 0},
        {"cmd timeout", IOCTL_GIGE_SetCmdTimeout, Bytes().U32(victim).U32(kCameraIp), 0},
        {"status without room", IOCTL_GIGE_GetDeviceStatus, Bytes().U32(victim).U32(kCameraIp), 0},
        {"command", IOCTL_GIGE_SendCmd, Bytes().U32(victim).U32(kCameraIp).U16(1), 544},
    };
    for (const auto& c : cases)
        EXPECT_EQ(f.As(f.attacker, c.code, c.in, c.out)->status, STATUS_INVALID_PARAMETER) << c.name;
    EXPECT_EQ(f.driver.PortCount(), 1u);
}

TEST(Access, StreamAndCameraControlsAreForTheOwnersUserOrRoot) {
    AccessFixture f;
    const GigeCaller sameUser = Caller(kOwner + 1, kRootUser, 3);
    const Case cases[] = {
        {"stream status", IOCTL_GIGE_GetStreamStatus, Bytes().U16(kStreamPort).Zeros(8), 24},
        {"leader wait", IOCTL_GIGE_GetStreamSync, Bytes().U16(kStreamPort).Zeros(8), 0},
        {"disable", IOCTL_GIGE_SetStreamEnable, Bytes().U16(kStreamPort).U8(0).U8(0), 0},
        {"test packet", IOCTL_GIGE_GetTestPacket, Bytes().U16(kStreamPort).Zeros(4).U32(0), 0},
        {"stop heartbeat", IOCTL_GIGE_StopHeartbeat, Bytes().U32(0).U32(kCameraIp), 0},
        {"register write", IOCTL_GIGE_SendCmd,
         Bytes().U32(777).U32(kCameraIp).U16(2).U16(kCommandPort).U16(1).U32(0x0A00).Resize(802), 544},
    };
    for (const auto& c : cases)
        EXPECT_EQ(f.As(f.attacker, c.code, c.in, c.out)->status, STATUS_ACCESS_DENIED) << c.name;
    EXPECT_EQ(f.StreamBuffer(f.attacker)->status, STATUS_ACCESS_DENIED);

    // Reads of a controlled camera are anyone's; the heartbeat still runs.
    auto read = f.As(f.attacker, IOCTL_GIGE_SendCmd, CommandBlock(1, 777), 544);
    EXPECT_EQ(read->status, 0xFFFFFFFFu) << "pended, waiting for its acknowledge";
    f.TakeSent();
    f.Advance(1100);
    bool heartbeat = false;
    for (const auto& s : f.TakeSent())
        heartbeat = heartbeat || s.dstPort == 3956;
    EXPECT_TRUE(heartbeat);

    // Another process of the same user (root here) may use the channel.
    EXPECT_EQ(f.As(sameUser, IOCTL_GIGE_GetStreamStatus, Bytes().U16(kStreamPort).Zeros(8), 24)->status,
              STATUS_SUCCESS);
    auto buffer = f.StreamBuffer(sameUser);
    EXPECT_EQ(buffer->completions, 0) << "pended";
    f.driver.Cancel(buffer);
}

TEST(Access, ActionCommandsReachAnotherUsersCameraOnlyFromRootOrAnAdministrator) {
    AccessFixture f; // the camera is held by a root process
    auto action = [&](const GigeCaller& who, uint32_t cameraIp) {
        const auto status = f.As(who, IOCTL_GIGE_SendActionCmd,
                                 Bytes().U32(who.processId).U32(cameraIp).U32(0).U32(1).U32(1).U32(1))->status;
        bool sent = false;
        for (const auto& s : f.TakeSent())
            sent = sent || s.Code() == ACTION_CMD;
        EXPECT_EQ(sent, status == STATUS_SUCCESS);
        return status;
    };
    const GigeCaller admin = Caller(778, kOtherUser, 3, true);
    const GigeCaller holdersUser = Caller(kOwner + 1, kRootUser, 4);
    // The broadcast reaches the held camera whether it is named or not.
    EXPECT_EQ(action(f.attacker, kCameraIp), STATUS_ACCESS_DENIED);
    EXPECT_EQ(action(f.attacker, 0), STATUS_ACCESS_DENIED);
    EXPECT_EQ(action(admin, kCameraIp), STATUS_SUCCESS);
    EXPECT_EQ(action(holdersUser, 0), STATUS_SUCCESS);

    // A camera another user's process holds is that user's to trigger; one
    // nobody holds is anyone's, as anyone may open it.
    const GigeCaller user = Caller(900, kUser, 5);
    ASSERT_EQ(f.As(f.owner, IOCTL_GIGE_DeviceClose, Bytes().U32(kOwner).U32(kCameraIp))->status, STATUS_SUCCESS);
    EXPECT_EQ(action(f.attacker, kCameraIp), STATUS_SUCCESS);
    ASSERT_EQ(f.As(user, IOCTL_GIGE_DeviceOpen, Bytes().U32(900).U32(kCameraIp))->status, STATUS_SUCCESS);
    EXPECT_EQ(action(user, kCameraIp), STATUS_SUCCESS);
    EXPECT_EQ(action(f.attacker, 0), STATUS_ACCESS_DENIED);
    EXPECT_EQ(action(f.owner, 0), STATUS_SUCCESS) << "root";
}

TEST(Access, AnotherUsersChannelServesOnlyThatUser) {
    CameraFixture f;
    f.AddCamera();
    const GigeCaller user = Caller(500, kUser, 4);
    const GigeCaller sibling = Caller(501, kUser, 5);
    const GigeCaller other = Caller(502, kOtherUser, 6);
    const GigeCaller root = Caller(503, kRootUser, 7);
    auto as = [&](const GigeCaller& who, uint32_t code, std::vector<uint8_t> in, size_t out = 0) {
        auto r = std::make_shared<FakeRequest>(code, std::move(in), out);
        r->caller = who;
        f.driver.DeviceControl(r);
        return r->status;
    };
    ASSERT_EQ(as(user, IOCTL_GIGE_PortAlloc, Bytes().U32(500).U16(kStreamPort).U16(1)), STATUS_SUCCESS);
    ASSERT_EQ(as(user, IOCTL_GIGE_SetStreamInfo,
                 Bytes().U32(500).U32(kCameraIp).U16(kStreamPort).U16(0).U32(100).U8(1)),
              STATUS_SUCCESS);
    const auto status = Bytes().U16(kStreamPort).Zeros(8);
    EXPECT_EQ(as(sibling, IOCTL_GIGE_GetStreamStatus, status, 24), STATUS_SUCCESS);
    EXPECT_EQ(as(root, IOCTL_GIGE_GetStreamStatus, status, 24), STATUS_SUCCESS);
    EXPECT_EQ(as(other, IOCTL_GIGE_GetStreamStatus, status, 24), STATUS_ACCESS_DENIED);
    // A channel needs a port its user holds.
    EXPECT_EQ(as(other, IOCTL_GIGE_SetStreamInfo,
                 Bytes().U32(502).U32(kCameraIp).U16(0x8002).U16(0).U32(100).U8(1)),
              STATUS_ACCESS_DENIED);
}

TEST(Access, NetworkConfigurationNeedsAnAdmin) {
    GigeParameters params;
    params.dhcp = 1;
    CameraFixture f(params);
    f.AddCamera();
    const Case cases[] = {
        {"adapter address", IOCTL_GIGE_SetAdapterAddress,
         Bytes().U16('q').U16('h').U16('0').Resize(sizeof(GigeAdapterAddress)), 0},
        {"camera ip", IOCTL_GIGE_SetCameraIp,
         Bytes().Raw(kCameraMac.data(), 6).Resize(sizeof(GigeCameraAddress)), 0},
        {"forceip", IOCTL_GIGE_SendNicCmd, Bytes().U32(0).U32(f.number).Resize(sizeof(GvcpCommandBlock)),
         sizeof(GvcpCommandBlock)},
        {"nic write", IOCTL_GIGE_SendNicCmd, Bytes().U32(3).U32(f.number).Resize(sizeof(GvcpCommandBlock)),
         sizeof(GvcpCommandBlock)},
        {"rediscover", IOCTL_GIGE_Rediscover, {}, 0},
    };
    for (const auto& c : cases) {
        auto denied = std::make_shared<FakeRequest>(c.code, c.in, c.out);
        denied->caller = Caller(600, kUser, 8);
        f.driver.DeviceControl(denied);
        EXPECT_EQ(denied->status, STATUS_ACCESS_DENIED) << c.name;
        auto allowed = std::make_shared<FakeRequest>(c.code, c.in, c.out);
        allowed->caller = Caller(601, kUser, 9, true);
        f.driver.DeviceControl(allowed);
        EXPECT_NE(allowed->status, STATUS_ACCESS_DENIED) << c.name;
        if (allowed->completions == 0) f.driver.Cancel(allowed);
    }
    // Reading through the tool's path needs no rights.
    auto read = std::make_shared<FakeRequest>(
        IOCTL_GIGE_SendNicCmd, Bytes().U32(1).U32(f.number).Resize(sizeof(GvcpCommandBlock)), sizeof(GvcpCommandBlock));
    read->caller = Caller(600, kUser, 8);
    f.driver.DeviceControl(read);
    EXPECT_NE(read->status, STATUS_ACCESS_DENIED);
    if (read->completions == 0) f.driver.Cancel(read);
}

TEST(Access, ClosingAHandleGivesBackWhatWasTakenOnIt) {
    AccessFixture f;
    const GigeCaller second = Caller(kOwner, kRootUser, 11); // same process, another handle
    ASSERT_EQ(f.As(second, IOCTL_GIGE_AddMultiCast, Bytes().U32(kOwner).U16(0xA001).U32(Ip(239, 1, 2, 3)))->status,
              STATUS_SUCCESS);
    auto buffer = f.StreamBuffer(f.owner);
    ASSERT_EQ(f.driver.PortCount(), 2u);

    f.driver.ConnectionClosed(second.connection);
    EXPECT_EQ(f.driver.MulticastCount(), 0u);
    EXPECT_EQ(f.driver.PortCount(), 1u);
    EXPECT_EQ(buffer->completions, 0) << "the first handle's stream goes on";

    f.driver.ConnectionClosed(f.owner.connection);
    EXPECT_EQ(buffer->status, STATUS_CANCELLED);
    EXPECT_EQ(f.driver.PortCount(), 0u);
    // The camera was released (its control given back at once) and is free for another process.
    bool released = false;
    for (const auto& s : f.TakeSent())
        released = released || s.dstPort == 3956;
    EXPECT_TRUE(released);
    EXPECT_EQ(f.As(f.attacker, IOCTL_GIGE_DeviceOpen, Bytes().U32(777).U32(kCameraIp))->status, STATUS_SUCCESS);
}

} // namespace
} // namespace qorcam::gige::test
