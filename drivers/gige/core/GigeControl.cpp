// The GigE network service's camera control: device list, commands, heartbeat, actions, events.
#include "GigeDriver.h"

#include "GigeIoctl.h"
#include "Gvcp.h"
#include "WireFormat.h"

#include <algorithm>
#include <cstring>

namespace qorcam::gige {

namespace {

uint32_t InU32(std::span<const uint8_t> in, size_t offset) {
    uint32_t v = 0;
    if (in.size() >= offset + 4) std::memcpy(&v, in.data() + offset, 4);
    return v;
}

uint16_t InU16(std::span<const uint8_t> in, size_t offset) {
    uint16_t v = 0;
    if (in.size() >= offset + 2) std::memcpy(&v, in.data() + offset, 2);
    return v;
}

template <class T> void PutLe(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// The received GVCP packet: header fields and the payload that is really
// there (the header's length, cut to the bytes received).
struct GvcpView {
    explicit GvcpView(std::span<const uint8_t> udp) {
        if (udp.size() < kGvcpHeader) return;
        valid = true;
        first = Get16(udp.data());
        code = Get16(udp.data() + 2);
        length = Get16(udp.data() + 4);
        id = Get16(udp.data() + 6);
        payload = udp.subspan(kGvcpHeader, std::min<size_t>(length, udp.size() - kGvcpHeader));
    }
    bool valid = false;
    uint16_t first = 0; // status of an acknowledge; key and flags of a command
    uint16_t code = 0;
    uint16_t length = 0;
    uint16_t id = 0;
    std::span<const uint8_t> payload;
};

IpHeaderCopy CopyIpHeader(const ReceivedFrame& f) {
    const uint8_t* ip = f.Bytes().data() + kEthernetHeader;
    IpHeaderCopy c;
    c.tos = ip[1];
    c.identification = Get16(ip + 4);
    c.fragment = Get16(ip + 6);
    c.ttl = ip[8];
    return c;
}

IpHeaderCopy NewIpHeader(uint16_t ipId) {
    IpHeaderCopy c;
    c.identification = ipId;
    return c;
}

// Writes a command answer as the caller reads it; returns its byte count.
// Nothing is written beyond the output, nothing read beyond the payload.
size_t WriteCommandAnswer(std::span<uint8_t> out, uint16_t status, uint16_t answer,
                          std::span<const uint8_t> p) {
    uint8_t* o = out.data();
    PutLe<uint16_t>(o, status);
    switch (answer) {
    case DISCOVERY_ACK: {
        std::memset(o + 2, 0, 184);
        if (status != 0) return 186;
        if (p.size() >= 8) {
            PutLe<uint16_t>(o + 2, Get16(p.data()));
            PutLe<uint16_t>(o + 4, Get16(p.data() + 2));
            PutLe<uint32_t>(o + 6, Get32(p.data() + 4));
        }
        if (p.size() > kDiscoveryTextOffset)
            std::memcpy(o + 10, p.data() + kDiscoveryTextOffset,
                        std::min<size_t>(176, p.size() - kDiscoveryTextOffset));
        return 186;
    }
    case READREG_ACK: {
        const size_t n = std::min(p.size() / 4, (out.size() - 4) / 4);
        PutLe<uint16_t>(o + 2, static_cast<uint16_t>(n));
        for (size_t i = 0; i < n; ++i)
            PutLe<uint32_t>(o + 4 + 4 * i, Get32(p.data() + 4 * i));
        return 4 + 4 * n;
    }
    case WRITEREG_ACK:
    case WRITEMEM_ACK:
        PutLe<uint16_t>(o + 2, p.size() >= 4 ? Get16(p.data() + 2) : 0);
        return 4;
    case READMEM_ACK: {
        // The answer starts with the address; the data follows it.
        const size_t n = p.size() > 4 ? std::min(p.size() - 4, out.size() - 4) : 0;
        PutLe<uint16_t>(o + 2, static_cast<uint16_t>(n));
        if (n) std::memcpy(o + 4, p.data() + 4, n);
        return 4 + n;
    }
    default:
        return 2; // ACTION_ACK and answers we don't know carry the status only
    }
}

constexpr char16_t kMsgHeartbeatStop[] = u"HeartBeat Error Stop";
constexpr size_t kCommandAnswerBytes = 544;

} // namespace

bool GigeDriver::SendUdp(GigeAdapter& a, UdpFrame& frame) {
    return SendRawFrame(a, frame.Buffer());
}

GigeDeviceEntry* GigeDriver::DeviceOn(GigeAdapter& a, uint32_t ip) {
    for (auto& e : a.devices)
        if (e.ip == ip && ip != 0) return &e;
    return nullptr;
}

// ---- commands ---------------------------------------------------------

bool GigeDriver::SendCommandFrame(GigeAdapter& a, const GigeDeviceEntry& e, std::span<const uint8_t> in,
                                  uint16_t requestId) {
    const uint16_t command = InU16(in, 8);
    const uint16_t hostPort = InU16(in, 10);
    const uint16_t ipId = NextGvcpIds(a).second;
    size_t length = 0;
    switch (command) {
    case 0:
        length = 0;
        break;
    case 1:
        length = 4u * InU16(in, 12);
        break;
    case 2:
        length = 8u * InU16(in, 12);
        break;
    case 3:
        length = 8;
        break;
    case 4:
        length = InU16(in, 16) + 4u;
        break;
    case 5:
        length = 12;
        break;
    default:
        return false;
    }
    if (kGvcpHeader + length > UdpFrame::kMaxPayload) return false;
    const bool action = command == 5;
    UdpFrame frame(e.mac.data(), a.mac.data(), a.ip, e.ip, action ? kGvcpActionPort : hostPort,
                   kGvcpCameraPort, kGvcpHeader + length, NewIpHeader(ipId));
    static const uint16_t codes[] = {DISCOVERY_CMD, READREG_CMD,  WRITEREG_CMD,
                                     READMEM_CMD,   WRITEMEM_CMD, ACTION_CMD};
    uint8_t* p = frame.CommandHeader(action ? 0 : kFlagAckWanted, codes[command],
                                     static_cast<uint16_t>(length), requestId);
    switch (command) {
    case 1:
        for (size_t i = 0; i < length / 4; ++i)
            Put32(p + 4 * i, InU32(in, 14 + 4 * i));
        break;
    case 2:
        for (size_t i = 0; i < length / 8; ++i) {
            Put32(p + 8 * i, InU32(in, 14 + 4 * i));
            Put32(p + 8 * i + 4, InU32(in, 282 + 4 * i));
        }
        break;
    case 3:
        Put32(p, InU32(in, 12));
        Put16(p + 4, 0);
        Put16(p + 6, InU16(in, 16));
        break;
    case 4:
        Put32(p, InU32(in, 12));
        std::memcpy(p + 4, in.data() + 18, length - 4); // the size was checked at dispatch
        break;
    case 5:
        Put32(p, InU32(in, 12));
        Put32(p + 4, InU32(in, 16));
        Put32(p + 8, InU32(in, 20));
        break;
    default:
        break;
    }
    return SendUdp(a, frame);
}

void GigeDriver::ProcessCommandQueue(GigeAdapter& a, Completions& done) {
    while (!a.commandQueue.empty()) {
        GigeRequestPtr r = a.commandQueue.front();
        a.commandQueue.pop_front();
        const auto in = r->Input();
        GigeDeviceEntry* e = DeviceOn(a, InU32(in, 4));
        if (!e || e->lost || a.closing || a.paused) {
            done.push_back({r, STATUS_GIGE_NOT_SENT, 0, 0});
            continue;
        }
        if (InU16(in, 8) == 5) {
            bool sent = SendCommandFrame(a, *e, in, NextGvcpIds(a).first);
            done.push_back({r, sent ? STATUS_SUCCESS : STATUS_GIGE_NOT_SENT, 0, 0});
            continue;
        }
        CommandContext ctx;
        ctx.request = r;
        ctx.requestId = NextGvcpIds(a).first;
        ctx.resendsLeft = params_.cmdRetry;
        ctx.lastSend = clock_.Now();
        a.awaitingAck.push_back(ctx);
        if (!SendCommandFrame(a, *e, in, ctx.requestId)) {
            a.awaitingAck.pop_back();
            done.push_back({r, STATUS_GIGE_NOT_SENT, 0, 0});
            continue;
        }
        // The tick looks at it when it is due to be sent again; until then nothing wakes for it.
        uint64_t& tick = a.Timer(AdapterTimer::Tick);
        const uint64_t due = CommandDue(ctx, *e);
        if (tick == 0 || tick > due) tick = due;
    }
}

uint64_t GigeDriver::CommandAwaitingSince() const {
    std::lock_guard lock(mutex_);
    uint64_t since = 0;
    for (const auto& a : adapters_)
        for (const auto& c : a.awaitingAck)
            since = std::max(since, c.lastSend);
    return since;
}

void GigeDriver::ReArmOnAnswer(GigeDeviceEntry& e) {
    const uint64_t now = clock_.Now();
    if (e.lostTimeout) e.lostDue = now + clock_.MsToTicks(e.lostTimeout);
    if (e.heartbeatInterval) e.heartbeatDue = now + clock_.MsToTicks(e.heartbeatInterval);
}

void GigeDriver::HandleCommandAck(GigeAdapter& a, const ReceivedFrame& f, Completions& done) {
    GvcpView g(f.UdpPayload());
    if (!g.valid) return;
    const uint16_t hostPort = f.DestinationPort();
    for (auto it = a.awaitingAck.begin(); it != a.awaitingAck.end();) {
        GigeRequestPtr r = it->request;
        if (r->Cancelled()) {
            done.push_back({r, STATUS_CANCELLED, 0, 0});
            it = a.awaitingAck.erase(it);
            continue;
        }
        const auto in = r->Input();
        if (InU16(in, 10) != hostPort || it->requestId != g.id) {
            ++it;
            continue;
        }
        if (g.code == PENDING_ACK) {
            // The camera needs longer: wait that long from the last send.
            const uint16_t ms = g.payload.size() >= 4 ? Get16(g.payload.data() + 2) : 0;
            it->extendedWait = clock_.MsToTicks(ms);
            // A wait shorter than the time-out is looked at when it ends.
            if (const GigeDeviceEntry* e = DeviceOn(a, InU32(in, 4))) {
                uint64_t& tick = a.Timer(AdapterTimer::Tick);
                const uint64_t due = CommandDue(*it, *e);
                if (tick == 0 || tick > due) tick = due;
            }
            return;
        }
        if (g.code == READREG_ACK || g.code == WRITEREG_ACK || g.code == READMEM_ACK ||
            g.code == WRITEMEM_ACK) {
            GigeDeviceEntry* e = DeviceOn(a, InU32(in, 4));
            // An answer of the owner's command shows the camera is there: the lost timer starts anew.
            // The heartbeat keeps its own pace: a camera need not count other commands as
            // heartbeats, and one that keeps answering a stream of reads may still have dropped the
            // control it granted; only the heartbeat's read of the privilege register shows that.
            if (e && e->owner != 0 && e->owner == InU32(in, 0) && e->lostTimeout)
                e->lostDue = clock_.Now() + clock_.MsToTicks(e->lostTimeout);
        }
        a.awaitingAck.erase(it);
        auto out = r->MapOutput();
        if (out.size() < kCommandAnswerBytes) {
            done.push_back({r, STATUS_NO_MEMORY_MAPPING, 0, 0});
            return;
        }
        const size_t n = WriteCommandAnswer(out, g.first, g.code, g.payload);
        done.push_back({r, STATUS_SUCCESS, static_cast<uint32_t>(n), 0});
        return;
    }
    HandleHeartbeatAck(a, hostPort, g.id, f.UdpPayload(), done);
}

void GigeDriver::HandleHeartbeatAck(GigeAdapter& a, uint16_t hostPort, uint16_t ackId,
                                    std::span<const uint8_t> udp, Completions&) {
    GvcpView g(udp);
    if (g.first != 0 || g.code != READREG_ACK || g.length != 4 || g.payload.size() < 4 || ackId == 0) return;
    for (auto& e : a.devices) {
        if (e.heartbeatPort != hostPort || e.heartbeatPendingId != ackId) continue;
        e.heartbeatPendingId = 0;
        e.heartbeatUnanswered = 0;
        if (Get32(g.payload.data()) != 0) {
            ReArmOnAnswer(e);
        } else {
            // The camera no longer grants control: the entry is lost at once.
            e.heartbeatInterval = 0;
            e.heartbeatDue = 0;
            e.lostTimeout = 1;
            e.lostDue = clock_.Now() + std::max<uint64_t>(1, clock_.MsToTicks(1));
        }
        return;
    }
}

uint64_t GigeDriver::CommandDue(const CommandContext& c, const GigeDeviceEntry& e) const {
    // Sent again (or failed) once more than its time-out has passed since it was last sent.
    return c.lastSend + (c.extendedWait ? c.extendedWait : e.commandTimeout) + 1;
}

uint64_t GigeDriver::CheckCommandResends(GigeAdapter& a, Completions& done) {
    const uint64_t now = clock_.Now();
    uint64_t next = kNever;
    for (auto it = a.awaitingAck.begin(); it != a.awaitingAck.end();) {
        GigeRequestPtr r = it->request;
        const auto in = r->Input();
        GigeDeviceEntry* e = DeviceOn(a, InU32(in, 4));
        if (r->Cancelled()) {
            done.push_back({r, STATUS_CANCELLED, 0, 0});
            it = a.awaitingAck.erase(it);
            continue;
        }
        if (!e || e->lost) {
            done.push_back({r, STATUS_GIGE_NOT_SENT, 0, 0});
            it = a.awaitingAck.erase(it);
            continue;
        }
        if (now < CommandDue(*it, *e)) {
            next = std::min(next, CommandDue(*it, *e));
            ++it;
            continue;
        }
        if (it->resendsLeft > 0) {
            --it->resendsLeft;
            it->lastSend = now;
            SendCommandFrame(a, *e, in, it->requestId);
            next = std::min(next, CommandDue(*it, *e));
            ++it;
            continue;
        }
        done.push_back({r, STATUS_GIGE_NO_ACK, 0, 0});
        it = a.awaitingAck.erase(it);
    }
    return next;
}

// ---- heartbeat and lost ---------------------------------------------------

void GigeDriver::RunDeviceTimers(GigeAdapter& a, uint64_t now, Completions& done) {
    for (auto& e : a.devices) {
        if (e.heartbeatDue != 0 && e.heartbeatDue <= now) {
            e.heartbeatDue = 0;
            HeartbeatTimer(a, e);
        }
        if (e.lostDue != 0 && e.lostDue <= now) {
            e.lostDue = 0;
            LostTimer(a, e, done);
        }
    }
}

void GigeDriver::HeartbeatTimer(GigeAdapter& a, GigeDeviceEntry& e) {
    if (e.heartbeatInterval == 0) return;
    const uint64_t now = clock_.Now();
    if (e.heartbeatPendingId != 0 && e.heartbeatUnanswered > params_.cmdRetry) {
        e.heartbeatPendingId = 0;
        e.heartbeatUnanswered = 0;
        e.heartbeatDue = now + clock_.MsToTicks(e.heartbeatInterval);
        return;
    }
    ++e.heartbeatUnanswered;
    auto ids = NextGvcpIds(a);
    if (e.heartbeatPendingId == 0) e.heartbeatPendingId = ids.first;
    UdpFrame frame(e.mac.data(), a.mac.data(), a.ip, e.ip, e.heartbeatPort, kGvcpCameraPort, kGvcpHeader + 4,
                   NewIpHeader(ids.second));
    uint8_t* p = frame.CommandHeader(kFlagAckWanted, READREG_CMD, 4, e.heartbeatPendingId);
    Put32(p, kControlPrivilegeRegister);
    SendUdp(a, frame);
    e.heartbeatDue = now + clock_.MsToTicks(50);
}

void GigeDriver::LostTimer(GigeAdapter& a, GigeDeviceEntry& e, Completions& done) {
    if (e.lostTimeout == 0) return;
    e.lost = true;
    e.heartbeatInterval = e.lostTimeout = 0;
    e.heartbeatPendingId = 0;
    e.heartbeatUnanswered = 0;
    e.heartbeatDue = 0;
    e.owner = 0;
    // Its commands awaiting answers end now, not when they are next due.
    CheckCommandResends(a, done);
    CompleteBusEventWaiters(STATUS_SUCCESS, done);
    PostDriverMessage(&a, kMsgHeartbeatStop, done);
}

void GigeDriver::SendReleaseControl(GigeAdapter& a, const GigeDeviceEntry& e, uint16_t hostPort) {
    if (e.ip == 0) return;
    auto ids = NextGvcpIds(a);
    UdpFrame frame(e.mac.data(), a.mac.data(), a.ip, e.ip, hostPort, kGvcpCameraPort, kGvcpHeader + 8,
                   NewIpHeader(ids.second));
    uint8_t* p = frame.CommandHeader(kFlagAckWanted, WRITEREG_CMD, 8, ids.first);
    Put32(p, kControlPrivilegeRegister);
    Put32(p + 4, 0);
    SendUdp(a, frame);
}

// ---- discovery and the device list ------------------------------------------

void GigeDriver::UpdateDeviceList(GigeAdapter& a, const ReceivedFrame& f) {
    GvcpView g(f.UdpPayload());
    // An acknowledge too short to hold its fields describes no camera.
    if (!g.valid || g.first != 0 || g.payload.size() < kDiscoveryAckLength) return;
    const uint8_t* p = g.payload.data();
    MacAddress mac;
    std::memcpy(mac.data(), f.SourceMac(), 6);
    const uint32_t ip = GetAddr(p + 36);
    const bool takesAddress = params_.dhcp == 0 || a.windowsManaged;
    auto take = [&](GigeDeviceEntry& e) {
        e.ip = ip;
        e.versionMajor = Get16(p);
        e.versionMinor = Get16(p + 2);
        e.deviceMode = Get32(p + 4);
        std::memcpy(e.text.data(), p + kDiscoveryTextOffset, e.text.size());
        e.answered = true;
    };
    bool found = false;
    for (auto& e : a.devices) {
        if (e.mac != mac) continue;
        found = true;
        if (takesAddress) {
            take(e);
            if (e.owner == 0) e.lost = false;
        } else {
            // Our own DHCP server decides the address of this camera.
            if (e.ip == ip) take(e);
            break;
        }
    }
    if (found) {
        if (takesAddress)
            for (auto& e : a.devices)
                if (e.mac != mac && e.ip == ip) e.ip = 0;
        return;
    }
    if (!takesAddress || a.ip == 0 || ip == 0 || (ip & a.mask) != (a.ip & a.mask)) return;
    GigeDeviceEntry e;
    e.lastSeen = e.leaseTime = clock_.Now();
    e.commandTimeout = clock_.MsToTicks(params_.cmdTimeout);
    e.mac = mac;
    take(e);
    a.devices.push_back(e);
}

void GigeDriver::SendBroadcastDiscovery(GigeAdapter& a, uint16_t srcPort, uint8_t flags) {
    if (a.closing || a.ip == 0) return;
    auto ids = NextGvcpIds(a);
    UdpFrame frame(kBroadcastMac, a.mac.data(), a.ip, kBroadcastIp, srcPort, kGvcpCameraPort, kGvcpHeader,
                   NewIpHeader(ids.second));
    frame.CommandHeader(flags, DISCOVERY_CMD, 0, ids.first);
    SendUdp(a, frame);
}

void GigeDriver::StartDeviceListRound(Completions&) {
    if (listRoundRequest_ || deviceListRequests_.empty()) return;
    listRoundRequest_ = deviceListRequests_.front();
    for (auto& a : adapters_)
        for (auto& e : a.devices)
            e.answered = false;
    for (auto& a : adapters_)
        SendBroadcastDiscovery(a, kGvcpListPort, kFlagAckWanted);
    listRoundDue_ = std::max<uint64_t>(1, clock_.Now() + clock_.MsToTicks(params_.listWait));
}

void GigeDriver::FinishDeviceListRound(Completions& done) {
    GigeRequestPtr r = std::move(listRoundRequest_);
    listRoundRequest_.reset();
    listRoundDue_ = 0;
    // A request cancelled meanwhile has left the queue already.
    if (r && RemoveFrom(deviceListRequests_, r)) {
        if (r->Cancelled()) {
            done.push_back({r, STATUS_CANCELLED, 0, 0});
        } else {
            // A camera that several adapters see keeps its address on none of them.
            for (auto& a : adapters_) {
                if (!(params_.dhcp == 0 || a.windowsManaged)) continue;
                for (auto& e : a.devices) {
                    if (!e.answered) continue;
                    for (auto& o : adapters_) {
                        if (&o == &a) continue;
                        for (auto& x : o.devices)
                            if (x.mac == e.mac || (x.ip == e.ip && x.ip != 0)) x.ip = 0;
                    }
                }
            }
            uint64_t count = 0;
            std::vector<std::pair<MacAddress, uint32_t>> listed;
            for (auto& a : adapters_)
                for (auto& e : a.devices)
                    if (e.answered) {
                        ++count;
                        listed.emplace_back(e.mac, e.ip);
                    }
            // A camera came, went or moved since the last round: every
            // process's bus-event waiter hears of it, so lists are refreshed
            // without anyone asking.
            std::sort(listed.begin(), listed.end());
            if (listedOnce_ && listed != lastListed_) CompleteBusEventWaiters(STATUS_SUCCESS, done);
            lastListed_ = std::move(listed);
            listedOnce_ = true;
            auto out = r->MapOutput();
            if (out.size() < 4) {
                done.push_back({r, STATUS_NO_MEMORY_MAPPING, 0, 0});
            } else {
                PutLe<uint32_t>(out.data(), static_cast<uint32_t>(count));
                const uint64_t needed = 4 + sizeof(GigeDeviceRecord) * count;
                if (r->OutputLength() < needed || out.size() < needed) {
                    done.push_back({r, STATUS_BUFFER_TOO_SMALL, 4, 0});
                } else {
                    size_t at = 4;
                    for (auto& a : adapters_)
                        for (auto& e : a.devices) {
                            if (!e.answered) continue;
                            GigeDeviceRecord rec{};
                            rec.ip = rec.ipAgain = e.ip;
                            std::memcpy(rec.mac, e.mac.data(), 6);
                            rec.versionMajor = e.versionMajor;
                            rec.versionMinor = e.versionMinor;
                            rec.deviceMode = e.deviceMode;
                            // The reserved bytes stay as the caller left them.
                            std::memcpy(rec.reserved, out.data() + at + offsetof(GigeDeviceRecord, reserved),
                                        4);
                            std::memcpy(rec.manufacturerName, e.text.data(), e.text.size());
                            std::memcpy(out.data() + at, &rec, sizeof rec);
                            at += sizeof rec;
                        }
                    done.push_back({r, STATUS_SUCCESS, static_cast<uint32_t>(needed), 0});
                }
            }
        }
    }
    StartDeviceListRound(done);
}

void GigeDriver::Rediscover(GigeAdapter& a, Completions& done) {
    if (a.closing) return;
    if (a.otherServerPresent)
        CompleteBusEventWaiters(STATUS_SUCCESS, done);
    else
        SendBroadcastDiscovery(a, kGvcpCameraPort, kFlagAckWanted | kFlagBroadcastAck);
}

void GigeDriver::ForceIpReset(GigeAdapter& a, const ReceivedFrame& f) {
    auto ids = NextGvcpIds(a);
    UdpFrame frame(kBroadcastMac, a.mac.data(), a.ip, kBroadcastIp, kGvcpForceIpPort, kGvcpCameraPort,
                   kGvcpHeader + 56, NewIpHeader(ids.second));
    uint8_t* p = frame.CommandHeader(0, FORCEIP_CMD, 56, ids.first);
    std::memcpy(p + 2, f.SourceMac(), 6); // address, mask and gateway stay 0
    SendUdp(a, frame);
}

void GigeDriver::AnswerDriverDiscovery(GigeAdapter& a, const ReceivedFrame& f) {
    GvcpView g(f.UdpPayload());
    if (!g.valid) return;
    UdpFrame frame(kBroadcastMac, a.mac.data(), a.ip, kBroadcastIp, kGvcpCameraPort, f.SourcePort(),
                   kGvcpHeader + kDiscoveryAckLength, CopyIpHeader(f));
    frame.AckHeader(0, DISCOVERY_ACK, kDiscoveryAckLength, g.id);
    SendUdp(a, frame);
}

// ---- actions ----------------------------------------------------------------

void GigeDriver::SendActionCommand(uint32_t cameraIp, uint32_t deviceKey, uint32_t groupKey,
                                   uint32_t groupMask) {
    GigeAdapter* chosen = nullptr;
    if (cameraIp != 0)
        for (auto& a : adapters_)
            if (DeviceOn(a, cameraIp)) chosen = &a; // the last one found
    for (auto& a : adapters_) {
        if (a.ip == 0 || a.closing || (chosen && chosen != &a)) continue;
        auto ids = NextGvcpIds(a);
        UdpFrame frame(kBroadcastMac, a.mac.data(), a.ip, kBroadcastIp, kGvcpActionPort, kGvcpCameraPort,
                       kGvcpHeader + 12, NewIpHeader(ids.second));
        uint8_t* p = frame.CommandHeader(0, ACTION_CMD, 12, ids.first);
        Put32(p, deviceKey);
        Put32(p + 4, groupKey);
        Put32(p + 8, groupMask);
        SendUdp(a, frame);
    }
}

void GigeDriver::HandleActionAck(GigeAdapter& a, const ReceivedFrame& f, Completions& done) {
    GvcpView g(f.UdpPayload());
    if (!g.valid || g.code != ACTION_ACK || actionAcks_.empty()) return;
    MacAddress mac;
    std::memcpy(mac.data(), f.SourceMac(), 6);
    if (std::none_of(a.devices.begin(), a.devices.end(),
                     [&](const GigeDeviceEntry& e) { return e.mac == mac; }))
        return;
    GigeRequestPtr r = actionAcks_.front();
    actionAcks_.pop_front();
    auto out = r->MapOutput();
    if (out.size() < sizeof(GigeActionAck)) {
        done.push_back({r, STATUS_NO_MEMORY_MAPPING, 0, 0});
        return;
    }
    uint64_t number = 0;
    for (uint8_t b : mac)
        number = (number << 8) | b;
    PutLe<uint64_t>(out.data(), number);
    done.push_back({r, STATUS_SUCCESS, sizeof(GigeActionAck), 0});
}

// ---- camera events --------------------------------------------------------------

void GigeDriver::HandleCameraEvent(GigeAdapter& a, const ReceivedFrame& f, Completions& done) {
    const auto udp = f.UdpPayload();
    GvcpView g(udp);
    if (!g.valid) return;
    auto c = std::find_if(a.eventChannels.begin(), a.eventChannels.end(), [&](const GigeEventChannel& ch) {
        return ch.hostPort == f.DestinationPort() && ch.cameraPort == f.SourcePort();
    });
    if (c == a.eventChannels.end()) return;
    uint16_t& last = g.code == EVENT_CMD ? c->lastEventId : c->lastEventDataId;
    if (g.id != last) {
        last = g.id;
        if (!c->requests.empty()) {
            GigeRequestPtr r = c->requests.front();
            c->requests.pop_front();
            auto out = r->MapOutput();
            if (out.empty()) {
                done.push_back({r, STATUS_NO_MEMORY_MAPPING, 0, 0});
            } else {
                const size_t n = std::min(udp.size(), out.size());
                std::memcpy(out.data(), udp.data(), n);
                done.push_back({r, STATUS_SUCCESS, static_cast<uint32_t>(n), 0});
            }
        }
    }
    if (udp[1] & kFlagAckWanted) {
        // A repeated event is acknowledged again: our first answer may be the one that got lost.
        UdpFrame frame(f.SourceMac(), a.mac.data(), a.ip, f.SourceIp(), c->hostPort, f.SourcePort(),
                       kGvcpHeader, CopyIpHeader(f));
        frame.AckHeader(0, g.code == EVENT_CMD ? EVENT_ACK : EVENTDATA_ACK, 0, g.id);
        SendUdp(a, frame);
    }
}

// ---- the configuration tool -------------------------------------------------------

void GigeDriver::SendToolCommand(GigeAdapter& a, Completions& done) {
    // The head of the queue is the request on the wire; the ones behind it go
    // out as soon as it is answered or cancelled.
    while (!a.toolQueue.empty()) {
        GigeRequestPtr r = a.toolQueue.front();
        GvcpCommandBlock b{};
        const auto in = r->Input();
        std::memcpy(&b, in.data(), std::min(in.size(), sizeof b));
        auto ids = NextGvcpIds(a);
        bool sent;
        if (b.command == 0) {
            UdpFrame frame(kBroadcastMac, a.mac.data(), a.ip, kBroadcastIp, kGvcpToolPort, kGvcpCameraPort,
                           kGvcpHeader + 56, NewIpHeader(ids.second));
            uint8_t* p = frame.CommandHeader(0, FORCEIP_CMD, 56, b.requestId);
            std::memcpy(p + 2, b.mac, 6);
            PutAddr(p + 20, b.ip);
            PutAddr(p + 36, b.mask);
            PutAddr(p + 52, b.gateway);
            sent = SendUdp(a, frame);
            a.toolQueue.pop_front();
            done.push_back({r, sent ? STATUS_SUCCESS : STATUS_GIGE_NOT_SENT, 0, 0});
            continue;
        }
        size_t length = b.command == 1 ? 4 : b.command == 4 ? b.length + 4u : 8;
        UdpFrame frame(b.mac, a.mac.data(), a.ip, b.ip, kGvcpToolPort, kGvcpCameraPort, kGvcpHeader + length,
                       NewIpHeader(ids.second));
        static const uint16_t codes[] = {FORCEIP_CMD, READREG_CMD, READMEM_CMD, WRITEREG_CMD, WRITEMEM_CMD};
        uint8_t* p =
            frame.CommandHeader(kFlagAckWanted, codes[b.command], static_cast<uint16_t>(length), b.requestId);
        Put32(p, b.address);
        if (b.command == 2) {
            Put16(p + 4, 0);
            Put16(p + 6, b.length);
        } else if (b.command == 3) {
            uint32_t value;
            std::memcpy(&value, b.data, 4);
            Put32(p + 4, value);
        } else if (b.command == 4) {
            std::memcpy(p + 4, b.data, b.length); // at most 512, checked at dispatch
        }
        if (SendUdp(a, frame)) return;
        a.toolQueue.pop_front();
        done.push_back({r, STATUS_GIGE_NOT_SENT, 0, 0});
    }
}

void GigeDriver::HandleToolAnswer(GigeAdapter& a, const ReceivedFrame& f, Completions& done) {
    GvcpView g(f.UdpPayload());
    if (!g.valid) return;
    const uint8_t* p = g.payload.data();
    if (g.code == DISCOVERY_ACK) {
        if (discoveryAnswers_.empty() || g.payload.size() < kDiscoveryAckLength) return;
        GigeRequestPtr r = discoveryAnswers_.front();
        discoveryAnswers_.pop_front();
        auto out = r->MapOutput();
        if (out.size() < sizeof(GigeDiscoveryAnswer)) {
            done.push_back({r, STATUS_NO_MEMORY_MAPPING, 0, 0});
            return;
        }
        GigeDiscoveryAnswer d{};
        d.adapterNumber = a.number;
        // No camera has the MAC 0: a camera that reports it has not filled the
        // field in, and the tool addresses its commands to this MAC, so the
        // frame's sender is taken instead, as the device list does.
        const uint8_t* mac = p + 10;
        if (std::all_of(mac, mac + 6, [](uint8_t b) { return b == 0; })) mac = f.SourceMac();
        std::memcpy(d.mac, mac, 6);
        d.ipConfigOptions = Get32(p + 16);
        d.ipConfigCurrent = Get32(p + 20);
        d.ip = GetAddr(p + 36);
        d.mask = GetAddr(p + 52);
        d.gateway = GetAddr(p + 68);
        std::memcpy(d.manufacturerName, p + 72, 32);
        std::memcpy(d.modelName, p + 104, 32);
        std::memcpy(d.userDefinedName, p + 232, 16);
        std::memcpy(out.data(), &d, sizeof d);
        done.push_back({r, STATUS_SUCCESS, sizeof d, 0});
        return;
    }
    if (a.toolQueue.empty()) return;
    GigeRequestPtr r = a.toolQueue.front();
    GvcpCommandBlock b{};
    const auto in = r->Input();
    std::memcpy(&b, in.data(), std::min(in.size(), sizeof b));
    static const uint16_t fits[] = {0, READREG_ACK, READMEM_ACK, WRITEREG_ACK, WRITEMEM_ACK};
    if (g.id != b.requestId || b.command == 0 || b.command > 4 || g.code != fits[b.command]) return;
    a.toolQueue.pop_front();
    auto out = r->MapOutput();
    if (out.size() < sizeof(GvcpCommandBlock)) {
        done.push_back({r, STATUS_NO_MEMORY_MAPPING, 0, 0});
    } else {
        const size_t avail = g.payload.size();
        switch (b.command) {
        case 1: {
            const bool ok = g.first == 0 && avail >= 4;
            b.length = ok ? 4 : 0;
            uint32_t value = ok ? Get32(p) : 0;
            std::memcpy(b.data, &value, 4);
            break;
        }
        case 2: {
            const size_t n = avail > 4 ? std::min(avail - 4, sizeof b.data) : 0;
            b.length = static_cast<uint16_t>(n);
            if (n) std::memcpy(b.data, p + 4, n);
            break;
        }
        case 3:
            b.length = static_cast<uint16_t>((avail >= 4 ? Get16(p + 2) : 0) * 4u);
            break;
        default:
            b.length = avail >= 4 ? Get16(p + 2) : 0;
            break;
        }
        std::memcpy(out.data(), &b, sizeof b);
        done.push_back({r, g.first, sizeof b, 0});
    }
    SendToolCommand(a, done);
}

} // namespace qorcam::gige
