// Camera control over a scripted camera: device list, commands, heartbeat, actions, events, tools.
#include "CameraFixture.h"

#include <gtest/gtest.h>

#include <functional>

namespace qorcam::gige::test {
namespace {

void PutBlock32(std::vector<uint8_t>& b, size_t offset, uint32_t v) {
    std::memcpy(b.data() + offset, &v, 4);
}
void PutBlock16(std::vector<uint8_t>& b, size_t offset, uint16_t v) {
    std::memcpy(b.data() + offset, &v, 2);
}

TEST(DeviceList, DiscoveryAnswersBecomeRecords) {
    CameraFixture f;
    auto r = f.Call(IOCTL_GIGE_GetDeviceList, Bytes().U32(60), 12124);
    EXPECT_EQ(r->completions, 0);
    auto sent = f.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    const SentUdp& d = sent[0];
    EXPECT_EQ(d.dstMac, (MacAddress{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(+d.dstIp, 0xFFFFFFFFu);
    EXPECT_EQ(+d.srcIp, kHostIp);
    EXPECT_EQ(+d.srcPort, 3957);
    EXPECT_EQ(+d.dstPort, 3956);
    EXPECT_EQ(+d.udp[0], 0x42);
    EXPECT_EQ(+d.Flags(), 0x01);
    EXPECT_EQ(+d.Code(), DISCOVERY_CMD);
    EXPECT_EQ(+d.Length(), 0);

    const MacAddress other{0x00, 0x11, 0x22, 0x33, 0x44, 0x66};
    auto ack = [&](std::vector<uint8_t> payload, const MacAddress& mac) {
        f.driver.Receive(f.number, FromCamera(3956, 3957, AckPacket(0, DISCOVERY_ACK, d.Id(), payload), mac));
    };
    ack(DiscoveryPayload(kCameraIp), kCameraMac);
    ack(DiscoveryPayload(Ip(10, 0, 0, 9), other), other); // outside the adapter's subnet
    auto truncated = DiscoveryPayload(Ip(169, 254, 10, 3), other);
    truncated.resize(100); // too short to hold its fields
    ack(truncated, other);

    f.Advance(99);
    EXPECT_EQ(r->completions, 0) << "answered before LISTWAIT";
    f.Advance(5);
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(r->bytes, 4u + 202);
    EXPECT_EQ(r->Out<uint32_t>(), 1u);
    auto rec = r->Out<GigeDeviceRecord>(4);
    EXPECT_EQ(+rec.ip, kCameraIp);
    EXPECT_EQ(+rec.ipAgain, kCameraIp);
    EXPECT_EQ(0, std::memcmp(rec.mac, kCameraMac.data(), 6));
    EXPECT_EQ(+rec.versionMajor, 2);
    EXPECT_EQ(+rec.versionMinor, 1);
    EXPECT_EQ(+rec.deviceMode, 0x80000001u);
    EXPECT_STREQ(rec.manufacturerName, "Qor");
    EXPECT_STREQ(rec.modelName, "QC-1");
    EXPECT_EQ(std::string(rec.serialNumber, 4), "SN42");
    EXPECT_EQ(std::string(rec.userDefinedName, 4), "left");

    // The entry answers the link query; a camera that no longer answers is not listed.
    auto link = f.Call(IOCTL_GIGE_GetDeviceInfo, Bytes().U32(kCameraIp), 20);
    EXPECT_EQ(link->status, STATUS_SUCCESS);
    EXPECT_EQ(+link->Out<GigeDeviceLink>().adapterIp, kHostIp);
    EXPECT_EQ(f.ListRound({})->Out<uint32_t>(), 0u);
}

TEST(DeviceList, OutputTooSmallReportsTheCount) {
    CameraFixture f;
    std::vector<std::vector<uint8_t>> acks;
    for (int i = 0; i < 61; ++i) {
        MacAddress mac{0x00, 0x50, 0x00, 0x00, 0x00, static_cast<uint8_t>(i)};
        auto frame = DiscoveryPayload(Ip(169, 254, 20, static_cast<uint8_t>(i + 1)), mac);
        acks.push_back(frame);
    }
    auto r = f.Call(IOCTL_GIGE_GetDeviceList, Bytes().U32(60), 12124);
    uint16_t id = f.TakeSent().back().Id();
    for (int i = 0; i < 61; ++i) {
        MacAddress mac{0x00, 0x50, 0x00, 0x00, 0x00, static_cast<uint8_t>(i)};
        f.driver.Receive(f.number, FromCamera(3956, 3957, AckPacket(0, DISCOVERY_ACK, id, acks[i]), mac,
                                              Ip(169, 254, 20, static_cast<uint8_t>(i + 1))));
    }
    f.Advance(100);
    EXPECT_EQ(r->status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r->bytes, 4u);
    EXPECT_EQ(r->Out<uint32_t>(), 61u);
}

TEST(DeviceList, CameraSeenByTwoSystemAdaptersKeepsNoAddress) {
    CameraFixture f;
    FakePort second;
    uint32_t n2 = f.Bind(second, "qh1", kPeerMac);
    f.driver.SystemAddressChanged(n2, Ip(169, 254, 99, 1), kHostMask);
    auto r = f.Call(IOCTL_GIGE_GetDeviceList, Bytes().U32(60), 12124);
    ASSERT_EQ(f.port.sent.size(), 1u);
    ASSERT_EQ(second.sent.size(), 1u);
    uint16_t id1 = ParseSent(f.port.sent[0]).Id(), id2 = ParseSent(second.sent[0]).Id();
    f.driver.Receive(f.number,
                     FromCamera(3956, 3957, AckPacket(0, DISCOVERY_ACK, id1, DiscoveryPayload(kCameraIp))));
    f.driver.Receive(n2,
                     FromCamera(3956, 3957, AckPacket(0, DISCOVERY_ACK, id2, DiscoveryPayload(kCameraIp))));
    f.Advance(100);
    ASSERT_EQ(r->Out<uint32_t>(), 2u);
    EXPECT_EQ(+r->Out<GigeDeviceRecord>(4).ip, 0u);
    EXPECT_EQ(+r->Out<GigeDeviceRecord>(4 + 202).ip, 0u);
}

TEST(DeviceList, CancelledRequestCompletesCancelledAndTheNextIsServed) {
    CameraFixture f;
    auto first = f.Call(IOCTL_GIGE_GetDeviceList, Bytes().U32(60), 12124);
    auto second = f.Call(IOCTL_GIGE_GetDeviceList, Bytes().U32(60), 12124);
    first->cancelled = true;
    f.driver.Cancel(first);
    EXPECT_EQ(first->status, STATUS_CANCELLED);
    f.Advance(200);
    EXPECT_EQ(second->status, STATUS_SUCCESS);
    EXPECT_EQ(f.driver.NextTimerDue(), kNever) << "no timer is left: nothing is pending";
}

// Every command kind: the frame the camera sees and the answer the caller reads.
TEST(Commands, FramesAndAnswersOfEveryKind) {
    struct Case {
        const char* what;
        uint16_t command;
        std::function<void(std::vector<uint8_t>&)> fill;
        uint16_t code;
        std::vector<uint8_t> expectedBody;
        uint16_t answer;
        std::vector<uint8_t> ackPayload;
        uint32_t bytes;
        std::vector<uint8_t> expectedOut; // from +2
    };
    const std::vector<Case> cases = {
        {"read two registers", 1,
         [](auto& b) {
             PutBlock16(b, 12, 2);
             PutBlock32(b, 14, 0x0A00);
             PutBlock32(b, 18, 0x0D04);
         },
         READREG_CMD, BigEndian32({0x0A00, 0x0D04}), READREG_ACK, BigEndian32({2, 0x1234}), 12,
         Bytes().U16(2).U32(2).U32(0x1234)},
        {"write two registers", 2,
         [](auto& b) {
             PutBlock16(b, 12, 2);
             PutBlock32(b, 14, 0x0D00);
             PutBlock32(b, 18, 0x0D18);
             PutBlock32(b, 282, 0x8001);
             PutBlock32(b, 286, 0xA9FE0A01);
         },
         WRITEREG_CMD, BigEndian32({0x0D00, 0x8001, 0x0D18, 0xA9FE0A01}), WRITEREG_ACK, BigEndian32({2}), 4,
         Bytes().U16(2)},
        {"read memory", 3,
         [](auto& b) {
             PutBlock32(b, 12, 0x200);
             PutBlock16(b, 16, 8);
         },
         READMEM_CMD, BigEndian32({0x200, 8}), READMEM_ACK,
         Bytes().U8(0).U8(0).U8(2).U8(0).Raw("Local:ab", 8), 12, Bytes().U16(8).Raw("Local:ab", 8)},
        {"write memory", 4,
         [](auto& b) {
             PutBlock32(b, 12, 0x10000);
             PutBlock16(b, 16, 4);
             std::memcpy(b.data() + 18, "abcd", 4);
         },
         WRITEMEM_CMD, Bytes().U8(0).U8(1).U8(0).U8(0).Raw("abcd", 4), WRITEMEM_ACK, BigEndian32({4}), 4,
         Bytes().U16(4)},
        {"discovery",
         0,
         [](auto&) {},
         DISCOVERY_CMD,
         {},
         DISCOVERY_ACK,
         DiscoveryPayload(kCameraIp),
         186,
         Bytes().U16(2).U16(1).U32(0x80000001).Raw("Qor", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CameraFixture f;
        f.OpenCamera();
        auto block = CommandBlock(c.command);
        c.fill(block);
        auto r = f.Call(IOCTL_GIGE_SendCmd, block, 544);
        ASSERT_EQ(r->completions, 0);
        auto sent = f.TakeSent();
        ASSERT_EQ(sent.size(), 1u);
        const SentUdp& s = sent[0];
        EXPECT_EQ(s.dstMac, kCameraMac);
        EXPECT_EQ(s.dstIp, kCameraIp);
        EXPECT_EQ(s.srcIp, kHostIp);
        EXPECT_EQ(s.srcPort, kCommandPort);
        EXPECT_EQ(s.dstPort, 3956);
        EXPECT_EQ(s.udp[0], 0x42);
        EXPECT_EQ(s.Flags(), 0x01);
        EXPECT_EQ(s.Code(), c.code);
        EXPECT_EQ(s.Length(), c.expectedBody.size());
        EXPECT_EQ(std::vector<uint8_t>(s.Body(), s.Body() + s.Length()), c.expectedBody);

        // Another id, or another host port, is not this command's answer.
        f.Answer(0, c.answer, static_cast<uint16_t>(s.Id() + 1), c.ackPayload);
        f.Answer(0, c.answer, s.Id(), c.ackPayload, kCommandPort + 1);
        EXPECT_EQ(r->completions, 0);
        f.Answer(0, c.answer, s.Id(), c.ackPayload);
        ASSERT_EQ(r->status, STATUS_SUCCESS);
        EXPECT_EQ(r->bytes, c.bytes);
        EXPECT_EQ(r->Out<uint16_t>(), 0);
        EXPECT_EQ(
            std::vector<uint8_t>(r->Output().begin() + 2, r->Output().begin() + 2 + c.expectedOut.size()),
            c.expectedOut);
    }
}

TEST(Commands, AnswersAreReadOnlyAsFarAsTheyReach) {
    CameraFixture f;
    f.OpenCamera();
    auto block = CommandBlock(1);
    PutBlock16(block, 12, 1);
    PutBlock32(block, 14, 0x0A00);
    auto r = f.Call(IOCTL_GIGE_SendCmd, block, 544);
    uint16_t id = f.TakeSent()[0].Id();
    // The header claims 540 bytes; the frame holds 4.
    f.Answer(0, READREG_ACK, id, BigEndian32({7}), kCommandPort, 536);
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(r->bytes, 8u);
    EXPECT_EQ(r->Out<uint16_t>(2), 1);

    // A read-memory answer shorter than its address carries no data; an error status comes back as it is.
    auto mem = CommandBlock(3);
    PutBlock16(mem, 16, 64);
    auto m = f.Call(IOCTL_GIGE_SendCmd, mem, 544);
    f.Answer(0x8006, READMEM_ACK, f.TakeSent()[0].Id(), {0, 0});
    ASSERT_EQ(m->status, STATUS_SUCCESS);
    EXPECT_EQ(m->bytes, 4u);
    EXPECT_EQ(m->Out<uint16_t>(), 0x8006);
    EXPECT_EQ(m->Out<uint16_t>(2), 0);
}

TEST(Commands, RefusedWhenLostOrWhenTheFrameCantHoldThem) {
    CameraFixture f;
    f.OpenCamera();
    auto tooLong = CommandBlock(4);
    PutBlock16(tooLong, 16, 537);
    EXPECT_EQ(f.Call(IOCTL_GIGE_SendCmd, tooLong, 544)->status, STATUS_INVALID_PARAMETER);
    auto most = CommandBlock(1);
    PutBlock16(most, 12, 135);
    auto r = f.Call(IOCTL_GIGE_SendCmd, most, 544);
    auto sent = f.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Length(), 540);
    std::vector<uint8_t> values(540, 1);
    f.Answer(0, READREG_ACK, sent[0].Id(), values);
    EXPECT_EQ(r->bytes, 544u); // the most that the minimum answer holds
}

TEST(Commands, ResendsWithTheSameIdThenFailWithoutAcknowledge) {
    GigeParameters p;
    p.cmdRetry = 2;
    CameraFixture f(p);
    f.OpenCamera();
    EXPECT_EQ(f.driver.CommandAwaitingSince(), 0u);
    auto r = f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544);
    // The service polls for the answer from when the command went out.
    const uint64_t firstSent = f.clock.now;
    EXPECT_EQ(f.driver.CommandAwaitingSince(), firstSent);
    const SentUdp first = f.TakeSent()[0];
    f.Advance(200);
    EXPECT_TRUE(f.TakeSent().empty()) << "resent before the command time-out";
    f.Advance(20);
    auto again = f.TakeSent();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_GT(f.driver.CommandAwaitingSince(), firstSent + 200000) << "awaited anew from the resend";
    EXPECT_LE(f.driver.CommandAwaitingSince(), f.clock.now);
    EXPECT_EQ(again[0].Id(), first.Id());
    EXPECT_NE(again[0].ipId, first.ipId);
    EXPECT_EQ(again[0].udp, first.udp);
    f.Advance(220);
    EXPECT_EQ(f.TakeSent().size(), 1u);
    EXPECT_EQ(r->completions, 0);
    f.Advance(220);
    EXPECT_EQ(r->status, STATUS_GIGE_NO_ACK);
    EXPECT_TRUE(f.TakeSent().empty());
    EXPECT_EQ(f.driver.CommandAwaitingSince(), 0u) << "nothing awaited once the command failed";

    auto answered = f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544);
    EXPECT_NE(f.driver.CommandAwaitingSince(), 0u);
    f.Answer(0, READREG_ACK, f.TakeSent().at(0).Id(), BigEndian32({5}));
    EXPECT_EQ(answered->status, STATUS_SUCCESS);
    EXPECT_EQ(f.driver.CommandAwaitingSince(), 0u) << "nothing awaited once the answer came";
}

// The timer thread sleeps until the time the last RunTimers gave, or until the logic wakes it; a
// run of reads answered at once must not wake it, and it must still wake in time for a resend.
TEST(Commands, ReadsAnsweredInTimeWakeNoTimerAndAnUnansweredOneIsResentWhenDue) {
    CameraFixture f;
    f.OpenCamera();
    bool kicked = false;
    f.driver.SetTimerWake([&] { kicked = true; });
    uint64_t planned = f.driver.RunTimers();
    int wakes = 0;
    // Time passes in 0.5 ms steps; the "thread" runs the timers whenever it would be awake.
    auto step = [&] {
        f.clock.now += 500;
        if (kicked || f.clock.now >= planned) {
            kicked = false;
            ++wakes;
            planned = f.driver.RunTimers();
        }
    };
    for (int i = 0; i < 200; ++i) // 100 ms with nothing to do: what the adapter's own timers take
        step();
    const int idleWakes = wakes;
    wakes = 0;
    for (int i = 0; i < 200; ++i) { // 100 ms of back-to-back reads
        auto r = f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544);
        f.Answer(0, READREG_ACK, f.TakeSent().at(0).Id(), BigEndian32({5}));
        ASSERT_EQ(r->status, STATUS_SUCCESS);
        step();
    }
    EXPECT_LE(wakes, idleWakes + 1) << "reads answered in time woke the timer thread";

    auto r = f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544);
    const uint64_t sent = f.clock.now;
    const uint16_t id = f.TakeSent().at(0).Id();
    std::vector<SentUdp> again;
    while (again.empty() && f.clock.now < sent + 1000000) {
        step();
        again = f.TakeSent();
    }
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].Id(), id);
    EXPECT_GT(f.clock.now - sent, 200000u) << "resent before the command time-out";
    EXPECT_LE(f.clock.now - sent, 201000u) << "resent late: the timer slept past the command's time-out";
    EXPECT_EQ(r->completions, 0);
}

