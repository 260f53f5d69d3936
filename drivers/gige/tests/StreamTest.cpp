// Stream channels over a scripted camera: placement, missing-packet bitmap, resends, time-outs, statistics.
#include "CameraFixture.h"

#include <gtest/gtest.h>

namespace qorcam::gige::test {
namespace {

constexpr uint16_t kStreamPort = 0x8001;
constexpr uint16_t kChannelIndex = 3;

struct StreamFixture : CameraFixture {
    explicit StreamFixture(bool resend = true, uint32_t streamRetry = 0, uint32_t payloadSize = 100)
        : CameraFixture(Params(streamRetry)), packetPayload(payloadSize) {
        OpenCamera();
        EXPECT_EQ(Call(IOCTL_GIGE_PortAlloc, Bytes().U32(kOwner).U16(kStreamPort).U16(1))->status,
                  STATUS_SUCCESS);
        EXPECT_EQ(Call(IOCTL_GIGE_SetStreamInfo, Bytes()
                                                     .U32(kOwner)
                                                     .U32(kCameraIp)
                                                     .U16(kStreamPort)
                                                     .U16(kChannelIndex)
                                                     .U32(payloadSize)
                                                     .U8(resend ? 1 : 0))
                      ->status,
                  STATUS_SUCCESS);
        Enable(true);
    }
    static GigeParameters Params(uint32_t streamRetry) {
        GigeParameters p;
        p.streamRetry = streamRetry;
        return p;
    }
    void Enable(bool on) {
        EXPECT_EQ(Call(IOCTL_GIGE_SetStreamEnable, Bytes().U16(kStreamPort).U8(on ? 1 : 0).U8(0))->status,
                  STATUS_SUCCESS);
    }

    // A buffer as the producer hands it over: info area zeroed, every packet's bit set.
    std::shared_ptr<FakeRequest> Buffer(uint32_t packets, uint32_t infoOffset,
                                        size_t mappedLimit = SIZE_MAX) {
        const size_t out = 546 + infoOffset + (packets + 7) / 8;
        auto r = std::make_shared<FakeRequest>(IOCTL_GIGE_GetStream,
                                               Bytes().U16(kStreamPort).U32(infoOffset).U32(packets), out);
        auto& o = r->MutableOutput();
        std::fill(o.begin() + infoOffset, o.begin() + infoOffset + 546, 0);
        std::fill(o.begin() + infoOffset + 544, o.begin() + infoOffset + 544 + packets / 8, 0xFF);
        if (packets % 8) o[infoOffset + 544 + packets / 8] = static_cast<uint8_t>(0xFF00 >> (packets % 8));
        r->mappedLimit = mappedLimit;
        EXPECT_EQ(driver.DeviceControl(r), STATUS_PENDING);
        return r;
    }

