// The GigE network service's stream channels: GVSP placement, packet resend and block time-outs.
#include "GigeDriver.h"

#include "GigeIoctl.h"
#include "Gvcp.h"
#include "WireFormat.h"

#include <algorithm>
#include <cstring>

namespace qorcam::gige {

namespace {

constexpr uint8_t kLeader = 1;
constexpr uint8_t kTrailer = 2;
constexpr uint8_t kPayload = 3;
constexpr uint32_t kPayloadImage = 1;
constexpr uint32_t kPayloadRaw = 2;
constexpr uint32_t kPayloadFile = 3;
constexpr uint32_t kPayloadChunk = 4;
constexpr uint32_t kPayloadExtendedChunk = 5;
constexpr size_t kBlockInfoBytes = sizeof(GigeBlockInfo);

// Big-endian reads that give 0 past the end of what was received.
uint32_t At32(std::span<const uint8_t> p, size_t offset) {
    return p.size() >= offset + 4 ? Get32(p.data() + offset) : 0;
}
uint16_t At16(std::span<const uint8_t> p, size_t offset) {
    return p.size() >= offset + 2 ? Get16(p.data() + offset) : 0;
}

template <class T> void PutField(GigeBlockInfo& info, size_t infoOffset, T v) {
    std::memcpy(info.fields + (infoOffset - offsetof(GigeBlockInfo, fields)), &v, sizeof v);
}

// How long a camera takes at most to answer a resend request.
uint64_t ResendAnswerTicks(const GigeClock& clock) {
    return clock.MsToTicks(2);
}

uint64_t BitmapBytes(uint32_t packetCount) {
    return (uint64_t(packetCount) + 7) / 8;
}

// The header of one GVSP packet; payload is what follows the header.
struct GvspView {
    explicit GvspView(std::span<const uint8_t> udp) {
        if (udp.size() < 8) return;
        const uint32_t word = Get32(udp.data() + 4);
        format = static_cast<uint8_t>((word >> 24) & 0x0F);
        if (word & 0x80000000u) {
            if (udp.size() < 20) return;
            extended = true;
            blockId = (uint64_t(Get32(udp.data() + 8)) << 32) | Get32(udp.data() + 12);
            packetId = Get32(udp.data() + 16);
            payload = udp.subspan(20);
        } else {
            blockId = Get16(udp.data() + 2);
            packetId = word & 0xFFFFFF;
            payload = udp.subspan(8);
        }
        valid = true;
    }
    bool valid = false;
    bool extended = false;
    uint8_t format = 0;
    uint64_t blockId = 0;
    uint32_t packetId = 0;
    std::span<const uint8_t> payload;
};

// Stores the leader's fields by payload type as the block information holds them.
void TakeLeader(GigeBlockInfo& info, std::span<const uint8_t> p) {
    info.payloadType = At16(p, 2);
    info.timestamp = (uint64_t(At32(p, 4)) << 32) | At32(p, 8);
    if (info.payloadType & 0x8000) {
        if (p.size() > 12) std::memcpy(info.fields, p.data() + 12, std::min<size_t>(p.size() - 12, 512));
        return;
    }
    switch (info.payloadType) {
    case kPayloadImage:
    case kPayloadExtendedChunk:
        PutField<uint32_t>(info, 20, At32(p, 12));
        PutField<uint32_t>(info, 24, At32(p, 16));
        PutField<uint32_t>(info, 28, At32(p, 20));
        PutField<uint32_t>(info, 32, At32(p, 24));
        PutField<uint32_t>(info, 36, At32(p, 28));
        PutField<uint16_t>(info, 40, At16(p, 32));
        PutField<uint16_t>(info, 42, At16(p, 34));
        break;
    case kPayloadRaw:
        PutField<uint64_t>(info, 20, (uint64_t(At32(p, 12)) << 32) | At32(p, 16));
        break;
    case kPayloadFile:
        PutField<uint64_t>(info, 20, (uint64_t(At32(p, 12)) << 32) | At32(p, 16));
        if (p.size() > 20) std::memcpy(info.fields + 8, p.data() + 20, std::min<size_t>(p.size() - 20, 256));
        break;
    case kPayloadChunk:
        PutField<uint32_t>(info, 20, At32(p, 16)); // until the trailer tells the chunk length
        break;
    default:
        break;
    }
}

// Blocks skipped between two leaders. Standard ids run 1 to 65535 and wrap to 1; a step back or a jump
// far ahead is a restarted camera, not loss.
uint64_t BlocksBetween(uint64_t last, uint64_t next, bool extended) {
    constexpr uint64_t kMaxGap = 1024;
    if (last == 0 || next == last) return 0;
    uint64_t gap = 0;
    if (next > last) {
        gap = next - last - 1;
    } else if (!extended && last <= 0xFFFF) {
        gap = (0xFFFF - last) + (next - 1);
    } else {
        return 0;
    }
    return gap <= kMaxGap ? gap : 0;
}

} // namespace

void GigeDriver::ResetBlock(BlockContext& b, uint32_t streamRetry) {
    b.blockId = 0;
    b.packetCount = b.bufferPackets;
    b.missing = b.packetCount;
    b.nextExpected = 0;
    b.resendsLeft = streamRetry;
    b.lastPacket = kNever;
    b.lastRequest = 0;
    b.requestedAgain = b.resendCommands = 0;
    b.chunkLengthArrived = b.trailerWordsArrived = false;
    b.info = {};
    if (b.output.empty()) return;
    uint8_t* bitmap = b.output.data() + b.infoOffset + kBlockInfoBytes;
    std::memset(bitmap, 0xFF, b.packetCount / 8);
    if (b.packetCount % 8) bitmap[b.packetCount / 8] = static_cast<uint8_t>(0xFF00 >> (b.packetCount % 8));
}

void GigeDriver::HandleStreamPacket(GigeAdapter& a, const ReceivedFrame& f, Completions& done,
                                    ReceivePass& pass) {
    const auto udp = f.UdpPayload();
    GvspView g(udp);
    if (!g.valid) return;
    const uint16_t port = f.DestinationPort();
    // Time-outs count from when packets came; a resend asked for now is answered after now.
    const uint64_t arrived = pass.arrived;
    const uint64_t now = pass.now;

    if (g.blockId == 0) {
        // A test packet: it goes to the first request waiting on this port, whole or cut.
        for (auto it = a.testPacketQueue.begin(); it != a.testPacketQueue.end(); ++it) {
            GigeRequestPtr r = *it;
            const auto in = r->Input();
            uint16_t waits = 0;
            if (in.size() >= 2) std::memcpy(&waits, in.data(), 2);
            if (waits != port) continue;
            a.testPacketQueue.erase(it);
            auto out = r->MapOutput();
            if (out.empty()) {
                done.push_back({r, STATUS_NO_MEMORY_MAPPING, 0, 0});
                return;
            }
            const size_t n = std::min(out.size(), udp.size());
            std::memcpy(out.data(), udp.data(), n);
            done.push_back({r, STATUS_SUCCESS, static_cast<uint32_t>(n), 0});
            return;
        }
        return;
    }

    if (!pass.channel || pass.channel->hostPort != port) {
        auto ch = std::find_if(a.streamChannels.begin(), a.streamChannels.end(),
                               [&](const GigeStreamChannel& c) { return c.hostPort == port; });
        if (ch == a.streamChannels.end()) return;
        pass.channel = &*ch;
        pass.hasBlock = false;
    }
    GigeStreamChannel& c = *pass.channel;
    a.streamArrived = std::max(a.streamArrived, arrived);
    // The packets of a block come together: the block of the last one is looked at first, so that
    // the work per packet does not grow with the number of blocks in progress.
    auto block = pass.hasBlock && pass.block->blockId == g.blockId
                     ? pass.block
                     : std::find_if(c.blockRequests.begin(), c.blockRequests.end(),
                                    [&](const BlockContext& b) { return b.blockId == g.blockId; });
    pass.hasBlock = block != c.blockRequests.end();
    if (pass.hasBlock) pass.block = block;
    // A block that completes leaves the list: the pass forgets it first.
    auto finish = [&](std::list<BlockContext>::iterator it) {
        if (pass.hasBlock && pass.block == it) pass.hasBlock = false;
        c.blockRequests.erase(it);
    };

    switch (g.format) {
    case kLeader: {
        if (!c.enabled) return;
        if (GigeDeviceEntry* e = DeviceOn(a, c.cameraIp); e && e->lostTimeout)
            e->lostDue = now + clock_.MsToTicks(e->lostTimeout);
        // A block whose leader never arrived is lost whole: its packets count as missing.
        const bool newBlock = g.blockId != c.lastBlockId;
        if (!c.blockRequests.empty()) c.blockPackets = c.blockRequests.front().packetCount;
        CountLostBlocks(c, BlocksBetween(c.lastBlockId, g.blockId, g.extended));
        c.lastBlockId = g.blockId;
        c.extendedIds = g.extended;
        if (!c.leaderRequests.empty()) {
            done.push_back({c.leaderRequests.front(), STATUS_SUCCESS, 0, 0});
            c.leaderRequests.pop_front();
        }
        // A block already bound to a buffer is not bound twice (a repeated leader).
        if (block != c.blockRequests.end()) return;
        auto free = std::find_if(c.blockRequests.begin(), c.blockRequests.end(),
                                 [](const BlockContext& b) { return b.blockId == 0; });
        if (free == c.blockRequests.end()) {
            // No buffer: the block is not received, and is counted lost once.
            if (newBlock) CountLostBlocks(c, 1);
            return;
        }
        if (free->output.empty()) {
            auto out = free->request->MapOutput();
            // The whole layout must lie inside what was mapped, whatever the request said.
            const uint64_t needed =
                uint64_t(free->infoOffset) + kBlockInfoBytes + BitmapBytes(free->packetCount);
            if (out.size() < needed) {
                done.push_back({free->request, STATUS_NO_MEMORY_MAPPING, 0, 0});
                finish(free);
                return;
            }
            free->output = out;
        }
        free->blockId = g.blockId;
        free->lastPacket = arrived;
        free->lastRequest = 0;
        // The adapter's tick looks at the block once it may have timed out, unless the receive path
        // does (it is awake for the block's packets anyway).
        if (uint64_t& tick = a.Timer(AdapterTimer::Tick);
            !(a.port && a.port->TimesOutBlocks()) && (tick == 0 || tick > arrived + blockTimeout_ + 1))
            tick = std::max<uint64_t>(1, arrived + blockTimeout_ + 1);
        free->info = {};
        free->info.blockId = g.blockId;
        free->extended = g.extended;
        TakeLeader(free->info, g.payload);
        return;
    }
    case kPayload: {
        if (block == c.blockRequests.end()) return;
        BlockContext& b = *block;
        if (g.packetId == 0 || g.packetId > b.packetCount) return;
        b.lastPacket = std::max(b.lastPacket, arrived);
        const uint32_t index = g.packetId - 1;
        const uint64_t offset = uint64_t(index) * c.packetPayloadSize;
        if (offset < b.infoOffset) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(g.payload.size(), b.infoOffset - offset));
            std::memcpy(b.output.data() + offset, g.payload.data(), n);
        }
        uint8_t& bits = b.output[b.infoOffset + kBlockInfoBytes + index / 8];
        const uint8_t mask = static_cast<uint8_t>(0x80 >> (index % 8));
        if (bits & mask) {
            bits = static_cast<uint8_t>(bits & ~mask);
            --b.missing;
        }
        if (index == b.nextExpected) {
            ++b.nextExpected;
        } else if (index > b.nextExpected) {
            if (c.resendEnable) SendPacketResend(a, c, b, b.nextExpected, index, now);
            b.nextExpected = g.packetId;
        }
        const uint32_t type = b.info.payloadType;
        if (b.missing == 0 && (type != kPayloadChunk || b.chunkLengthArrived) &&
            (type != kPayloadExtendedChunk || b.trailerWordsArrived)) {
            CompleteBlock(c, b, done);
            finish(block);
        }
        return;
    }
    case kTrailer: {
        if (block == c.blockRequests.end()) return;
        BlockContext& b = *block;
        b.lastPacket = std::max(b.lastPacket, arrived);
        // The trailer's packet id follows the block's last data packet: a buffer laid out for more
        // packets than the block has waits for none of the rest.
        if (g.packetId != 0 && g.packetId - 1 < b.packetCount) EndBlockAt(b, g.packetId - 1);
        const auto p = g.payload;
        if (b.info.payloadType == kPayloadChunk && p.size() >= 8) {
            PutField<uint32_t>(b.info, 20, Get32(p.data() + 4));
            b.chunkLengthArrived = true;
        } else if (b.info.payloadType == kPayloadExtendedChunk && p.size() >= 16) {
            PutField<uint32_t>(b.info, 44, Get32(p.data() + 4));
            PutField<uint32_t>(b.info, 48, Get32(p.data() + 8));
            PutField<uint32_t>(b.info, 52, Get32(p.data() + 12));
            b.trailerWordsArrived = true;
        }
        if (b.missing == 0 || !c.resendEnable) {
            CompleteBlock(c, b, done);
            finish(block);
        } else if (b.nextExpected >= b.packetCount) {
            if (b.resendsLeft == 0) {
                CompleteBlock(c, b, done);
                finish(block);
            } else if (b.lastRequest == 0 || b.lastRequest + ResendAnswerTicks(clock_) < arrived) {
                // The holes were asked for long enough before the trailer came for their answers to
                // have come before it: they are asked for again. When they were asked for later (the
                // receive path is behind), the answers may still be on their way; the time-out
                // decides, counted from the request.
                --b.resendsLeft;
                ResendMissing(a, c, b, now);
            }
        } else {
            // The tail is missing: asking for it uses up no resend round.
            SendPacketResend(a, c, b, b.nextExpected, b.packetCount, now);
            b.nextExpected = b.packetCount;
        }
        return;
    }
    default:
        return;
    }
}