TEST(Commands, PendingAcknowledgeExtendsTheWait) {
    GigeParameters p;
    p.cmdRetry = 0; // 200 ms, no resend
    CameraFixture f(p);
    f.OpenCamera();
    auto r = f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544);
    uint16_t id = f.TakeSent()[0].Id();
    f.Answer(0, PENDING_ACK, id, Bytes().U8(0).U8(0).U8(0x13).U8(0x88)); // 5000 ms
    f.Advance(4990);
    EXPECT_EQ(r->completions, 0);
    f.Answer(0, READREG_ACK, id, BigEndian32({5}));
    EXPECT_EQ(r->status, STATUS_SUCCESS);

    // Without an answer it fails once the extended wait has passed.
    auto late = f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544);
    f.Answer(0, PENDING_ACK, f.TakeSent()[0].Id(), Bytes().U8(0).U8(0).U8(0x01).U8(0xF4)); // 500 ms
    f.Advance(480);
    EXPECT_EQ(late->completions, 0);
    f.Advance(60);
    EXPECT_EQ(late->status, STATUS_GIGE_NO_ACK);
}

TEST(Commands, CancelAndActionAndUnknownCamera) {
    CameraFixture f;
    f.OpenCamera();
    auto r = f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544);
    r->cancelled = true;
    f.driver.Cancel(r);
    EXPECT_EQ(r->status, STATUS_CANCELLED);
    f.TakeSent();

    // An action through the command path goes out from 3953 without acknowledge and completes at once.
    auto action = CommandBlock(5);
    PutBlock32(action, 12, 0x11);
    PutBlock32(action, 16, 0x22);
    PutBlock32(action, 20, 0x33);
    auto a = f.Call(IOCTL_GIGE_SendCmd, action, 544);
    EXPECT_EQ(a->status, STATUS_SUCCESS);
    EXPECT_EQ(a->bytes, 0u);
    auto sent = f.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].srcPort, 3953);
    EXPECT_EQ(sent[0].Flags(), 0);
    EXPECT_EQ(sent[0].Code(), ACTION_CMD);
    EXPECT_EQ(std::vector<uint8_t>(sent[0].Body(), sent[0].Body() + 12), BigEndian32({0x11, 0x22, 0x33}));
}