    void Gvsp(uint8_t format, uint64_t blockId, uint32_t packetId, const std::vector<uint8_t>& payload,
              bool extended = false, uint16_t port = kStreamPort) {
        std::vector<uint8_t> g(extended ? 20 : 8);
        if (extended) {
            Put32(g.data() + 4, 0x80000000u | (uint32_t(format) << 24));
            Put32(g.data() + 8, static_cast<uint32_t>(blockId >> 32));
            Put32(g.data() + 12, static_cast<uint32_t>(blockId));
            Put32(g.data() + 16, packetId);
        } else {
            Put16(g.data() + 2, static_cast<uint16_t>(blockId));
            Put32(g.data() + 4, (uint32_t(format) << 24) | packetId);
        }
        g.insert(g.end(), payload.begin(), payload.end());
        if (batching)
            held.push_back(FromCamera(20202, port, g));
        else
            driver.Receive(number, FromCamera(20202, port, g));
    }
    // Frames sent while batching are held, then handed over together as a ring block's are.
    // arrivedMsAgo: how long before now the frames reached the machine (a receive path behind).
    void ReceiveHeld(uint64_t arrivedMsAgo = 0) {
        std::vector<std::span<const uint8_t>> frames(held.begin(), held.end());
        driver.ReceiveBatch(number, frames, clock.now - clock.MsToTicks(arrivedMsAgo));
        held.clear();
        batching = false;
    }
    void Leader(uint64_t blockId, uint16_t type = 1, bool extended = false) {
        auto p = Bytes().U16(0).U8(uint8_t(type >> 8)).U8(uint8_t(type)).data;
        auto words = BigEndian32({0x11, 0x22334455, 0x01080001, 64, 48, 2, 4});
        p.insert(p.end(), words.begin(), words.end());
        p.insert(p.end(), {0, 8, 0, 6}); // padding x 8, y 6
        Gvsp(1, blockId, 0, p, extended);
    }
    void Payload(uint64_t blockId, uint32_t id, bool extended = false) {
        Gvsp(3, blockId, id, std::vector<uint8_t>(packetPayload, static_cast<uint8_t>(id)), extended);
    }
    void Trailer(uint64_t blockId, uint16_t type = 1, std::vector<uint32_t> words = {}) {
        auto p = Bytes().U16(0).U8(uint8_t(type >> 8)).U8(uint8_t(type)).data;
        for (uint32_t w : words) {
            auto b = BigEndian32({w});
            p.insert(p.end(), b.begin(), b.end());
        }
        Gvsp(2, blockId, 0, p);
    }
    std::vector<SentUdp> Resends() {
        std::vector<SentUdp> out;
        for (auto& s : TakeSent())
            if (s.Code() == PACKETRESEND_CMD) out.push_back(s);
        return out;
    }
    std::array<uint64_t, 3> Statistics() {
        auto r = Call(IOCTL_GIGE_GetStreamStatus, Bytes().U16(kStreamPort).Resize(10), 24);
        EXPECT_EQ(r->status, STATUS_SUCCESS);
        EXPECT_EQ(r->bytes, 0u);
        return {r->Out<uint64_t>(0), r->Out<uint64_t>(8), r->Out<uint64_t>(16)};
    }