void GigeDriver::EndBlockAt(BlockContext& b, uint32_t packets) {
    uint8_t* bitmap = b.output.data() + b.infoOffset + kBlockInfoBytes;
    for (uint32_t i = packets; i < b.packetCount; ++i) {
        const uint8_t mask = static_cast<uint8_t>(0x80 >> (i % 8));
        if (bitmap[i / 8] & mask) {
            bitmap[i / 8] = static_cast<uint8_t>(bitmap[i / 8] & ~mask);
            --b.missing;
        }
    }
    b.packetCount = packets;
}

void GigeDriver::CheckBlockTimeouts(GigeAdapter& a, uint64_t upTo, uint64_t now, Completions& done) {
    for (auto& c : a.streamChannels) {
        for (auto it = c.blockRequests.begin(); it != c.blockRequests.end();) {
            BlockContext& b = *it;
            if (b.blockId == 0 || b.lastPacket == kNever || upTo <= b.lastPacket ||
                upTo - b.lastPacket <= blockTimeout_) {
                ++it;
                continue;
            }
            GigeDeviceEntry* e = DeviceOn(a, c.cameraIp);
            if (c.resendEnable && e && !e->lost && b.resendsLeft > 0) {
                --b.resendsLeft;
                ResendMissing(a, c, b, now);
                // The next round waits a whole time-out for the packets asked for, counted from when
                // they were asked for: their answers come after whatever is still waiting to be read.
                b.lastPacket = std::max(b.lastPacket, now);
                ++it;
                continue;
            }
            CompleteBlock(c, b, done);
            it = c.blockRequests.erase(it);
        }
    }
}