TEST(Heartbeat, KeepsControlWhileAnsweredAndDeclaresLostOtherwise) {
    CameraFixture f;
    f.OpenCamera();
    auto waiter = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(kOwner));
    f.Call(IOCTL_GIGE_StartHeartbeat, Bytes().U32(kOwner).U32(kCameraIp).U32(100).U32(300).U16(0xC002));
    for (int round = 0; round < 5; ++round) {
        f.Advance(100);
        auto sent = f.TakeSent();
        ASSERT_EQ(sent.size(), 1u) << round;
        EXPECT_EQ(sent[0].srcPort, 0xC002);
        EXPECT_EQ(sent[0].Code(), READREG_CMD);
        EXPECT_EQ(sent[0].Length(), 4);
        EXPECT_EQ(Get32(sent[0].Body()), 0x0A00u);
        f.Answer(0, READREG_ACK, sent[0].Id(), BigEndian32({2}), 0xC002);
    }
    EXPECT_EQ(waiter->completions, 0);
    EXPECT_EQ(f.Call(IOCTL_GIGE_GetDeviceStatus, Bytes().U32(kOwner).U32(kCameraIp), 4)->Out<uint32_t>(), 0u);

    // Silence: the unanswered heartbeat is repeated, then the camera is lost.
    f.Advance(300);
    EXPECT_EQ(waiter->status, STATUS_SUCCESS);
    EXPECT_EQ(f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544)->status, STATUS_GIGE_DEVICE_LOST);
    // Lost releases the owner: a new open takes it and clears the state.
    EXPECT_EQ(f.Call(IOCTL_GIGE_DeviceOpen, Bytes().U32(7).U32(kCameraIp))->status, STATUS_SUCCESS);
    EXPECT_EQ(f.Call(IOCTL_GIGE_GetDeviceStatus, Bytes().U32(7).U32(kCameraIp), 4)->Out<uint32_t>(), 0u);
}