    uint32_t packetPayload;
    bool batching = false;
    std::vector<std::vector<uint8_t>> held;
};

GigeBlockInfo InfoOf(const FakeRequest& r, uint32_t infoOffset) {
    return r.Out<GigeBlockInfo>(infoOffset);
}
uint32_t FieldU32(const GigeBlockInfo& info, size_t offset) {
    uint32_t v;
    std::memcpy(&v, info.fields + offset - 20, 4);
    return v;
}

TEST(Stream, InOrderImageCompletesAtItsLastPacketWithItsInformation) {
    StreamFixture f;
    auto sync = f.Call(IOCTL_GIGE_GetStreamSync, Bytes().U16(kStreamPort).Resize(10));
    auto r = f.Buffer(10, 1000);
    f.Leader(7);
    EXPECT_EQ(sync->status, STATUS_SUCCESS);
    for (uint32_t id = 1; id <= 10; ++id) {
        EXPECT_EQ(r->completions, 0) << id;
        f.Payload(7, id);
    }
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(r->bytes, r->Output().size());
    for (uint32_t id = 1; id <= 10; ++id)
        EXPECT_EQ(r->Output()[(id - 1) * 100 + 50], id);
    auto info = InfoOf(*r, 1000);
    EXPECT_EQ(+info.payloadType, 1u);
    EXPECT_EQ(+info.blockId, 7u);
    EXPECT_EQ(+info.timestamp, 0x0000001122334455ull);
    EXPECT_EQ(FieldU32(info, 20), 0x01080001u);
    EXPECT_EQ(FieldU32(info, 24), 64u);
    EXPECT_EQ(FieldU32(info, 28), 48u);
    EXPECT_EQ(FieldU32(info, 32), 2u);
    EXPECT_EQ(FieldU32(info, 36), 4u);
    EXPECT_EQ(FieldU32(info, 40), 0x00060008u); // padding x 8, y 6
    EXPECT_EQ(+info.missingPackets, 0u);
    EXPECT_EQ(r->Output()[1000 + 544], 0);
    EXPECT_EQ(r->Output()[1000 + 545], 0);
    f.Trailer(7); // finds no block any more
    EXPECT_EQ(f.Statistics(), (std::array<uint64_t, 3>{10, 0, 0}));
    EXPECT_EQ(f.Statistics(), (std::array<uint64_t, 3>{0, 0, 0})) << "read clears them";
    EXPECT_TRUE(f.Resends().empty());
}

TEST(Stream, ChunkDataWaitsForItsTrailer) {
    StreamFixture f;
    auto r = f.Buffer(2, 200);
    f.Leader(1, 4);
    f.Payload(1, 1);
    f.Payload(1, 2);
    EXPECT_EQ(r->completions, 0);
    f.Trailer(1, 4, {150});
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(FieldU32(InfoOf(*r, 200), 20), 150u);

    // An extended chunk block takes the trailer's three words.
    auto x = f.Buffer(1, 100);
    f.Leader(2, 5);
    f.Payload(2, 1);
    EXPECT_EQ(x->completions, 0);
    f.Trailer(2, 5, {48, 1000, 0xC0FFEE});
    ASSERT_EQ(x->status, STATUS_SUCCESS);
    auto info = InfoOf(*x, 100);
    EXPECT_EQ(FieldU32(info, 24), 64u);
    EXPECT_EQ(FieldU32(info, 44), 48u);
    EXPECT_EQ(FieldU32(info, 48), 1000u);
    EXPECT_EQ(FieldU32(info, 52), 0xC0FFEEu);
}

TEST(Stream, TrailerEndsABlockShorterThanItsBuffer) {
    // Buffers laid out for 20 packets; the blocks have 8, as the trailer's packet id (9) says.
    StreamFixture f; // resend on, STREAMRETRY 0
    auto trailerAt = [&](uint64_t blockId, uint32_t packetId) { f.Gvsp(2, blockId, packetId, {0, 0, 0, 1}); };
    auto whole = f.Buffer(20, 2000);
    f.Leader(1);
    for (uint32_t id = 1; id <= 8; ++id)
        f.Payload(1, id);
    EXPECT_EQ(whole->completions, 0);
    trailerAt(1, 9);
    ASSERT_EQ(whole->status, STATUS_SUCCESS) << "completed at its trailer, not at a time-out";
    EXPECT_EQ(+InfoOf(*whole, 2000).missingPackets, 0u);
    EXPECT_EQ(whole->bytes, 8u * f.packetPayload) << "the transfer counts the room the block's packets cover";
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(whole->Output()[2000 + 544 + i], 0) << "bitmap byte " << i;
    EXPECT_TRUE(f.Resends().empty()) << "nothing past the block's end is asked for";
    EXPECT_EQ(f.Statistics(), (std::array<uint64_t, 3>{8, 0, 0}));

    // A packet lost inside such a block is the only one asked for again, and the only one missing.
    auto holed = f.Buffer(20, 2000);
    f.Leader(2);
    for (uint32_t id = 1; id <= 8; ++id)
        if (id != 5) f.Payload(2, id);
    trailerAt(2, 9);
    ASSERT_EQ(holed->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*holed, 2000).missingPackets, 1u);
    auto resends = f.Resends();
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(Get32(resends[0].Body() + 4), 5u);
    EXPECT_EQ(Get32(resends[0].Body() + 8), 5u);

    // A trailer naming more packets than the buffer holds changes nothing: the tail is still asked for.
    auto small = f.Buffer(4, 400);
    f.Leader(3);
    for (uint32_t id = 1; id <= 3; ++id)
        f.Payload(3, id);
    trailerAt(3, 10);
    EXPECT_EQ(small->completions, 0);
    resends = f.Resends();
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(Get32(resends[0].Body() + 4), 4u);
    f.Payload(3, 4);
    ASSERT_EQ(small->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*small, 400).missingPackets, 0u);

    // A leader and a trailer without data (a camera that could not fill its image): nothing is
    // missing, and nothing was written either.
    auto empty = f.Buffer(20, 2000);
    f.Leader(4);
    trailerAt(4, 1);
    ASSERT_EQ(empty->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*empty, 2000).missingPackets, 0u);
    EXPECT_EQ(empty->bytes, 0u);
}