uint64_t GigeDriver::NextBlockDue(const GigeAdapter& a) const {
    uint64_t due = kNever;
    for (const auto& c : a.streamChannels)
        for (const auto& b : c.blockRequests)
            if (b.blockId != 0 && b.lastPacket != kNever) due = std::min(due, b.lastPacket + blockTimeout_ + 1);
    return due;
}

namespace {
// The first missing packet at or after i (the bitmap's set bits), or end: whole bytes without one are
// skipped at once.
uint32_t NextMissing(const uint8_t* bitmap, uint32_t i, uint32_t end) {
    while (i < end) {
        if (i % 8 == 0 && bitmap[i / 8] == 0) {
            i += 8;
            continue;
        }
        if (bitmap[i / 8] & (0x80 >> (i % 8))) return i;
        ++i;
    }
    return end;
}
} // namespace

void GigeDriver::ResendMissing(GigeAdapter& a, GigeStreamChannel& c, BlockContext& b, uint64_t now) {
    const uint8_t* bitmap = b.output.data() + b.infoOffset + kBlockInfoBytes;
    auto missing = [&](uint32_t i) { return (bitmap[i / 8] & (0x80 >> (i % 8))) != 0; };
    uint32_t i = NextMissing(bitmap, 0, b.packetCount);
    while (i < b.packetCount) {
        uint32_t end = i;
        while (end < b.packetCount && missing(end))
            ++end;
        SendPacketResend(a, c, b, i, end, now);
        i = NextMissing(bitmap, end, b.packetCount);
    }
}