TEST(Heartbeat, CameraThatNoLongerGrantsControlIsLostAtOnce) {
    CameraFixture f;
    f.OpenCamera();
    auto message = f.Call(IOCTL_GIGE_GetMessage, {}, 540);
    f.Call(IOCTL_GIGE_SetMessageEnable, Bytes().U32(1));
    f.Call(IOCTL_GIGE_StartHeartbeat, Bytes().U32(kOwner).U32(kCameraIp).U32(100).U32(3000).U16(0xC002));
    f.Advance(100);
    f.Answer(0, READREG_ACK, f.TakeSent()[0].Id(), BigEndian32({0}), 0xC002);
    f.Advance(5);
    EXPECT_EQ(std::u16string(message->Out<GigeMessageRecord>().text), u"HeartBeat Error Stop");
    EXPECT_EQ(f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544)->status, STATUS_GIGE_DEVICE_LOST);
}

TEST(Heartbeat, GoesOutAtItsPaceThroughAStreamOfAnsweredCommandsAndShowsALostControl) {
    CameraFixture f;
    f.OpenCamera();
    auto waiter = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(kOwner));
    // The lost time-out is shorter than a second of reads: only the answers keep the camera.
    f.Call(IOCTL_GIGE_StartHeartbeat, Bytes().U32(kOwner).U32(kCameraIp).U32(100).U32(300).U16(0xC002));
    auto round = [&](uint32_t privilege) {
        f.Advance(10);
        auto r = f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544);
        int heartbeats = 0;
        for (const auto& sent : f.TakeSent()) {
            if (sent.srcPort == 0xC002) {
                EXPECT_EQ(sent.Code(), READREG_CMD);
                EXPECT_EQ(Get32(sent.Body()), 0x0A00u);
                f.Answer(0, READREG_ACK, sent.Id(), BigEndian32({privilege}), 0xC002);
                ++heartbeats;
            } else if (sent.srcPort == kCommandPort) {
                f.Answer(0, READREG_ACK, sent.Id(), BigEndian32({7}));
            }
        }
        return std::make_pair(r->status, heartbeats);
    };
    // A second of back-to-back reads, every one answered: the heartbeat still reads the privilege
    // register every 100 ms, and the camera stays.
    int heartbeats = 0;
    for (int i = 0; i < 100; ++i) {
        const auto [status, sent] = round(2);
        ASSERT_EQ(status, STATUS_SUCCESS) << i;
        heartbeats += sent;
    }
    EXPECT_GE(heartbeats, 9);
    EXPECT_EQ(waiter->completions, 0);
    EXPECT_EQ(f.Call(IOCTL_GIGE_GetDeviceStatus, Bytes().U32(kOwner).U32(kCameraIp), 4)->Out<uint32_t>(), 0u);

    // The camera drops the control it granted while it goes on answering reads: the next heartbeat
    // shows it, the camera is lost and the waiters hear of it.
    heartbeats = 0;
    for (int i = 0; i < 20 && heartbeats == 0; ++i)
        heartbeats += round(0).second;
    ASSERT_EQ(heartbeats, 1);
    f.Advance(5);
    EXPECT_EQ(waiter->status, STATUS_SUCCESS);
    EXPECT_EQ(f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544)->status, STATUS_GIGE_DEVICE_LOST);
}