TEST(Stream, GapIsRequestedAgainAsOneRunAndFilledByLatePackets) {
    StreamFixture f;
    auto r = f.Buffer(12, 1200);
    f.Leader(0x1234);
    for (uint32_t id : {1, 2, 3, 4})
        f.Payload(0x1234, id);
    EXPECT_TRUE(f.Resends().empty());
    f.Payload(0x1234, 10);
    auto resends = f.Resends();
    ASSERT_EQ(resends.size(), 1u);
    const SentUdp& s = resends[0];
    EXPECT_EQ(s.dstMac, kCameraMac);
    EXPECT_EQ(s.dstIp, kCameraIp);
    EXPECT_EQ(s.srcPort, kStreamPort);
    EXPECT_EQ(s.dstPort, 3956);
    EXPECT_EQ(s.Flags(), 0);
    EXPECT_EQ(s.Length(), 12);
    EXPECT_EQ(std::vector<uint8_t>(s.Body(), s.Body() + 12),
              (std::vector<uint8_t>{0, kChannelIndex, 0x12, 0x34, 0, 0, 0, 5, 0, 0, 0, 9}));
    for (uint32_t id : {5, 6, 7, 8, 9, 11})
        f.Payload(0x1234, id);
    EXPECT_EQ(r->completions, 0);
    f.Payload(0x1234, 12);
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*r, 1200).missingPackets, 0u);
    for (uint32_t id = 1; id <= 12; ++id)
        EXPECT_EQ(r->Output()[(id - 1) * 100], id);
    EXPECT_EQ(f.Statistics(), (std::array<uint64_t, 3>{12, 5, 1}));
}

TEST(Stream, TrailerAsksAgainOnlyWhenTheAnswerCouldHaveComeBeforeIt) {
    StreamFixture f(true, 1); // one resend round
    auto askedFor = [](const std::vector<SentUdp>& resends) {
        std::vector<std::pair<uint32_t, uint32_t>> runs;
        for (const SentUdp& s : resends)
            runs.emplace_back(Get32(s.Body() + 4), Get32(s.Body() + 8));
        return runs;
    };
    for (uint64_t trailerAfterMs : {0, 3}) {
        SCOPED_TRACE(trailerAfterMs);
        const uint64_t block = trailerAfterMs == 0 ? 1 : 2;
        auto r = f.Buffer(10, 1000);
        f.Leader(block);
        for (uint32_t id = 1; id <= 10; ++id)
            if (id != 3) f.Payload(block, id);
        EXPECT_EQ(askedFor(f.Resends()), (std::vector<std::pair<uint32_t, uint32_t>>{{3, 3}})) << "at the gap";
        f.Advance(trailerAfterMs);
        f.Trailer(block);
        if (trailerAfterMs == 0) {
            // The camera answers after its trailer: the packet may still be on its way.
            EXPECT_TRUE(f.Resends().empty());
        } else {
            // It had time to come before the trailer and did not: asked for again, once.
            EXPECT_EQ(askedFor(f.Resends()), (std::vector<std::pair<uint32_t, uint32_t>>{{3, 3}}));
        }
        EXPECT_EQ(r->completions, 0);
        f.Payload(block, 3);
        ASSERT_EQ(r->status, STATUS_SUCCESS);
        EXPECT_EQ(+InfoOf(*r, 1000).missingPackets, 0u);
        EXPECT_EQ(r->Output()[2 * 100], 3);
    }
    EXPECT_EQ(f.Statistics(), (std::array<uint64_t, 3>{20, 3, 3}));
}

TEST(Stream, FramesTakenTogetherActAsTheSameFramesOneByOne) {
    // Two blocks, the first with a gap that late packets fill, the second with a lost packet it
    // completes without (no resend rounds): the same script frame by frame and as one batch.
    auto script = [](StreamFixture& f) {
        f.Leader(21);
        for (uint32_t id : {1, 2, 6, 3, 4, 5, 7, 8})
            f.Payload(21, id);
        f.Trailer(21);
        f.Leader(22);
        for (uint32_t id : {1, 2, 4})
            f.Payload(22, id);
        f.Trailer(22);
        f.Trailer(22);
    };
    StreamFixture single, batch;
    auto a1 = single.Buffer(8, 900), a2 = single.Buffer(4, 900);
    auto b1 = batch.Buffer(8, 900), b2 = batch.Buffer(4, 900);
    script(single);
    batch.batching = true;
    script(batch);
    EXPECT_EQ(b1->completions, 0) << "nothing happens before the frames are handed over";
    batch.ReceiveHeld();
    for (auto [one, together] : {std::pair{a1, b1}, std::pair{a2, b2}}) {
        EXPECT_EQ(one->completions, 1);
        EXPECT_EQ(together->completions, 1);
        EXPECT_EQ(together->status, one->status);
        EXPECT_EQ(together->bytes, one->bytes);
        EXPECT_EQ(together->Output(), one->Output());
    }
    EXPECT_EQ(+InfoOf(*b2, 900).missingPackets, 1u);
    std::vector<std::vector<uint8_t>> singleResends, batchResends;
    for (auto& s : single.Resends())
        singleResends.push_back(s.udp);
    for (auto& s : batch.Resends())
        batchResends.push_back(s.udp);
    EXPECT_FALSE(singleResends.empty());
    EXPECT_EQ(batchResends, singleResends);
    EXPECT_EQ(batch.Statistics(), single.Statistics());
}