void GigeDriver::SendPacketResend(GigeAdapter& a, GigeStreamChannel& c, BlockContext& b, uint32_t from,
                                  uint32_t to, uint64_t now) {
    GigeDeviceEntry* e = DeviceOn(a, c.cameraIp);
    if (!e || e->lost || b.output.empty()) return;
    to = std::min(to, b.packetCount);
    const uint8_t* bitmap = b.output.data() + b.infoOffset + kBlockInfoBytes;
    auto missing = [&](uint32_t i) { return (bitmap[i / 8] & (0x80 >> (i % 8))) != 0; };
    from = NextMissing(bitmap, from, to);
    if (from >= to) return;
    uint32_t end = from;
    while (end < to && missing(end))
        ++end;
    const uint16_t length = b.extended ? 20 : 12;
    auto ids = NextGvcpIds(a);
    IpHeaderCopy ip;
    ip.identification = ids.second;
    UdpFrame frame(e->mac.data(), a.mac.data(), a.ip, e->ip, c.hostPort, kGvcpCameraPort,
                   kGvcpHeader + length, ip);
    uint8_t* p = frame.CommandHeader(b.extended ? kFlagBroadcastAck : 0, PACKETRESEND_CMD, length, ids.first);
    Put16(p, c.channelIndex);
    Put16(p + 2, b.extended ? 0 : static_cast<uint16_t>(b.blockId));
    Put32(p + 4, from + 1);
    Put32(p + 8, end);
    if (b.extended) {
        Put32(p + 12, static_cast<uint32_t>(b.blockId >> 32));
        Put32(p + 16, static_cast<uint32_t>(b.blockId));
    }
    SendUdp(a, frame);
    ++b.resendCommands;
    b.requestedAgain += end - from;
    b.lastRequest = std::max(b.lastRequest, now);
    // The block waits for the answers from now on.
    b.lastPacket = std::max(b.lastPacket, now);
}