TEST(Heartbeat, EndOfRegistrationHandsControlBack) {
    CameraFixture f;
    f.OpenCamera();
    auto reg = f.Call(IOCTL_GIGE_RegisterProcess, Bytes().U32(kOwner));
    f.Call(IOCTL_GIGE_StartHeartbeat, Bytes().U32(kOwner).U32(kCameraIp).U32(1000).U32(3000).U16(0xC002));
    reg->cancelled = true;
    f.driver.Cancel(reg);
    auto sent = f.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].srcPort, 0xC002);
    EXPECT_EQ(sent[0].Code(), WRITEREG_CMD);
    EXPECT_EQ(std::vector<uint8_t>(sent[0].Body(), sent[0].Body() + 8), BigEndian32({0x0A00, 0}));
    // Free for the next process, and no heartbeat goes out any more.
    EXPECT_EQ(f.Call(IOCTL_GIGE_DeviceOpen, Bytes().U32(9).U32(kCameraIp))->status, STATUS_SUCCESS);
    f.Advance(2000);
    EXPECT_TRUE(f.TakeSent().empty());
}

TEST(Actions, BroadcastAndAcknowledgesOfKnownCameras) {
    CameraFixture f;
    f.AddCamera();
    f.TakeSent();
    auto wait = f.Call(IOCTL_GIGE_WaitActionAck, {}, 8);
    auto form = Bytes().U32(0).U32(0).U32(0).U32(1).U32(2).U32(3);
    EXPECT_EQ(f.Call(IOCTL_GIGE_SendActionCmd, form)->status, STATUS_SUCCESS);
    auto sent = f.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].dstIp, 0xFFFFFFFFu);
    EXPECT_EQ(sent[0].srcPort, 3953);
    EXPECT_EQ(sent[0].Flags(), 0);
    EXPECT_EQ(sent[0].Code(), ACTION_CMD);
    EXPECT_EQ(std::vector<uint8_t>(sent[0].Body(), sent[0].Body() + 12), BigEndian32({1, 2, 3}));

    const MacAddress stranger{0x00, 0x99, 0x99, 0x99, 0x99, 0x99};
    f.driver.Receive(f.number, FromCamera(3956, 3953, AckPacket(0, ACTION_ACK, sent[0].Id(), {}), stranger));
    EXPECT_EQ(wait->completions, 0);
    f.driver.Receive(f.number, FromCamera(3956, 3953, AckPacket(0, ACTION_ACK, sent[0].Id(), {})));
    ASSERT_EQ(wait->status, STATUS_SUCCESS);
    EXPECT_EQ(wait->bytes, 8u);
    EXPECT_EQ(wait->Out<uint64_t>(), 0x001122334455ull);
}