TEST(Stream, WithoutResendRoundsMiddleLossCompletesAtTrailerAndTailIsAskedOnce) {
    StreamFixture f; // resend on, STREAMRETRY 0
    auto middle = f.Buffer(10, 1000);
    f.Leader(1);
    for (uint32_t id = 1; id <= 10; ++id)
        if (id != 3) f.Payload(1, id);
    EXPECT_EQ(f.Resends().size(), 1u); // 3, when 4 arrived
    f.Trailer(1);
    ASSERT_EQ(middle->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*middle, 1000).missingPackets, 1u);
    EXPECT_EQ(middle->Output()[1000 + 544], 0x20) << "packet 3 stays marked missing";

    auto tail = f.Buffer(10, 1000);
    f.Leader(2);
    for (uint32_t id = 1; id <= 8; ++id)
        f.Payload(2, id);
    f.Trailer(2);
    auto resends = f.Resends();
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(Get32(resends[0].Body() + 4), 9u);
    EXPECT_EQ(Get32(resends[0].Body() + 8), 10u);
    EXPECT_EQ(tail->completions, 0);
    f.Advance(30);
    ASSERT_EQ(tail->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*tail, 1000).missingPackets, 2u);
    EXPECT_TRUE(f.Resends().empty());
}

TEST(Stream, SilentBlockTimesOutAfterItsResendRounds) {
    StreamFixture f(true, 2);
    auto r = f.Buffer(10, 1000);
    f.Leader(1);
    for (uint32_t id : {1, 2, 5, 6})
        f.Payload(1, id);
    f.Resends();
    f.Advance(25);
    EXPECT_TRUE(f.Resends().empty()) << "not yet 25 ms old";
    f.Advance(5);
    auto round1 = f.Resends();
    ASSERT_EQ(round1.size(), 2u); // 3-4 and 7-10
    EXPECT_EQ(Get32(round1[0].Body() + 4), 3u);
    EXPECT_EQ(Get32(round1[0].Body() + 8), 4u);
    EXPECT_EQ(Get32(round1[1].Body() + 4), 7u);
    EXPECT_EQ(Get32(round1[1].Body() + 8), 10u);
    f.Advance(30);
    EXPECT_EQ(f.Resends().size(), 2u);
    EXPECT_EQ(r->completions, 0);
    f.Advance(30);
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*r, 1000).missingPackets, 6u);
    EXPECT_EQ(f.Statistics(), (std::array<uint64_t, 3>{10, 2 + 6 + 6, 5}));

    // Without resend the block completes on the first tick after 25 ms.
    StreamFixture plain(false);
    auto p = plain.Buffer(10, 1000);
    plain.Leader(1);
    plain.Payload(1, 1);
    plain.Payload(1, 4);
    plain.Advance(30);
    ASSERT_EQ(p->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*p, 1000).missingPackets, 8u);
    EXPECT_TRUE(plain.Resends().empty());
    EXPECT_EQ(plain.Statistics(), (std::array<uint64_t, 3>{10, 8, 0}));
}

TEST(Stream, AStalledReceivePathTimesOutNothingWhosePacketsWaitInIt) {
    StreamFixture f(true, 2);
    auto r = f.Buffer(10, 1000);
    f.Leader(1);
    for (uint32_t id : {1, 2, 4})
        f.Payload(1, id);
    ASSERT_EQ(f.Resends().size(), 1u); // 3, at the gap
    // The receive thread is held up for 100 ms while the rest of the block and the answer wait.
    f.port.backlog = true;
    f.Advance(100);
    EXPECT_TRUE(f.Resends().empty()) << "no resend round for a block whose packets are not read yet";
    EXPECT_EQ(r->completions, 0);
    // It catches up: the packets came 1 ms after the gap, the answer to the request after them.
    f.port.backlog = false;
    f.batching = true;
    for (uint32_t id : {5, 6, 7, 8, 9, 10, 3})
        f.Payload(1, id);
    f.Trailer(1);
    f.ReceiveHeld(99);
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*r, 1000).missingPackets, 0u);
    for (uint32_t id = 1; id <= 10; ++id)
        EXPECT_EQ(r->Output()[(id - 1) * 100], id);
    EXPECT_TRUE(f.Resends().empty());
    EXPECT_EQ(f.Statistics(), (std::array<uint64_t, 3>{10, 1, 1}));
}