void GigeDriver::CountLostBlocks(GigeStreamChannel& c, uint64_t blocks) {
    c.packets += blocks * c.blockPackets;
    c.missingOrRequested += blocks * c.blockPackets;
}

void GigeDriver::CompleteBlock(GigeStreamChannel& c, BlockContext& b, Completions& done) {
    b.info.missingPackets = b.missing;
    if (b.missing != 0 && c.packetPayloadSize != 0) {
        // The room of a packet that never came holds whatever the buffer held before, often an older
        // frame: it is cleared so that no byte of another frame passes for this one's.
        const uint8_t* bitmap = b.output.data() + b.infoOffset + kBlockInfoBytes;
        for (uint32_t i = NextMissing(bitmap, 0, b.packetCount); i < b.packetCount;
             i = NextMissing(bitmap, i + 1, b.packetCount)) {
            const uint64_t offset = uint64_t(i) * c.packetPayloadSize;
            if (offset >= b.infoOffset) break;
            const uint64_t n = std::min<uint64_t>(c.packetPayloadSize, b.infoOffset - offset);
            std::memset(b.output.data() + offset, 0, static_cast<size_t>(n));
        }
    }
    // A trailer that ended the block before the buffer's last packet (a smaller block, or one with no
    // data at all: a camera that could not fill its image) wrote only the room its packets cover; the
    // rest of the buffer holds what it held before, so the transfer counts only that room.
    const uint64_t covered = std::min<uint64_t>(uint64_t(b.packetCount) * c.packetPayloadSize, b.infoOffset);
    std::memcpy(b.output.data() + b.infoOffset, &b.info, sizeof b.info);
    c.packets += b.packetCount;
    c.missingOrRequested += c.resendEnable ? b.requestedAgain : b.missing;
    c.resendCommands += b.resendCommands;
    const uint32_t bytes = static_cast<uint32_t>(
        std::min<uint64_t>(b.packetCount < b.bufferPackets ? covered : b.outputLength, 0xFFFFFFFFu));
    done.push_back({b.request, STATUS_SUCCESS, bytes, static_cast<size_t>(b.outputLength)});
}

} // namespace qorcam::gige