TEST(Events, DeliveredOnceAndAcknowledgedEveryTime) {
    CameraFixture f;
    f.OpenCamera();
    ASSERT_EQ(
        f.Call(IOCTL_GIGE_SetEventInfo, Bytes().U32(kOwner).U32(kCameraIp).U16(0xE001).U16(4000))->status,
        STATUS_SUCCESS);
    auto first = f.Call(IOCTL_GIGE_GetEvent, Bytes().U32(kOwner).U32(kCameraIp).U16(0xE001).U16(0), 548);
    auto second = f.Call(IOCTL_GIGE_GetEvent, Bytes().U32(kOwner).U32(kCameraIp).U16(0xE001).U16(0), 548);
    std::vector<uint8_t> event = {0x42, 0x01, 0x00, 0xC0, 0x00, 0x04, 0x00, 0x07, 0xAB, 0xCD, 0xEF, 0x01};
    auto frame = FromCamera(4000, 0xE001, event);
    frame[14 + 1] = 0x28; // TOS
    Put16(frame.data() + 14 + 4, 0x1234);
    f.driver.Receive(f.number, frame);
    f.driver.Receive(f.number, frame);
    ASSERT_EQ(first->status, STATUS_SUCCESS);
    EXPECT_EQ(first->bytes, event.size());
    EXPECT_EQ(std::vector<uint8_t>(first->Output().begin(), first->Output().begin() + 12), event);
    EXPECT_EQ(second->completions, 0) << "a repeated event is delivered once";
    auto acks = f.TakeSent();
    ASSERT_EQ(acks.size(), 2u);
    for (const auto& a : acks) {
        EXPECT_EQ(a.dstMac, kCameraMac);
        EXPECT_EQ(a.dstIp, kCameraIp);
        EXPECT_EQ(a.srcPort, 0xE001);
        EXPECT_EQ(a.dstPort, 4000);
        EXPECT_EQ(a.tos, 0x28);
        EXPECT_EQ(a.ipId, 0x1234);
        EXPECT_EQ(a.udp, (std::vector<uint8_t>{0, 0, 0x00, 0xC1, 0, 0, 0x00, 0x07}));
    }
    // Another camera port is another channel: dropped.
    event[7] = 8;
    f.driver.Receive(f.number, FromCamera(4001, 0xE001, event));
    EXPECT_EQ(second->completions, 0);
}

TEST(Tool, CommandsGoOutOneAtATimeAndAnswersFillTheBlock) {
    CameraFixture f;
    auto tool = [&](uint32_t command, uint16_t id, uint32_t address) {
        GvcpCommandBlock b{};
        b.command = command;
        b.adapterNumber = f.number;
        b.address = address;
        b.requestId = id;
        std::memcpy(b.mac, kCameraMac.data(), 6);
        b.ip = kCameraIp;
        uint32_t value = 0x55;
        std::memcpy(b.data, &value, 4);
        return f.Call(IOCTL_GIGE_SendNicCmd, Bytes().Raw(&b, sizeof b), 546);
    };
    auto read = tool(1, 0x0100, 0x0A00);
    auto write = tool(3, 0x0101, 0x0A00);
    auto sent = f.TakeSent();
    ASSERT_EQ(sent.size(), 1u) << "the second waits for the first's answer";
    EXPECT_EQ(sent[0].srcPort, 3954);
    EXPECT_EQ(sent[0].Id(), 0x0100);
    EXPECT_EQ(sent[0].Code(), READREG_CMD);
    // A write answer does not fit a read request.
    f.Answer(0, WRITEREG_ACK, 0x0100, BigEndian32({1}), 3954);
    EXPECT_EQ(read->completions, 0);
    f.Answer(0, READREG_ACK, 0x0100, BigEndian32({0x2}), 3954);
    ASSERT_EQ(read->status, STATUS_SUCCESS);
    EXPECT_EQ(read->bytes, 546u);
    auto out = read->Out<GvcpCommandBlock>();
    EXPECT_EQ(+out.length, 4);
    EXPECT_EQ(+out.requestId, 0x0100);
    EXPECT_EQ(+out.data[0], 2);
    sent = f.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Code(), WRITEREG_CMD);
    EXPECT_EQ(std::vector<uint8_t>(sent[0].Body(), sent[0].Body() + 8), BigEndian32({0x0A00, 0x55}));
    f.Answer(0x8006, WRITEREG_ACK, 0x0101, BigEndian32({0}), 3954);
    EXPECT_EQ(write->status, 0x8006u);

    // FORCEIP is broadcast and completes at once.
    auto force = tool(0, 0x0102, 0);
    EXPECT_EQ(force->status, STATUS_SUCCESS);
    sent = f.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].dstIp, 0xFFFFFFFFu);
    EXPECT_EQ(sent[0].Code(), FORCEIP_CMD);
    EXPECT_EQ(sent[0].Length(), 56);
    EXPECT_EQ(0, std::memcmp(sent[0].Body() + 2, kCameraMac.data(), 6));
    EXPECT_EQ(GetAddr(sent[0].Body() + 20), kCameraIp);
}

TEST(Tool, DiscoveryAnswersReachTheWaitingRequest) {
    CameraFixture f;
    auto wait = f.Call(IOCTL_GIGE_GetDiscoveryAck, {}, 110);
    EXPECT_EQ(f.Call(IOCTL_GIGE_StartDiscovery)->status, STATUS_SUCCESS);
    auto sent = f.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].srcPort, 3954);
    EXPECT_EQ(sent[0].Flags(), 0x11);
    f.Answer(0, DISCOVERY_ACK, sent[0].Id(), DiscoveryPayload(kCameraIp), 3954);
    ASSERT_EQ(wait->status, STATUS_SUCCESS);
    auto d = wait->Out<GigeDiscoveryAnswer>();
    EXPECT_EQ(+d.adapterNumber, f.number);
    EXPECT_EQ(0, std::memcmp(d.mac, kCameraMac.data(), 6));
    EXPECT_EQ(+d.ipConfigOptions, 0x80000007u);
    EXPECT_EQ(+d.ip, kCameraIp);
    EXPECT_EQ(+d.mask, kHostMask);
    EXPECT_STREQ(d.modelName, "QC-1");
}