TEST(Stream, AReceivePathThatStaysBehindTimesBlocksOutByWhenPacketsCame) {
    StreamFixture f(true, 1);
    f.port.backlog = true; // for good: the timer thread leaves every time-out to the receive path
    auto r = f.Buffer(10, 1000);
    auto next = f.Buffer(10, 1000);
    f.Leader(1);
    for (uint32_t id = 1; id <= 10; ++id)
        if (id != 3) f.Payload(1, id);
    f.Trailer(1);
    EXPECT_EQ(f.Resends().size(), 1u) << "3 at the gap; not again at the trailer that came with it";
    f.Advance(200);
    EXPECT_EQ(r->completions, 0);
    // What the receive path reads now came 10 ms after block 1: too soon for its time-out.
    auto arriving = [&](uint64_t msAgo) {
        f.batching = true;
        f.Payload(2, 1);
        f.ReceiveHeld(msAgo);
    };
    f.batching = true;
    f.Leader(2);
    f.ReceiveHeld(190);
    EXPECT_TRUE(f.Resends().empty());
    // 30 ms after block 1: its resend round, waiting a whole time-out from now for the answer.
    arriving(170);
    auto round = f.Resends();
    ASSERT_EQ(round.size(), 1u);
    EXPECT_EQ(Get32(round[0].Body() + 4), 3u);
    arriving(0);
    EXPECT_EQ(r->completions, 0) << "the answer can't have come yet";
    f.Advance(30);
    arriving(0);
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*r, 1000).missingPackets, 1u);
    EXPECT_EQ(next->completions, 0);
}

TEST(Stream, AReceivePathThatTimesBlocksOutItselfLeavesTheTimerThreadAsleep) {
    StreamFixture f(true, 1);
    f.port.timesOutBlocks = true;
    int wakes = 0;
    f.driver.SetTimerWake([&] { ++wakes; });
    f.driver.RunTimers();
    EXPECT_EQ(f.driver.CheckStreamTimeouts(f.number), -1) << "no block in progress";
    auto r = f.Buffer(10, 1000);
    f.Leader(1);
    for (uint32_t id : {1, 2, 5})
        f.Payload(1, id);
    EXPECT_EQ(f.Resends().size(), 1u); // 3-4, at the gap
    EXPECT_EQ(wakes, 0) << "a block in progress wakes no timer";
    EXPECT_EQ(f.driver.NextTimerDue(), kNever);
    EXPECT_EQ(f.driver.CheckStreamTimeouts(f.number), 26) << "it may wait until the block may time out";
    f.Advance(30);
    EXPECT_TRUE(f.Resends().empty()) << "the timers leave the block to the receive path";
    // Frames waiting to be read come first: nothing times out, and it reads at once.
    f.port.backlog = true;
    EXPECT_EQ(f.driver.CheckStreamTimeouts(f.number), 0);
    EXPECT_TRUE(f.Resends().empty());
    f.port.backlog = false;
    EXPECT_EQ(f.driver.CheckStreamTimeouts(f.number), 26) << "a whole time-out for the answers";
    auto round = f.Resends();
    ASSERT_EQ(round.size(), 2u); // 3-4 and 6-10
    EXPECT_EQ(Get32(round[1].Body() + 4), 6u);
    EXPECT_EQ(Get32(round[1].Body() + 8), 10u);
    f.clock.AdvanceMs(26);
    EXPECT_EQ(f.driver.CheckStreamTimeouts(f.number), -1) << "its one round spent, the block is done";
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*r, 1000).missingPackets, 7u);
    EXPECT_EQ(wakes, 0);
}

TEST(Stream, DisabledChannelIgnoresLeadersAndEnablingResetsBlocksInProgress) {
    StreamFixture f;
    auto sync = f.Call(IOCTL_GIGE_GetStreamSync, Bytes().U16(kStreamPort).Resize(10));
    auto r = f.Buffer(10, 1000);
    f.Enable(false);
    f.Leader(1);
    f.Payload(1, 1);
    EXPECT_EQ(sync->completions, 0);
    EXPECT_EQ(r->Output()[0], 0xEE) << "no block was bound";

    f.Enable(true);
    f.Leader(2);
    f.Payload(2, 1);
    EXPECT_EQ(r->Output()[1000 + 544], 0x7F);
    f.Enable(true); // the block in progress starts over: all packets missing again
    EXPECT_EQ(r->Output()[1000 + 544], 0xFF);
    EXPECT_EQ(r->Output()[1000 + 545], 0xC0);
    f.Payload(2, 2);
    EXPECT_EQ(r->Output()[1000 + 544], 0xFF) << "the old block's packets find no buffer";
    f.Leader(3);
    for (uint32_t id = 1; id <= 10; ++id)
        f.Payload(3, id);
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*r, 1000).blockId, 3u);
}

TEST(Stream, HostilePacketsNeverWriteOutsideTheBuffer) {
    StreamFixture f(false, 0, 100);
    // Ten packets of 100 bytes, but room for 950: the last packet is cut.
    auto r = f.Buffer(10, 950);
    f.Leader(1);
    f.Gvsp(3, 1, 0, std::vector<uint8_t>(100, 0xAA));  // packet id 0
    f.Gvsp(3, 1, 11, std::vector<uint8_t>(100, 0xAA)); // beyond the packet count
    f.Gvsp(3, 1, 0xFFFFFF, std::vector<uint8_t>(100, 0xAA));
    f.Gvsp(3, 1, 2, std::vector<uint8_t>(1400, 0xBB)); // longer than a packet's room: runs on into the next
    f.Gvsp(9, 1, 3, std::vector<uint8_t>(100, 0xAA));  // unknown format
    EXPECT_EQ(r->Output()[100], 0xBB);
    EXPECT_EQ(r->Output()[949], 0xBB);
    for (uint32_t id = 1; id <= 10; ++id)
        f.Payload(1, id);
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    auto info = InfoOf(*r, 950);
    EXPECT_EQ(+info.blockId, 1u);
    EXPECT_EQ(+info.missingPackets, 0u);
    EXPECT_EQ(FieldU32(info, 24), 64u) << "the info area was not overwritten by payload";
    EXPECT_EQ(r->Output()[949], 10);

    // A mapping smaller than the request said fails that request only.
    auto small = f.Buffer(10, 1000, 1000);
    auto next = f.Buffer(10, 1000);
    f.Leader(2);
    EXPECT_EQ(small->status, STATUS_NO_MEMORY_MAPPING);
    EXPECT_EQ(next->completions, 0) << "that leader is dropped with it";
    f.Leader(2);
    for (uint32_t id = 1; id <= 10; ++id)
        f.Payload(2, id);
    EXPECT_EQ(next->status, STATUS_SUCCESS);

    // A leader too short for its fields binds the block with zeros for them.
    auto shortLeader = f.Buffer(1, 100);
    f.Gvsp(1, 3, 0, {0, 1});
    f.Payload(3, 1);
    ASSERT_EQ(shortLeader->status, STATUS_SUCCESS);
    EXPECT_EQ(FieldU32(InfoOf(*shortLeader, 100), 24), 0u);
}

TEST(Stream, ExtendedIdsCarryTheWholeBlockIdIntoInfoAndResends) {
    StreamFixture f;
    auto r = f.Buffer(4, 400);
    const uint64_t id = 0x0000000100000002ull;
    f.Leader(id, 1, true);
    f.Payload(id, 1, true);
    f.Payload(id, 3, true);
    auto resends = f.Resends();
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(resends[0].Flags(), 0x10);
    EXPECT_EQ(resends[0].Length(), 20);
    EXPECT_EQ(Get16(resends[0].Body() + 2), 0);
    EXPECT_EQ(Get32(resends[0].Body() + 4), 2u);
    EXPECT_EQ(Get32(resends[0].Body() + 12), 1u);
    EXPECT_EQ(Get32(resends[0].Body() + 16), 2u);
    f.Payload(id, 2, true);
    f.Payload(id, 4, true);
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*r, 400).blockId, id);
}