// The tool sends its commands to the MAC of the answer, so an answer that
// reports the MAC 0 carries the MAC of the frame's sender instead; any other
// reported MAC is kept as it is.
TEST(Tool, DiscoveryAnswerWithoutAMacCarriesTheSendersMac) {
    const MacAddress sender{0x02, 0x42, 0x0A, 0x0B, 0x0C, 0x0D};
    const struct {
        MacAddress reported, expected;
    } cases[] = {{MacAddress{}, sender}, {kCameraMac, kCameraMac}};
    for (const auto& c : cases) {
        CameraFixture f;
        auto wait = f.Call(IOCTL_GIGE_GetDiscoveryAck, {}, 110);
        ASSERT_EQ(f.Call(IOCTL_GIGE_StartDiscovery)->status, STATUS_SUCCESS);
        auto sent = f.TakeSent();
        ASSERT_EQ(sent.size(), 1u);
        f.driver.Receive(f.number, FromCamera(3956, 3954,
                                              AckPacket(0, DISCOVERY_ACK, sent[0].Id(),
                                                        DiscoveryPayload(kCameraIp, c.reported)),
                                              sender));
        ASSERT_EQ(wait->status, STATUS_SUCCESS);
        auto d = wait->Out<GigeDiscoveryAnswer>();
        EXPECT_EQ(0, std::memcmp(d.mac, c.expected.data(), 6));

        // The tool's read then goes to that MAC.
        GvcpCommandBlock b{};
        b.command = 1;
        b.adapterNumber = f.number;
        b.address = 0x0A00;
        b.requestId = 0x0200;
        std::memcpy(b.mac, d.mac, 6);
        b.ip = d.ip;
        f.Call(IOCTL_GIGE_SendNicCmd, Bytes().Raw(&b, sizeof b), 546);
        sent = f.TakeSent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].dstMac, c.expected);
    }
}

TEST(DriverTraffic, DiscoveryAnswerAndAddressReset) {
    // A driver-managed adapter with its own DHCP client answers other hosts' discoveries.
    DriverFixture client({}, AdapterProfile(kHostIp, kHostMask));
    uint32_t n = client.Bind(client.port);
    auto cmd = Gvcp(DISCOVERY_CMD);
    cmd[1] = 0x11;
    Put16(cmd.data() + 6, 0x77);
    FrameSpec s;
    s.srcPort = 3956;
    s.dstPort = 3956;
    s.payload = cmd;
    client.driver.Receive(n, BuildFrame(s));
    ASSERT_EQ(client.port.sent.size(), 1u);
    auto answer = ParseSent(client.port.sent[0]);
    EXPECT_EQ(answer.dstIp, 0xFFFFFFFFu);
    EXPECT_EQ(answer.Code(), DISCOVERY_ACK);
    EXPECT_EQ(answer.Id(), 0x77);
    EXPECT_EQ(answer.Length(), 248);
    EXPECT_EQ(answer.udp.size(), 256u);
    EXPECT_EQ(answer.ttl, 64);

    // In server mode, a camera answering a discovery on 3956 is told to forget its address.
    GigeParameters server;
    server.dhcp = 1;
    DriverFixture f(server, AdapterProfile(kHostIp, kHostMask));
    uint32_t m = f.Bind(f.port);
    f.driver.Receive(m, FromCamera(3956, 3956, AckPacket(0, DISCOVERY_ACK, 1, DiscoveryPayload(kCameraIp))));
    ASSERT_EQ(f.port.sent.size(), 1u);
    auto force = ParseSent(f.port.sent[0]);
    EXPECT_EQ(force.srcPort, 3955);
    EXPECT_EQ(force.Code(), FORCEIP_CMD);
    EXPECT_EQ(force.udp.size(), 64u);
    EXPECT_EQ(0, std::memcmp(force.Body() + 2, kCameraMac.data(), 6));
    EXPECT_EQ(GetAddr(force.Body() + 20), 0u);
    // Rediscover broadcasts from 3956.
    f.port.sent.clear();
    EXPECT_EQ(f.Call(IOCTL_GIGE_Rediscover)->status, STATUS_SUCCESS);
    ASSERT_EQ(f.port.sent.size(), 1u);
    EXPECT_EQ(ParseSent(f.port.sent[0]).srcPort, 3956);
}

} // namespace
} // namespace qorcam::gige::test

namespace qorcam::gige::test {
namespace {

// An adapter that goes away takes nothing with it silently: every request
// waiting on it completes as cancelled.
TEST(Commands, UnbindCompletesWaitingCommandsAndStreamBuffers) {
    CameraFixture f;
    f.OpenCamera();
    f.Call(IOCTL_GIGE_PortAlloc, Bytes().U32(kOwner).U16(0x8001).U16(1));
    f.Call(IOCTL_GIGE_SetStreamInfo, Bytes().U32(kOwner).U32(kCameraIp).U16(0x8001).U16(0).U32(100).U8(1));
    auto command = f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544);
    auto buffer = f.Call(IOCTL_GIGE_GetStream, Bytes().U16(0x8001).U32(100).U32(1), 546 + 100 + 1);
    ASSERT_EQ(command->completions, 0);
    ASSERT_EQ(buffer->completions, 0);
    f.driver.UnbindAdapter(f.number);
    EXPECT_EQ(command->status, STATUS_CANCELLED);
    EXPECT_EQ(buffer->status, STATUS_CANCELLED);
    f.Advance(1000); // nothing is left to time out
    EXPECT_EQ(command->completions, 1);
}

TEST(DeviceList, ACameraThatComesOrGoesWakesTheBusEventWaiters) {
    CameraFixture f;
    auto waiter = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(kOwner));
    f.AddCamera();
    EXPECT_EQ(f.ListRound({DiscoveryPayload(kCameraIp)})->status, STATUS_SUCCESS);
    EXPECT_EQ(waiter->completions, 0) << "the same list again is no change";

    EXPECT_EQ(f.ListRound({})->status, STATUS_SUCCESS); // the camera left
    EXPECT_EQ(waiter->status, STATUS_SUCCESS);
    auto again = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(kOwner));
    f.ListRound({});
    EXPECT_EQ(again->completions, 0);
    f.ListRound({DiscoveryPayload(kCameraIp)}); // and came back
    EXPECT_EQ(again->status, STATUS_SUCCESS);
}

TEST(DeviceOpen, AWatcherSharesACameraItsOwnerKeeps) {
    CameraFixture f;
    f.OpenCamera();
    const uint32_t watcher = 77;
    // A second controller is refused; a watcher gets in and changes nothing.
    EXPECT_NE(f.Call(IOCTL_GIGE_DeviceOpen, Bytes().U32(watcher).U32(kCameraIp))->status, STATUS_SUCCESS);
    EXPECT_EQ(f.Call(IOCTL_GIGE_DeviceOpen, Bytes().U32(watcher).U32(kCameraIp).U32(kGigeOpenWatch))->status,
              STATUS_SUCCESS);
    EXPECT_EQ(f.Call(IOCTL_GIGE_GetDeviceStatus, Bytes().U32(watcher).U32(kCameraIp), 4)->status,
              STATUS_SUCCESS);
    EXPECT_NE(f.Call(IOCTL_GIGE_DeviceClose, Bytes().U32(watcher).U32(kCameraIp))->status, STATUS_SUCCESS);
    EXPECT_EQ(f.Call(IOCTL_GIGE_DeviceClose, Bytes().U32(kOwner).U32(kCameraIp))->status, STATUS_SUCCESS);
    // A watcher of a camera nobody owns does not become its owner.
    EXPECT_EQ(f.Call(IOCTL_GIGE_DeviceOpen, Bytes().U32(watcher).U32(kCameraIp).U32(kGigeOpenWatch))->status,
              STATUS_SUCCESS);
    EXPECT_EQ(f.Call(IOCTL_GIGE_DeviceOpen, Bytes().U32(kOwner).U32(kCameraIp))->status, STATUS_SUCCESS);
    // Unknown cameras are refused to watchers too.
    EXPECT_NE(f.Call(IOCTL_GIGE_DeviceOpen, Bytes().U32(watcher).U32(Ip(169, 254, 10, 99)).U32(kGigeOpenWatch))
                  ->status,
              STATUS_SUCCESS);
}

TEST(Power, SleepParksRequestsAndTheWakeUpCompletesThem) {
    CameraFixture f;
    f.OpenCamera();
    f.Call(IOCTL_GIGE_StartHeartbeat, Bytes().U32(kOwner).U32(kCameraIp).U32(100).U32(3000).U16(0xC002));
    auto waiter = f.Call(IOCTL_GIGE_WaitBusEvent, Bytes().U32(kOwner));
    auto command = f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544);
    auto cancelled = f.Call(IOCTL_GIGE_SendCmd, CommandBlock(1), 544);
    const uint16_t id = f.TakeSent()[0].Id();

    f.driver.PowerDown();
    EXPECT_EQ(f.driver.PowerParkedCount(), 3u);
    // Asleep: a late answer is ignored, no heartbeat goes out, nothing completes.
    f.Answer(0, READREG_ACK, id, BigEndian32({2}));
    f.Advance(1000);
    EXPECT_TRUE(f.TakeSent().empty());
    EXPECT_EQ(command->completions + waiter->completions, 0);
    // A parked request can still be cancelled.
    cancelled->cancelled = true;
    f.driver.Cancel(cancelled);
    EXPECT_EQ(cancelled->status, STATUS_CANCELLED);

    f.driver.PowerUp();
    EXPECT_EQ(waiter->status, STATUS_POWER_PARKED);
    EXPECT_EQ(command->status, STATUS_POWER_PARKED);
    EXPECT_EQ(f.driver.PowerParkedCount(), 0u);
    EXPECT_EQ(cancelled->completions, 1);
    // The owner is gone with the sleep: the camera, found again, is free for anyone.
    f.AddCamera();
    EXPECT_EQ(f.Call(IOCTL_GIGE_DeviceOpen, Bytes().U32(9).U32(kCameraIp))->status, STATUS_SUCCESS);
    f.TakeSent();
    f.Advance(1000);
    for (const auto& sent : f.TakeSent())
        EXPECT_NE(sent.srcPort, 0xC002) << "the heartbeat stopped with the sleep";
}

// A line the service gives before anyone reads the trace (no system bus at
// start-up) waits for the first reader, and goes to that one reader only.
TEST(Power, AServiceLineGivenBeforeAnyReaderReachesTheFirstOneOnce) {
    DriverFixture f;
    f.driver.PostServiceMessage(u"no system bus; sleep and wake-up are not followed");
    auto first = f.Call(IOCTL_GIGE_GetMessage, {}, 540);
    EXPECT_EQ(first->completions, 0) << "messages are not enabled yet";
    f.Call(IOCTL_GIGE_SetMessageEnable, Bytes().U32(1));
    ASSERT_EQ(first->status, STATUS_SUCCESS);
    const auto record = first->Out<GigeMessageRecord>();
    EXPECT_EQ(std::u16string(record.text), u"no system bus; sleep and wake-up are not followed");
    EXPECT_EQ(record.adapterWord, 0u);
    auto second = f.Call(IOCTL_GIGE_GetMessage, {}, 540);
    EXPECT_EQ(second->completions, 0);

    // With a reader waiting, a line goes at once; an overlong one is cut.
    f.driver.PostServiceMessage(std::u16string(400, u'x'));
    ASSERT_EQ(second->status, STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(second->Out<GigeMessageRecord>().text), std::u16string(kMessageTextBytes / 2, u'x'));
}

} // namespace
} // namespace qorcam::gige::test