TEST(Stream, MissingPacketsLeaveZerosNotTheBuffersOldBytes) {
    StreamFixture f(false);
    // The buffer holds an older image (0xEE); packets 3 and 10 never come, 10 is cut at the info offset.
    auto r = f.Buffer(10, 950);
    f.Leader(1);
    for (uint32_t id = 1; id <= 9; ++id)
        if (id != 3) f.Payload(1, id);
    f.Trailer(1);
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(+InfoOf(*r, 950).missingPackets, 2u);
    const auto& o = r->Output();
    EXPECT_EQ(o[199], 2);
    for (size_t i : {200, 250, 299, 900, 949})
        EXPECT_EQ(o[i], 0) << "byte " << i << " of a missing packet";
    EXPECT_EQ(o[300], 4);
    EXPECT_EQ(FieldU32(InfoOf(*r, 950), 24), 64u) << "clearing stops at the info offset";
    EXPECT_EQ(o[950 + 544], 0x20) << "the bitmap still marks them";
}

TEST(Stream, BlocksLostWholeCountInTheStatistics) {
    StreamFixture f(false);
    auto block = [&](uint64_t id) {
        auto r = f.Buffer(4, 400);
        f.Leader(id);
        for (uint32_t p = 1; p <= 4; ++p)
            f.Payload(id, p);
        EXPECT_EQ(r->status, STATUS_SUCCESS) << id;
    };
    struct Step {
        const char* what;
        std::vector<uint64_t> ids;
        uint64_t lostBlocks;
    };
    const Step steps[] = {
        {"in order", {1, 2, 3}, 0},
        {"leaders 4 and 5 lost", {6}, 2},
        {"a jump far ahead is a restart; standard ids wrap from 65535 to 1", {65534, 2}, 2},
        {"a restarted camera counts from 1 again", {1}, 0},
    };
    f.Statistics();
    for (const auto& s : steps) {
        for (uint64_t id : s.ids)
            block(id);
        const uint64_t packets = 4 * s.ids.size();
        auto stats = f.Statistics();
        EXPECT_EQ(stats[0], packets + 4 * s.lostBlocks) << s.what;
        EXPECT_EQ(stats[1], 4 * s.lostBlocks) << s.what;
    }

    // A leader with no buffer free loses its block once, however often the leader comes.
    f.Leader(2);
    f.Leader(2);
    EXPECT_EQ(f.Statistics(), (std::array<uint64_t, 3>{4, 4, 0}));
    block(3);
    EXPECT_EQ(f.Statistics(), (std::array<uint64_t, 3>{4, 0, 0}));

    // Re-enabling forgets the last id: blocks skipped while disabled are not loss.
    f.Enable(false);
    f.Enable(true);
    block(40);
    EXPECT_EQ(f.Statistics(), (std::array<uint64_t, 3>{4, 0, 0}));
}

TEST(Stream, TestPacketsGoToTheWaitingRequestOnly) {
    StreamFixture f;
    f.Gvsp(3, 0, 1, std::vector<uint8_t>(64, 1)); // nobody waits: dropped
    auto r = f.Call(IOCTL_GIGE_GetTestPacket, Bytes().U16(kStreamPort).U32(40).Resize(10), 40);
    EXPECT_EQ(r->completions, 0);
    f.Gvsp(3, 0, 1, std::vector<uint8_t>(64, 7));
    ASSERT_EQ(r->status, STATUS_SUCCESS);
    EXPECT_EQ(r->bytes, 40u);
    EXPECT_EQ(r->Output()[8], 7);
}

TEST(Stream, FreeingThePortCancelsItsRequests) {
    StreamFixture f;
    auto r = f.Buffer(10, 1000);
    auto sync = f.Call(IOCTL_GIGE_GetStreamSync, Bytes().U16(kStreamPort).Resize(10));
    f.Leader(1);
    f.Payload(1, 1);
    EXPECT_EQ(f.Call(IOCTL_GIGE_PortFree, Bytes().U32(kOwner).U16(kStreamPort).U16(0))->status,
              STATUS_SUCCESS);
    EXPECT_EQ(r->status, STATUS_CANCELLED);
    f.Payload(1, 2); // no channel any more
    EXPECT_EQ(r->completions, 1);
    (void)sync;
}

} // namespace
} // namespace qorcam::gige::test
