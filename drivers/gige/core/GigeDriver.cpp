// The GigE network service's logic: global state, device control and the frame path.
#include "GigeDriver.h"

#include "GigeIoctl.h"
#include "WireFormat.h"

#include <algorithm>
#include <cstring>

namespace qorcam::gige {

namespace {

// Copies the head of the input into a zeroed record; the caller has checked
// that the fields it reads are inside the input.
template <class T> T ReadInput(std::span<const uint8_t> in) {
    T value{};
    std::memcpy(&value, in.data(), std::min(sizeof(T), in.size()));
    return value;
}

uint32_t InputU32(std::span<const uint8_t> in, size_t offset) {
    uint32_t v = 0;
    if (in.size() >= offset + 4) std::memcpy(&v, in.data() + offset, 4);
    return v;
}

uint16_t InputU16(std::span<const uint8_t> in, size_t offset) {
    uint16_t v = 0;
    if (in.size() >= offset + 2) std::memcpy(&v, in.data() + offset, 2);
    return v;
}

char16_t FoldCase(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - u'a' + u'A');
    return c;
}

// Copies an 8-bit name into a wide field, cut to the room less the terminator.
void PutWide(char16_t* field, size_t room, const std::string& text) {
    size_t n = std::min(text.size(), room - 1);
    for (size_t i = 0; i < n; ++i)
        field[i] = static_cast<unsigned char>(text[i]);
    field[n] = 0;
}

bool IsStreamPort(uint16_t port) {
    return port >= 0x8000 && port <= 0xBFFF;
}
bool IsEventPort(uint16_t port) {
    return port >= 0xE000;
}

// Control codes whose input starts with the process they act for; a caller
// may name only itself.
// The smallest input and output of a request that names its caller's process
// in its first word ({0, 0} for the others). A shorter one is malformed, and
// answered as such whoever sent it.
struct Minimum {
    uint64_t input = 0, output = 0;
};
Minimum ProcessNamingMinimum(uint32_t code) {
    switch (code) {
    case IOCTL_GIGE_SetCmdTimeout:
        return {12, 0};
    case IOCTL_GIGE_RegisterProcess:
    case IOCTL_GIGE_WaitBusEvent:
        return {4, 0};
    case IOCTL_GIGE_DeviceOpen:
    case IOCTL_GIGE_DeviceClose:
        return {8, 0};
    case IOCTL_GIGE_PortAlloc:
    case IOCTL_GIGE_PortFree:
        return {sizeof(GigePortRecord), 0};
    case IOCTL_GIGE_AddMultiCast:
    case IOCTL_GIGE_DelMultiCast:
        return {sizeof(GigeMulticastForm), 0};
    case IOCTL_GIGE_StartHeartbeat:
        return {sizeof(GigeHeartbeatForm), 0};
    case IOCTL_GIGE_SendCmd:
        return {554, 544};
    case IOCTL_GIGE_SetStreamInfo:
        return {sizeof(GigeStreamSetupForm), 0};
    case IOCTL_GIGE_SetEventInfo:
        return {sizeof(GigeEventInfo), 0};
    case IOCTL_GIGE_GetEvent:
        return {sizeof(GigeEventInfo), sizeof(GigeEventData)};
    case IOCTL_GIGE_GetDeviceStatus:
        return {8, 4};
    default:
        return {};
    }
}

// Whether the caller may act on what a process of that user holds: the same
// user or root. Requests of the service itself may do anything.
bool SameUserOrRoot(const GigeRequest& r, uint32_t user) {
    const GigeCaller* c = r.Caller();
    return !c || c->userId == 0 || c->userId == user;
}

bool MayConfigureNetwork(const GigeRequest& r) {
    const GigeCaller* c = r.Caller();
    return !c || c->admin;
}

uint32_t CallerUser(const GigeRequest& r) {
    return r.Caller() ? r.Caller()->userId : 0;
}

uint64_t CallerConnection(const GigeRequest& r) {
    return r.Caller() ? r.Caller()->connection : 0;
}

constexpr char16_t kMsgArpStart[] = u"ARP Proc Start";
constexpr char16_t kMsgArpResponse[] = u"ARP Response";
constexpr char16_t kMsgArpDevOk[] = u"ARP Proc Dev OK";
constexpr char16_t kMsgArpNewDev[] = u"ARP Proc New Dev";
constexpr char16_t kMsgMulticastOk[] = u"Set MULTICAST_LIST OK";
constexpr char16_t kMsgMulticastNg[] = u"Set MULTICAST_LIST NG";

} // namespace

GigeDriver::GigeDriver(const GigeParameters& parameters, DriverProfile profile, const GigeClock& clock)
    : params_(parameters), profile_(std::move(profile)), clock_(clock), blockTimeout_(clock.MsToTicks(25)) {}

GigeDriver::~GigeDriver() {
    Unload();
}

void GigeDriver::CompleteAll(Completions& completions) {
    for (auto& c : completions)
        c.request->Complete(c.status, c.bytes, std::max<size_t>(c.bytes, c.written));
    completions.clear();
}

void GigeDriver::SetTimerWake(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    timerWake_ = std::move(wake);
}

bool GigeDriver::TimerMovedUpLocked() {
    // (A command sent moves the tick up to when it is due to be sent again, if that is sooner.)
    const uint64_t next = NextTimerDueLocked();
    if (!timerWake_ || next >= plannedWake_) return false;
    plannedWake_ = next; // one wake-up for it is enough
    return true;
}

void GigeDriver::WakeTimerIfMoved() {
    bool moved = false;
    {
        std::lock_guard lock(mutex_);
        moved = TimerMovedUpLocked();
    }
    if (moved) timerWake_();
}

void GigeDriver::Finish(Completions& completions, bool timerMoved) {
    CompleteAll(completions);
    if (timerMoved) timerWake_();
}

uint32_t GigeDriver::DeviceControl(const GigeRequestPtr& request) {
    Completions done;
    uint32_t bytes = 0;
    size_t written = 0;
    uint32_t status;
    bool timerMoved = false;
    {
        std::lock_guard lock(mutex_);
        status = unloading_ ? STATUS_INVALID_PARAMETER : Dispatch(request, done, bytes, written);
        timerMoved = TimerMovedUpLocked();
    }
    Finish(done, timerMoved);
    if (status != STATUS_PENDING) request->Complete(status, bytes, std::max<size_t>(bytes, written));
    return status;
}

uint32_t GigeDriver::Pend(std::deque<GigeRequestPtr>& queue, const GigeRequestPtr& r, Completions&) {
    // The transport marks a request cancelled before it asks us to cancel it,
    // and both happen under our lock's ordering, so a request cancelled before
    // it got here is never queued.
    if (r->Cancelled()) return STATUS_CANCELLED;
    r->MarkPending();
    queue.push_back(r);
    return STATUS_PENDING;
}

bool GigeDriver::RemoveFrom(std::deque<GigeRequestPtr>& queue, const GigeRequestPtr& r) {
    auto it = std::find(queue.begin(), queue.end(), r);
    if (it == queue.end()) return false;
    queue.erase(it);
    return true;
}

void GigeDriver::Drain(std::deque<GigeRequestPtr>& queue, uint32_t status, Completions& done) {
    for (auto& r : queue)
        done.push_back({r, status, 0, 0});
    queue.clear();
}

uint32_t GigeDriver::Dispatch(const GigeRequestPtr& r, Completions& done, uint32_t& bytes, size_t& written) {
    const auto in = r->Input();
    // Sizes are compared in 64 bits: nothing a caller puts in can wrap them.
    const uint64_t outLength = r->OutputLength();
    auto needs = [&](uint64_t inMin, uint64_t outMin) { return in.size() >= inMin && outLength >= outMin; };
    auto mapOutput = [&]() -> std::span<uint8_t> { return r->MapOutput(); };
    // Identity comes from the kernel: a well-formed request that names another process is refused.
    if (const Minimum m = ProcessNamingMinimum(r->Code());
        m.input != 0 && r->Caller() && needs(m.input, m.output) && InputU32(in, 0) != r->Caller()->processId)
        return STATUS_ACCESS_DENIED;

    switch (r->Code()) {
    case IOCTL_GIGE_GetVersion: {
        if (!needs(0, sizeof(GigeVersionInfo))) return STATUS_INVALID_PARAMETER;
        auto out = mapOutput();
        if (out.size() < sizeof(GigeVersionInfo)) return STATUS_NO_MEMORY_MAPPING;
        GigeVersionInfo v{LIBRARY_STRUCT_VERSION, 0};
        std::memcpy(out.data(), &v, sizeof v);
        bytes = sizeof v;
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_SetCmdTimeout: {
        if (!needs(12, 0)) return STATUS_INVALID_PARAMETER;
        GigeDeviceEntry* e = FindDevice(InputU32(in, 4), InputU32(in, 0));
        if (!e) return STATUS_INVALID_PARAMETER;
        uint32_t ms = InputU32(in, 8);
        e->commandTimeout = clock_.MsToTicks(ms == 0xFFFFFFFF ? params_.cmdTimeout : ms);
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_GetNicCount: {
        if (!needs(0, 4)) return STATUS_INVALID_PARAMETER;
        auto out = mapOutput();
        if (out.size() < 4) return STATUS_NO_MEMORY_MAPPING;
        uint32_t n = static_cast<uint32_t>(adapters_.size());
        std::memcpy(out.data(), &n, 4);
        bytes = 4;
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_RegisterProcess:
        if (!needs(4, 0)) return STATUS_INVALID_PARAMETER;
        return Pend(registrations_, r, done);
    case IOCTL_GIGE_WaitBusEvent: {
        if (!needs(4, 0)) return STATUS_INVALID_PARAMETER;
        if (r->Cancelled()) return STATUS_CANCELLED;
        uint32_t pid = InputU32(in, 0);
        auto it = std::find_if(busEventWaiters_.begin(), busEventWaiters_.end(),
                               [&](const BusEventWaiter& w) { return w.processId == pid; });
        if (it == busEventWaiters_.end()) it = busEventWaiters_.insert(busEventWaiters_.end(), {pid, {}});
        return Pend(it->requests, r, done);
    }
    case IOCTL_GIGE_GetDeviceList: {
        if (!needs(0, 4)) return STATUS_INVALID_PARAMETER;
        if (adapters_.empty()) {
            auto out = mapOutput();
            if (out.size() < 4) return STATUS_NO_MEMORY_MAPPING;
            std::memset(out.data(), 0, 4);
            bytes = 4;
            return STATUS_SUCCESS;
        }
        uint32_t status = Pend(deviceListRequests_, r, done);
        StartDeviceListRound(done);
        return status;
    }
    case IOCTL_GIGE_GetDeviceInfo: {
        if (!needs(4, sizeof(GigeDeviceLink))) return STATUS_INVALID_PARAMETER;
        GigeAdapter* a = nullptr;
        GigeDeviceEntry* e = FindDevice(InputU32(in, 0), std::nullopt, &a);
        if (!e) return STATUS_INVALID_PARAMETER;
        auto out = mapOutput();
        if (out.size() < sizeof(GigeDeviceLink)) return STATUS_NO_MEMORY_MAPPING;
        GigeDeviceLink link{e->ip, a->number, a->linkSpeed / 10000, a->maxFrameSize, a->ip};
        std::memcpy(out.data(), &link, sizeof link);
        bytes = sizeof link;
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_DeviceOpen: {
        if (!needs(8, 0)) return STATUS_INVALID_PARAMETER;
        if (in.size() >= 12 && (InputU32(in, 8) & kGigeOpenWatch) != 0)
            return FindDevice(InputU32(in, 4), std::nullopt) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
        GigeDeviceEntry* e = FindDevice(InputU32(in, 4), 0u);
        if (!e) return STATUS_INVALID_PARAMETER;
        e->owner = InputU32(in, 0);
        e->ownerUser = CallerUser(*r);
        e->ownerConnection = CallerConnection(*r);
        e->lost = false;
        e->commandTimeout = clock_.MsToTicks(params_.cmdTimeout);
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_DeviceClose: {
        if (!needs(8, 0)) return STATUS_INVALID_PARAMETER;
        GigeDeviceEntry* e = FindDevice(InputU32(in, 4), InputU32(in, 0));
        if (!e) return STATUS_INVALID_PARAMETER;
        e->owner = 0;
        e->ownerConnection = 0;
        e->lost = false;
        e->heartbeatInterval = e->lostTimeout = 0;
        e->heartbeatDue = e->lostDue = 0;
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_PortAlloc: {
        if (!needs(sizeof(GigePortRecord), 0)) return STATUS_INVALID_PARAMETER;
        auto rec = ReadInput<GigePortRecord>(in);
        if (PortListed(rec.hostPort)) return STATUS_INVALID_PARAMETER;
        ports_.push_back({rec.processId, rec.hostPort, CallerUser(*r), CallerConnection(*r)});
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_PortFree: {
        if (!needs(sizeof(GigePortRecord), 0)) return STATUS_INVALID_PARAMETER;
        auto rec = ReadInput<GigePortRecord>(in);
        auto it = std::find_if(ports_.begin(), ports_.end(), [&](const HostPortEntry& p) {
            return p.processId == rec.processId && p.port == rec.hostPort;
        });
        if (it == ports_.end()) return STATUS_INVALID_PARAMETER;
        RemovePortChannels(rec.hostPort, done);
        ports_.erase(it);
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_AddMultiCast: {
        if (!needs(sizeof(GigeMulticastForm), 0)) return STATUS_INVALID_PARAMETER;
        auto form = ReadInput<GigeMulticastForm>(in);
        bool entered = false;
        if (!PortListed(form.hostPort)) {
            ports_.push_back({form.processId, form.hostPort, CallerUser(*r), CallerConnection(*r)});
            entered = true;
        }
        bool listed = std::any_of(multicasts_.begin(), multicasts_.end(),
                                  [&](const MulticastEntry& m) { return m.group == form.group; });
        if (listed) {
            if (entered) ports_.pop_back();
            return STATUS_INVALID_PARAMETER;
        }
        multicasts_.push_back({form.processId, form.group, CallerConnection(*r)});
        UpdateMulticastList(done);
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_DelMultiCast: {
        if (!needs(sizeof(GigeMulticastForm), 0)) return STATUS_INVALID_PARAMETER;
        auto form = ReadInput<GigeMulticastForm>(in);
        auto it = std::find_if(multicasts_.begin(), multicasts_.end(), [&](const MulticastEntry& m) {
            return m.processId == form.processId && m.group == form.group;
        });
        if (it == multicasts_.end()) return STATUS_INVALID_PARAMETER;
        multicasts_.erase(it);
        auto port = std::find_if(ports_.begin(), ports_.end(), [&](const HostPortEntry& p) {
            return p.processId == form.processId && p.port == form.hostPort;
        });
        if (port != ports_.end()) {
            RemovePortChannels(form.hostPort, done);
            ports_.erase(port);
        }
        UpdateMulticastList(done);
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_StartHeartbeat: {
        if (!needs(sizeof(GigeHeartbeatForm), 0)) return STATUS_INVALID_PARAMETER;
        auto form = ReadInput<GigeHeartbeatForm>(in);
        GigeDeviceEntry* e = FindDevice(form.cameraIp, form.processId);
        if (!e) return STATUS_INVALID_PARAMETER;
        e->heartbeatInterval = form.interval;
        e->lostTimeout = form.lostTimeout;
        e->heartbeatPort = form.hostPort;
        uint64_t now = clock_.Now();
        e->heartbeatDue = form.interval ? now + clock_.MsToTicks(form.interval) : 0;
        e->lostDue = form.lostTimeout ? now + clock_.MsToTicks(form.lostTimeout) : 0;
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_StopHeartbeat: {
        if (!needs(8, 0)) return STATUS_INVALID_PARAMETER;
        GigeDeviceEntry* e = FindDevice(InputU32(in, 4), std::nullopt);
        if (!e) return STATUS_INVALID_PARAMETER;
        // The request names no process: it must come from the camera's user.
        if (e->owner != 0 && !SameUserOrRoot(*r, e->ownerUser)) return STATUS_ACCESS_DENIED;
        e->heartbeatInterval = e->lostTimeout = 0;
        e->heartbeatDue = e->lostDue = 0;
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_SendCmd: {
        if (!needs(554, 544)) return STATUS_INVALID_PARAMETER;
        auto block = ReadInput<GigeRequestBlock>(in);
        // Commands the frame buffer has no room for, or no frame for, are refused.
        switch (block.command) {
        case 0:
        case 3:
        case 5:
            break;
        case 1: {
            uint16_t n = InputU16(in, 12);
            if (n < 1 || n > 135 || in.size() < 14u + 4u * n) return STATUS_INVALID_PARAMETER;
            break;
        }
        case 2: {
            uint16_t n = InputU16(in, 12);
            if (n < 1 || n > 67 || in.size() < 282u + 4u * n) return STATUS_INVALID_PARAMETER;
            break;
        }
        case 4: {
            uint16_t n = InputU16(in, 16);
            if (n > 536 || in.size() < 18u + n) return STATUS_INVALID_PARAMETER;
            break;
        }
        default:
            return STATUS_INVALID_PARAMETER;
        }
        GigeAdapter* a = nullptr;
        GigeDeviceEntry* e = FindDevice(block.cameraIp, std::nullopt, &a);
        if (!e) return STATUS_INVALID_PARAMETER;
        // Commands go out from the service's own port, which a controlled
        // camera takes for its controller's: only that user writes to it.
        const bool writes = block.command == 2 || block.command == 4;
        if (writes && e->owner != 0 && !SameUserOrRoot(*r, e->ownerUser)) return STATUS_ACCESS_DENIED;
        if (e->lost) return STATUS_GIGE_DEVICE_LOST;
        uint32_t status = Pend(a->commandQueue, r, done);
        ProcessCommandQueue(*a, done);
        return status;
    }
    case IOCTL_GIGE_SetStreamInfo: {
        if (!needs(sizeof(GigeStreamSetupForm), 0)) return STATUS_INVALID_PARAMETER;
        auto form = ReadInput<GigeStreamSetupForm>(in);
        GigeAdapter* a = nullptr;
        if (!FindDevice(form.cameraIp, std::nullopt, &a)) return STATUS_INVALID_PARAMETER;
        for (auto& c : a->streamChannels)
            if (c.hostPort == form.hostPort) return STATUS_INVALID_PARAMETER;
        if (r->Caller()) {
            // A caller streams only into a host port its user holds.
            auto port = std::find_if(ports_.begin(), ports_.end(),
                                     [&](const HostPortEntry& p) { return p.port == form.hostPort; });
            if (port == ports_.end() || !SameUserOrRoot(*r, port->userId)) return STATUS_ACCESS_DENIED;
        }
        GigeStreamChannel c;
        c.ownerUser = CallerUser(*r);
        c.ownerKnown = r->Caller() != nullptr;
        c.cameraIp = form.cameraIp;
        c.hostPort = form.hostPort;
        c.channelIndex = form.channelIndex;
        c.packetPayloadSize = form.packetPayloadSize;
        c.resendEnable = form.resendEnable != 0;
        a->streamChannels.push_back(std::move(c));
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_GetStreamStatus: {
        if (!needs(10, 24)) return STATUS_INVALID_PARAMETER;
        GigeStreamChannel* c = StreamChannel(InputU16(in, 0));
        if (!c) return STATUS_INVALID_PARAMETER;
        if (!MayUseChannel(*r, *c)) return STATUS_ACCESS_DENIED;
        auto out = mapOutput();
        if (out.size() < 24) return STATUS_NO_MEMORY_MAPPING;
        uint64_t stats[3] = {c->packets, c->missingOrRequested, c->resendCommands};
        std::memcpy(out.data(), stats, sizeof stats);
        c->packets = c->missingOrRequested = c->resendCommands = 0;
        written = sizeof stats;
        return STATUS_SUCCESS; // the byte count stays 0
    }
    case IOCTL_GIGE_GetStream: {
        if (in.size() < sizeof(GigeStreamForm)) return STATUS_INVALID_PARAMETER;
        auto form = ReadInput<GigeStreamForm>(in);
        const uint64_t required = 546ull + form.infoOffset + (uint64_t(form.packetCount) + 7) / 8;
        if (outLength < required) return STATUS_INVALID_PARAMETER;
        GigeStreamChannel* c = StreamChannel(form.hostPort);
        if (!c) return STATUS_INVALID_PARAMETER;
        if (!MayUseChannel(*r, *c)) return STATUS_ACCESS_DENIED;
        if (r->Cancelled()) return STATUS_CANCELLED;
        BlockContext b;
        b.request = r;
        b.outputLength = outLength;
        b.infoOffset = form.infoOffset;
        b.packetCount = b.bufferPackets = form.packetCount;
        b.missing = form.packetCount;
        b.resendsLeft = params_.streamRetry;
        r->MarkPending();
        c->blockRequests.push_back(std::move(b));
        return STATUS_PENDING;
    }
    case IOCTL_GIGE_GetTestPacket: {
        if (in.size() < 10) return STATUS_INVALID_PARAMETER;
        auto form = ReadInput<GigeTestPacketForm>(in);
        if (outLength < form.length) return STATUS_INVALID_PARAMETER;
        GigeAdapter* a = nullptr;
        GigeStreamChannel* c = StreamChannel(form.hostPort, &a);
        if (!c) return STATUS_INVALID_PARAMETER;
        if (!MayUseChannel(*r, *c)) return STATUS_ACCESS_DENIED;
        return Pend(a->testPacketQueue, r, done);
    }
    case IOCTL_GIGE_Rediscover:
        if (params_.dhcp == 0) return STATUS_INVALID_DEVICE_REQUEST;
        if (!MayConfigureNetwork(*r)) return STATUS_ACCESS_DENIED;
        for (auto& a : adapters_)
            Rediscover(a, done);
        return STATUS_SUCCESS;
    case IOCTL_GIGE_SetMessageEnable:
        if (!needs(4, 0)) return STATUS_INVALID_PARAMETER;
        messageLevel_ = InputU32(in, 0);
        PostServiceMessages(done);
        return STATUS_SUCCESS;
    case IOCTL_GIGE_GetMessage: {
        if (!needs(0, sizeof(GigeMessageRecord))) return STATUS_INVALID_PARAMETER;
        const uint32_t status = Pend(messages_, r, done);
        PostServiceMessages(done);
        return status;
    }
    case IOCTL_GIGE_SetAdapterAddress: {
        if (!needs(sizeof(GigeAdapterAddress), 0)) return STATUS_INVALID_PARAMETER;
        if (!MayConfigureNetwork(*r)) return STATUS_ACCESS_DENIED;
        auto rec = ReadInput<GigeAdapterAddress>(in);
        GigeAdapter* a = AdapterByShortName({rec.shortName, kAdapterNameChars});
        if (a && a->windowsManaged && rec.ip != 0 && rec.ip != a->ip) {
            a->ip = rec.ip;
            a->mask = rec.mask;
        }
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_GetAdapterAddress: {
        if (!needs(0, 4)) return STATUS_INVALID_PARAMETER;
        // The name is only as long as the input that carries it.
        std::vector<char16_t> name(std::min(in.size() / 2, kAdapterNameChars));
        if (!name.empty()) std::memcpy(name.data(), in.data(), name.size() * 2);
        auto out = mapOutput();
        if (out.size() < 4) return STATUS_NO_MEMORY_MAPPING;
        uint32_t found = AdapterByShortName(name) ? 1 : 0;
        std::memcpy(out.data(), &found, 4);
        written = 4;
        return STATUS_SUCCESS; // the byte count stays 0
    }
    case IOCTL_GIGE_GetNicList: {
        if (!needs(4, 0)) return STATUS_INVALID_PARAMETER;
        uint64_t limit = std::min<uint64_t>(InputU32(in, 0), outLength / sizeof(NicInfoRecord));
        std::span<uint8_t> out;
        if (limit > 0 && !adapters_.empty()) {
            out = mapOutput();
            if (out.size() < std::min<uint64_t>(limit, adapters_.size()) * sizeof(NicInfoRecord))
                return STATUS_NO_MEMORY_MAPPING;
        }
        uint64_t n = 0;
        for (const auto& a : adapters_) {
            if (n >= limit) break;
            NicInfoRecord rec{};
            PutWide(rec.shortName, kAdapterNameChars, a.ShortName());
            PutWide(rec.displayName, kDisplayNameChars, a.displayName);
            rec.adapterNumber = a.number;
            rec.ip = a.ip;
            rec.mask = a.mask;
            std::memcpy(rec.mac, a.mac.data(), 6);
            std::memcpy(out.data() + n * sizeof rec, &rec, sizeof rec);
            ++n;
        }
        bytes = static_cast<uint32_t>(n * sizeof(NicInfoRecord));
        return n == adapters_.size() ? STATUS_SUCCESS : STATUS_NO_MORE_ENTRIES_LISTED;
    }
    case IOCTL_GIGE_SendNicCmd: {
        if (!needs(sizeof(GvcpCommandBlock), sizeof(GvcpCommandBlock))) return STATUS_INVALID_PARAMETER;
        auto block = ReadInput<GvcpCommandBlock>(in);
        if (block.command > 4) return STATUS_INVALID_PARAMETER;
        if (block.command == 4 && block.length > sizeof block.data) return STATUS_INVALID_PARAMETER;
        // FORCEIP and writes change a camera's configuration; reads are anyone's.
        if ((block.command == 0 || block.command >= 3) && !MayConfigureNetwork(*r)) return STATUS_ACCESS_DENIED;
        GigeAdapter* a = AdapterByNumber(block.adapterNumber);
        if (!a) return STATUS_INVALID_PARAMETER;
        uint32_t status = Pend(a->toolQueue, r, done);
        // Only the head of the queue is on the wire; the others follow it.
        if (status == STATUS_PENDING && a->toolQueue.size() == 1) SendToolCommand(*a, done);
        return status;
    }
    case IOCTL_GIGE_StartDiscovery:
        for (auto& a : adapters_)
            SendBroadcastDiscovery(a, kGvcpToolPort, kFlagAckWanted | kFlagBroadcastAck);
        return STATUS_SUCCESS;
    case IOCTL_GIGE_GetDiscoveryAck:
        if (!needs(0, sizeof(GigeDiscoveryAnswer))) return STATUS_INVALID_PARAMETER;
        return Pend(discoveryAnswers_, r, done);
    case IOCTL_GIGE_SetCameraIp: {
        if (!needs(sizeof(GigeCameraAddress), 0)) return STATUS_INVALID_PARAMETER;
        if (!MayConfigureNetwork(*r)) return STATUS_ACCESS_DENIED;
        auto rec = ReadInput<GigeCameraAddress>(in);
        for (auto& a : adapters_)
            for (auto& e : a.devices)
                if (std::memcmp(e.mac.data(), rec.mac, 6) == 0) {
                    e.ip = rec.ip;
                    return STATUS_SUCCESS;
                }
        return STATUS_INVALID_PARAMETER;
    }
    case IOCTL_GIGE_GetStreamSync: {
        if (!needs(10, 0)) return STATUS_INVALID_PARAMETER;
        GigeStreamChannel* c = StreamChannel(InputU16(in, 0));
        if (!c) return STATUS_INVALID_PARAMETER;
        if (!MayUseChannel(*r, *c)) return STATUS_ACCESS_DENIED;
        return Pend(c->leaderRequests, r, done);
    }
    case IOCTL_GIGE_SetStreamEnable: {
        if (!needs(4, 0)) return STATUS_INVALID_PARAMETER;
        GigeStreamChannel* c = StreamChannel(InputU16(in, 0));
        if (!c) return STATUS_INVALID_PARAMETER;
        if (!MayUseChannel(*r, *c)) return STATUS_ACCESS_DENIED;
        if (in[2] != 0)
            for (auto& b : c->blockRequests)
                if (b.blockId != 0) ResetBlock(b, params_.streamRetry);
        c->enabled = in[2] != 0;
        // Block ids seen before a (re)start say nothing about blocks lost after it.
        c->lastBlockId = 0;
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_SetEventInfo: {
        if (!needs(sizeof(GigeEventInfo), 0)) return STATUS_INVALID_PARAMETER;
        auto info = ReadInput<GigeEventInfo>(in);
        GigeAdapter* a = nullptr;
        if (!FindDevice(info.cameraIp, std::nullopt, &a)) return STATUS_INVALID_PARAMETER;
        for (auto& c : a->eventChannels)
            if (c.hostPort == info.hostPort && c.cameraPort == info.cameraPort && c.owner == info.processId)
                return STATUS_INVALID_PARAMETER;
        GigeEventChannel c;
        c.owner = info.processId;
        c.ownerConnection = CallerConnection(*r);
        c.hostPort = info.hostPort;
        c.cameraPort = info.cameraPort;
        a->eventChannels.push_back(std::move(c));
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_GetEvent: {
        if (!needs(sizeof(GigeEventInfo), sizeof(GigeEventData))) return STATUS_INVALID_PARAMETER;
        auto info = ReadInput<GigeEventInfo>(in);
        for (auto& a : adapters_)
            for (auto& c : a.eventChannels)
                if (c.hostPort == info.hostPort && c.owner == info.processId)
                    return Pend(c.requests, r, done);
        return STATUS_INVALID_PARAMETER;
    }
    case IOCTL_GIGE_SendActionCmd: {
        if (!needs(sizeof(GigeActionForm), 0)) return STATUS_INVALID_PARAMETER;
        auto form = ReadInput<GigeActionForm>(in);
        // The command goes out as a broadcast on the adapter of the camera
        // named (on every adapter for none, or one not found) and triggers
        // every camera there whose keys match. Root and network
        // administrators may always send it; any other user only where no
        // camera another user holds would receive it.
        if (!MayConfigureNetwork(*r)) {
            GigeAdapter* chosen = nullptr;
            if (form.cameraIp != 0)
                for (auto& a : adapters_)
                    if (DeviceOn(a, form.cameraIp)) chosen = &a;
            for (auto& a : adapters_) {
                if (a.ip == 0 || a.closing || (chosen && chosen != &a)) continue;
                for (const auto& e : a.devices)
                    if (e.owner != 0 && !SameUserOrRoot(*r, e.ownerUser)) return STATUS_ACCESS_DENIED;
            }
        }
        SendActionCommand(form.cameraIp, form.deviceKey, form.groupKey, form.groupMask);
        return STATUS_SUCCESS;
    }
    case IOCTL_GIGE_WaitActionAck:
        if (!needs(0, sizeof(GigeActionAck))) return STATUS_INVALID_PARAMETER;
        return Pend(actionAcks_, r, done);
    case IOCTL_GIGE_GetDeviceStatus: {
        if (!needs(8, 4)) return STATUS_INVALID_PARAMETER;
        GigeDeviceEntry* e = FindDevice(InputU32(in, 4), InputU32(in, 0));
        // A watcher owns nothing: it learns the state of the camera's entry.
        if (!e) e = FindDevice(InputU32(in, 4), std::nullopt);
        if (!e) return STATUS_INVALID_PARAMETER;
        auto out = mapOutput();
        if (out.size() < 4) return STATUS_NO_MEMORY_MAPPING;
        uint32_t lost = e->lost ? 1 : 0;
        std::memcpy(out.data(), &lost, 4);
        bytes = 4;
        return STATUS_SUCCESS;
    }
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

void GigeDriver::Cancel(const GigeRequestPtr& request) {
    Completions done;
    {
        std::lock_guard lock(mutex_);
        if (RemoveFrom(registrations_, request)) {
            CancelRegistration(InputU32(request->Input(), 0), done);
            // The registration completes first, then what was collected.
            done.insert(done.begin(), Completion{request, STATUS_CANCELLED, 0, 0});
        } else {
            bool found = RemoveFrom(deviceListRequests_, request) || RemoveFrom(discoveryAnswers_, request) ||
                         RemoveFrom(messages_, request) || RemoveFrom(actionAcks_, request) ||
                         RemoveFrom(powerParked_, request);
            for (auto& w : busEventWaiters_)
                found = found || RemoveFrom(w.requests, request);
            for (auto& a : adapters_) {
                if (found) break;
                const bool toolHead = !a.toolQueue.empty() && a.toolQueue.front() == request;
                found = RemoveFrom(a.commandQueue, request) ||
                        std::erase_if(a.awaitingAck,
                                      [&](const CommandContext& c) { return c.request == request; }) ||
                        RemoveFrom(a.testPacketQueue, request) || RemoveFrom(a.toolQueue, request);
                // The tool request behind a cancelled head goes out now.
                if (toolHead) SendToolCommand(a, done);
                for (auto& c : a.streamChannels)
                    found = found ||
                            std::erase_if(c.blockRequests,
                                          [&](const BlockContext& b) { return b.request == request; }) ||
                            RemoveFrom(c.leaderRequests, request);
                for (auto& c : a.eventChannels)
                    found = found || RemoveFrom(c.requests, request);
            }
            if (found) done.push_back({request, STATUS_CANCELLED, 0, 0});
        }
    }
    CompleteAll(done);
    WakeTimerIfMoved();
}

bool GigeDriver::MayUseChannel(const GigeRequest& r, const GigeStreamChannel& c) {
    return !c.ownerKnown || SameUserOrRoot(r, c.ownerUser);
}

void GigeDriver::ConnectionClosed(uint64_t connection) {
    if (connection == 0) return;
    Completions done;
    {
        std::lock_guard lock(mutex_);
        for (auto& a : adapters_) {
            for (auto& e : a.devices)
                if (e.owner != 0 && e.ownerConnection == connection) ReleaseDevice(a, e, e.heartbeatInterval != 0);
            for (auto it = a.eventChannels.begin(); it != a.eventChannels.end();) {
                if (it->ownerConnection == connection) {
                    Drain(it->requests, STATUS_CANCELLED, done);
                    it = a.eventChannels.erase(it);
                } else {
                    ++it;
                }
            }
        }
        FreePortsAndGroups([&](uint32_t, uint64_t taker) { return taker == connection; }, done);
    }
    CompleteAll(done);
    WakeTimerIfMoved();
}

void GigeDriver::CancelRegistration(uint32_t pid, Completions& done) {
    for (auto& a : adapters_)
        for (auto& e : a.devices)
            if (e.owner == pid) ReleaseDevice(a, e, e.heartbeatInterval != 0);

    for (auto it = busEventWaiters_.begin(); it != busEventWaiters_.end();) {
        if (it->processId == pid) {
            Drain(it->requests, STATUS_CANCELLED, done);
            it = busEventWaiters_.erase(it);
        } else {
            ++it;
        }
    }

    FreePortsAndGroups([&](uint32_t process, uint64_t) { return process == pid; }, done);
}

void GigeDriver::FreePortsAndGroups(const std::function<bool(uint32_t process, uint64_t connection)>& held,
                                    Completions& done) {
    for (auto it = ports_.begin(); it != ports_.end();) {
        if (held(it->processId, it->connection)) {
            RemovePortChannels(it->port, done);
            it = ports_.erase(it);
        } else {
            ++it;
        }
    }
    const size_t before = multicasts_.size();
    std::erase_if(multicasts_, [&](const MulticastEntry& m) { return held(m.processId, m.connection); });
    if (multicasts_.size() != before) UpdateMulticastList(done);
}

void GigeDriver::ReleaseDevice(GigeAdapter& a, GigeDeviceEntry& e, bool releaseControl) {
    e.owner = 0;
    e.ownerConnection = 0;
    e.lost = false;
    e.commandTimeout = clock_.MsToTicks(params_.cmdTimeout);
    if (releaseControl) {
        e.heartbeatInterval = e.lostTimeout = 0;
        e.heartbeatDue = e.lostDue = 0;
        e.heartbeatPendingId = 0;
        e.heartbeatUnanswered = 0;
        // The camera is free at once instead of after its heartbeat time-out.
        SendReleaseControl(a, e, e.heartbeatPort);
    }
}

void GigeDriver::RemovePortChannels(uint16_t port, Completions& done) {
    for (auto& a : adapters_) {
        if (IsStreamPort(port)) {
            for (auto it = a.streamChannels.begin(); it != a.streamChannels.end();) {
                if (it->hostPort == port) {
                    for (auto& b : it->blockRequests)
                        done.push_back({b.request, STATUS_CANCELLED, 0, 0});
                    it->blockRequests.clear();
                    Drain(it->leaderRequests, STATUS_CANCELLED, done);
                    it = a.streamChannels.erase(it);
                } else {
                    ++it;
                }
            }
            // Test-packet requests wait for that port too; they are queued
            // only while such a channel exists.
            if (!StreamChannel(port)) {
                for (auto it = a.testPacketQueue.begin(); it != a.testPacketQueue.end();) {
                    if (InputU16((*it)->Input(), 0) == port) {
                        done.push_back({*it, STATUS_CANCELLED, 0, 0});
                        it = a.testPacketQueue.erase(it);
                    } else {
                        ++it;
                    }
                }
            }
        } else if (IsEventPort(port)) {
            for (auto it = a.eventChannels.begin(); it != a.eventChannels.end();) {
                if (it->hostPort == port) {
                    Drain(it->requests, STATUS_CANCELLED, done);
                    it = a.eventChannels.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
}

void GigeDriver::UpdateMulticastList(Completions& done) {
    std::vector<std::array<uint8_t, 6>> macs;
    for (const auto& m : multicasts_) {
        uint8_t b[4];
        std::memcpy(b, &m.group, 4);
        macs.push_back({0x01, 0x00, 0x5E, static_cast<uint8_t>(b[1] & 0x7F), b[2], b[3]});
    }
    for (auto& a : adapters_) {
        if (a.closing || !a.port) continue;
        bool ok = a.port->SetMulticastList(macs);
        PostDriverMessage(&a, ok ? kMsgMulticastOk : kMsgMulticastNg, done);
    }
}

void GigeDriver::CompleteBusEventWaiters(uint32_t status, Completions& done) {
    for (auto& w : busEventWaiters_) {
        if (w.requests.empty()) continue;
        done.push_back({w.requests.front(), status, 0, 0});
        w.requests.pop_front();
    }
}

void GigeDriver::PostDriverMessage(const GigeAdapter* adapter, const char16_t* text, Completions& done) {
    size_t units = std::char_traits<char16_t>::length(text);
    if (messageLevel_ == 0 || units * 2 > kMessageTextBytes || messages_.empty()) return;
    GigeRequestPtr r = messages_.front();
    messages_.pop_front();
    auto out = r->MapOutput();
    if (out.size() < sizeof(GigeMessageRecord)) {
        done.push_back({r, STATUS_NO_MEMORY_MAPPING, 0, 0});
        return;
    }
    GigeMessageRecord rec{};
    if (adapter) std::memcpy(&rec.adapterWord, adapter->mac.data() + 2, 4);
    std::memcpy(rec.text, text, units * 2);
    std::memcpy(out.data(), &rec, sizeof rec);
    // The count says 532 as callers expect; the whole record goes back, so a
    // text of full length keeps its terminator.
    done.push_back({r, STATUS_SUCCESS, 532, sizeof rec});
}

void GigeDriver::PostServiceMessage(std::u16string text) {
    constexpr size_t kMaxWaiting = 8;
    Completions done;
    {
        std::lock_guard lock(mutex_);
        if (unloading_ || serviceMessages_.size() >= kMaxWaiting) return;
        text.resize(std::min(text.size(), kMessageTextBytes / 2));
        serviceMessages_.push_back(std::move(text));
        PostServiceMessages(done);
    }
    CompleteAll(done);
    WakeTimerIfMoved();
}

void GigeDriver::PostServiceMessages(Completions& done) {
    while (!serviceMessages_.empty() && messageLevel_ != 0 && !messages_.empty()) {
        PostDriverMessage(nullptr, serviceMessages_.front().c_str(), done);
        serviceMessages_.pop_front();
    }
}

GigeAdapter* GigeDriver::AdapterByNumber(uint32_t number) {
    for (auto& a : adapters_)
        if (a.number == number) return &a;
    return nullptr;
}

GigeAdapter* GigeDriver::AdapterByShortName(std::span<const char16_t> name) {
    // The given name ends at its terminator or at the end of what was given,
    // whichever comes first.
    size_t length = 0;
    while (length < name.size() && name[length] != 0)
        ++length;
    for (auto& a : adapters_) {
        std::string shortName = a.ShortName();
        if (shortName.size() != length) continue;
        bool same = true;
        for (size_t i = 0; i < length && same; ++i)
            same = FoldCase(static_cast<unsigned char>(shortName[i])) == FoldCase(name[i]);
        if (same) return &a;
    }
    return nullptr;
}

GigeDeviceEntry* GigeDriver::FindDevice(uint32_t ip, std::optional<uint32_t> owner, GigeAdapter** adapter) {
    for (auto& a : adapters_)
        for (auto& e : a.devices)
            if (e.ip == ip && (!owner || e.owner == *owner)) {
                if (adapter) *adapter = &a;
                return &e;
            }
    return nullptr;
}

GigeStreamChannel* GigeDriver::StreamChannel(uint16_t port, GigeAdapter** adapter) {
    for (auto& a : adapters_)
        for (auto& c : a.streamChannels)
            if (c.hostPort == port) {
                if (adapter) *adapter = &a;
                return &c;
            }
    return nullptr;
}

bool GigeDriver::PortListed(uint16_t port) const {
    return std::any_of(ports_.begin(), ports_.end(), [&](const HostPortEntry& p) { return p.port == port; });
}

bool GigeDriver::AddressTaken(const GigeAdapter& adapter, uint32_t ip) const {
    for (const auto& r : profile_.Records()) {
        static const uint8_t zero[6] = {};
        if (std::memcmp(r.adapterMac, adapter.mac.data(), 6) != 0 && std::memcmp(r.cameraMac, zero, 6) == 0 &&
            r.ip == ip)
            return true;
    }
    for (const auto& a : adapters_) {
        if (a.ip == 0) continue;
        uint8_t b[4];
        std::memcpy(b, &a.ip, 4);
        b[3] = 1;
        uint32_t dotOne;
        std::memcpy(&dotOne, b, 4);
        if (dotOne == ip) return true;
    }
    return false;
}

std::pair<uint16_t, uint16_t> GigeDriver::NextGvcpIds(GigeAdapter& a) {
    // Both counters run 1 .. 0xFFFF and never use 0.
    a.gvcpRequestId = static_cast<uint16_t>(a.gvcpRequestId == 0xFFFF ? 1 : a.gvcpRequestId + 1);
    a.ipId = static_cast<uint16_t>(a.ipId == 0xFFFF ? 1 : a.ipId + 1);
    return {a.gvcpRequestId, a.ipId};
}

void GigeDriver::ArmTimer(GigeAdapter& a, AdapterTimer t, uint32_t ms) {
    a.Timer(t) = std::max<uint64_t>(1, clock_.Now() + clock_.MsToTicks(ms));
}

bool GigeDriver::SendRawFrame(GigeAdapter& a, std::span<uint8_t> frame, size_t length) {
    if (a.closing || !a.port) return false;
    if (length == 0) {
        length = FinishIpv4Frame(frame);
        if (length == 0) return false;
    } else if (length > frame.size()) {
        return false;
    } else if (length < kMinFrame) {
        if (frame.size() < kMinFrame) return false;
        std::memset(frame.data() + length, 0, kMinFrame - length);
        length = kMinFrame;
    }
    return a.port->SendFrame(frame.first(length));
}

std::optional<uint32_t> GigeDriver::BindAdapter(const AdapterBinding& b, uint32_t* status) {
    Completions done;
    std::optional<uint32_t> result;
    {
        std::lock_guard lock(mutex_);
        const std::string bindName = "\\DEVICE\\" + b.name;
        bool duplicate = std::any_of(adapters_.begin(), adapters_.end(),
                                     [&](const GigeAdapter& a) { return a.bindName == bindName; });
        if (unloading_ || duplicate || !b.port) {
            if (status) *status = unloading_ ? STATUS_INVALID_PARAMETER : STATUS_INSUFFICIENT_RESOURCES;
            return std::nullopt;
        }
        GigeAdapter a;
        a.bindName = bindName;
        a.displayName = b.displayName.empty() ? b.name : b.displayName;
        a.port = b.port;
        a.mac = b.mac;
        a.maxFrameSize = b.maxFrameSize;
        a.linkSpeed = b.linkSpeed;
        a.notConnected = a.lastNotConnected = b.connected ? 0 : 1;
        a.windowsManaged = true;

        uint32_t number = 0;
        while (AdapterByNumber(number))
            ++number;
        a.number = number;

        if (auto rec = profile_.AdapterRecord(a.mac)) {
            a.windowsManaged = false;
            if (params_.dhcp != 0) {
                uint32_t ip = rec->ip;
                // An address another bound adapter already holds counts as none.
                if (ip != 0 && ip != 0xFFFFFFFF &&
                    std::any_of(adapters_.begin(), adapters_.end(),
                                [&](const GigeAdapter& o) { return o.ip == ip; }))
                    ip = 0;
                if (ip != 0) {
                    a.ip = ip;
                    a.mask = rec->mask;
                } else {
                    for (uint32_t n = number; n <= 255; ++n) {
                        uint8_t bytes[4] = {192, 168, static_cast<uint8_t>(n), 1};
                        uint32_t candidate;
                        std::memcpy(&candidate, bytes, 4);
                        if (AddressTaken(a, candidate)) continue;
                        a.ip = candidate;
                        uint8_t m[4] = {255, 255, 255, 0};
                        std::memcpy(&a.mask, m, 4);
                        break;
                    }
                }
            }
        }
        adapters_.push_back(std::move(a));
        GigeAdapter& bound = adapters_.back();
        ArmTimer(bound, AdapterTimer::Tick, 5);
        if (!bound.windowsManaged) {
            if (!bound.notConnected) ArmTimer(bound, AdapterTimer::Start, 3000);
        }
        if (!multicasts_.empty()) UpdateMulticastList(done);
        result = number;
        if (status) *status = STATUS_SUCCESS;
    }
    CompleteAll(done);
    WakeTimerIfMoved();
    return result;
}

void GigeDriver::DrainAdapter(GigeAdapter& a, Completions& done) {
    Drain(a.commandQueue, STATUS_CANCELLED, done);
    for (auto& c : a.awaitingAck)
        done.push_back({c.request, STATUS_CANCELLED, 0, 0});
    a.awaitingAck.clear();
    Drain(a.testPacketQueue, STATUS_CANCELLED, done);
    Drain(a.toolQueue, STATUS_CANCELLED, done);
    for (auto& c : a.streamChannels) {
        for (auto& b : c.blockRequests)
            done.push_back({b.request, STATUS_CANCELLED, 0, 0});
        c.blockRequests.clear();
        Drain(c.leaderRequests, STATUS_CANCELLED, done);
    }
    for (auto& c : a.eventChannels)
        Drain(c.requests, STATUS_POWER_PARKED, done);
}

void GigeDriver::UnbindAdapter(uint32_t number) {
    Completions done;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(adapters_.begin(), adapters_.end(),
                               [&](const GigeAdapter& a) { return a.number == number; });
        if (it == adapters_.end()) return;
        GigeAdapter& a = *it;
        a.closing = true;
        a.timerDue.fill(0);
        a.devices.clear();
        CompleteBusEventWaiters(STATUS_GIGE_DEVICE_LOST, done);
        DrainAdapter(a, done);
        adapters_.erase(it);
    }
    CompleteAll(done);
    WakeTimerIfMoved();
}

void GigeDriver::LinkStateChanged(uint32_t number, bool connected) {
    Completions done;
    {
        std::lock_guard lock(mutex_);
        GigeAdapter* a = AdapterByNumber(number);
        if (!a || a->closing || a->resume) return;
        a->notConnected = connected ? 0 : 1;
        LinkStateWork(*a, done);
    }
    CompleteAll(done);
    WakeTimerIfMoved();
}

void GigeDriver::LinkStateWork(GigeAdapter& a, Completions& done) {
    if (a.notConnected == a.lastNotConnected) return;
    a.lastNotConnected = a.notConnected;
    if (a.notConnected) {
        a.maxFrameSize = 1500;
        a.linkSpeed = 100000;
        CompleteBusEventWaiters(STATUS_SUCCESS, done);
        a.Timer(AdapterTimer::DhcpSend) = 0;
        const bool forgetIp = params_.dhcp == 0 || a.windowsManaged;
        for (auto& e : a.devices) {
            e.owner = 0;
            if (forgetIp) e.ip = 0;
            e.heartbeatInterval = e.lostTimeout = 0;
            e.heartbeatDue = e.lostDue = 0;
        }
        if (params_.dhcp == 0) {
            a.ForgetLease();
        }
        a.otherServerPresent = false;
        a.dhcpClientActive = false;
    } else {
        a.Timer(AdapterTimer::Start) = 0;
        uint32_t frame = 0, speed = 0;
        if (a.port && a.port->QueryLink(frame, speed)) {
            a.maxFrameSize = frame;
            a.linkSpeed = speed;
            StartAdapterAddressing(a);
        }
    }
}

void GigeDriver::StartAdapterAddressing(GigeAdapter& a) {
    if (a.closing) return;
    if (a.windowsManaged) {
        // The system's stack serves this adapter: its address is the one the
        // system holds, and cameras get time to come up before the waiters wake.
        if (a.ip == 0 && a.systemIp != 0) {
            a.ip = a.systemIp;
            a.mask = a.systemMask;
        }
        ArmTimer(a, AdapterTimer::BusEvent, 3000);
    } else if (params_.dhcp == 0) {
        a.dhcpClientActive = true;
        ArmTimer(a, AdapterTimer::DhcpSend, 5);
    } else {
        StartServerProbe(a);
    }
    a.startedOnce = true;
}

void GigeDriver::SystemAddressChanged(uint32_t number, uint32_t ip, uint32_t mask) {
    std::lock_guard lock(mutex_);
    GigeAdapter* a = AdapterByNumber(number);
    if (!a) return;
    a->systemIp = ip;
    a->systemMask = mask;
    if (a->windowsManaged && ip != a->ip) {
        a->ip = ip;
        a->mask = mask;
    }
}

void GigeDriver::Receive(uint32_t number, std::span<const uint8_t> bytes) {
    const std::span<const uint8_t> one[] = {bytes};
    ReceiveBatch(number, one, 0);
}

void GigeDriver::ReceiveBatch(uint32_t number, std::span<const std::span<const uint8_t>> frames,
                              uint64_t arrived) {
    Completions done;
    bool timerMoved = false;
    {
        std::lock_guard lock(mutex_);
        ReceivePass pass;
        pass.now = clock_.Now(); // once for the batch
        pass.arrived = arrived != 0 ? std::min(arrived, pass.now) : pass.now;
        for (const auto bytes : frames)
            if (!ReceiveLocked(number, bytes, done, pass)) break;
        // A receive path that is behind looks at the time-outs itself, counting up to when what it
        // handles came: the timer thread leaves them to it while frames wait.
        GigeAdapter* a = AdapterByNumber(number);
        if (a && !a->closing && a->streamArrived >= a->streamCheckDue && !a->streamChannels.empty()) {
            a->streamCheckDue = a->streamArrived + clock_.MsToTicks(5);
            CheckBlockTimeouts(*a, a->streamArrived, pass.now, done);
        }
        timerMoved = TimerMovedUpLocked();
    }
    Finish(done, timerMoved);
}

int GigeDriver::CheckStreamTimeouts(uint32_t number) {
    Completions done;
    bool timerMoved = false;
    int waitMs = -1;
    {
        std::lock_guard lock(mutex_);
        GigeAdapter* a = AdapterByNumber(number);
        if (!a || a->closing || a->streamChannels.empty()) return -1;
        const uint64_t now = clock_.Now();
        // Frames waiting to be read are read first; their blocks' time-outs then count up to them.
        if (a->port && a->port->StreamBacklog()) return 0;
        CheckBlockTimeouts(*a, now, now, done);
        const uint64_t next = NextBlockDue(*a);
        if (next != kNever) {
            const uint64_t ticks = next > now ? next - now : 0;
            const uint64_t perMs = std::max<uint64_t>(1, clock_.MsToTicks(1));
            waitMs = static_cast<int>(std::min<uint64_t>((ticks + perMs - 1) / perMs, 60000));
        }
        timerMoved = TimerMovedUpLocked();
    }
    Finish(done, timerMoved);
    return waitMs;
}

bool GigeDriver::ReceiveLocked(uint32_t number, std::span<const uint8_t> bytes, Completions& done,
                               ReceivePass& pass) {
    GigeAdapter* a = AdapterByNumber(number);
    if (!a || a->closing || a->paused) return false;
    ReceivedFrame frame(bytes);
    ClassifyContext ctx;
    ctx.windowsManaged = a->windowsManaged;
    ctx.dhcpServerMode = params_.dhcp != 0;
    ctx.adapterMac = a->mac.data();
    ctx.portCtx = this;
    ctx.portListed = [](const void* self, uint16_t port) {
        return static_cast<const GigeDriver*>(self)->PortListed(port);
    };
    switch (ClassifyFrame(frame, ctx)) {
    case FrameClass::Arp:
        HandleArp(*a, frame, done);
        break;
    case FrameClass::IcmpEcho:
        HandleIcmp(*a, frame);
        break;
    case FrameClass::OtherServer:
        a->otherServerPresent = true;
        break;
    case FrameClass::Gvsp:
        HandleStreamPacket(*a, frame, done, pass);
        break;
    case FrameClass::ActionAck:
        HandleActionAck(*a, frame, done);
        break;
    case FrameClass::ToolAnswer:
        HandleToolAnswer(*a, frame, done);
        break;
    case FrameClass::ForceIpReset:
        ForceIpReset(*a, frame);
        break;
    case FrameClass::DriverDiscovery:
        AnswerDriverDiscovery(*a, frame);
        break;
    case FrameClass::DeviceListUpdate:
        UpdateDeviceList(*a, frame);
        break;
    case FrameClass::CommandAck:
        HandleCommandAck(*a, frame, done);
        break;
    case FrameClass::CameraEvent:
        HandleCameraEvent(*a, frame, done);
        break;
    case FrameClass::DhcpServer:
        DhcpServerReceive(*a, frame, done);
        break;
    case FrameClass::DhcpClient:
        if (a->dhcpClientActive)
            DhcpClientReceive(*a, frame);
        else if (a->serverProbeRunning)
            FinishServerProbe(*a, true); // another DHCP server answers on this network
        break;
    case FrameClass::DhcpClientRestart:
        a->ForgetLease();
        a->Timer(AdapterTimer::DhcpRetry) = 0;
        ArmTimer(*a, AdapterTimer::DhcpSend, 10);
        break;
    default:
        break; // the camera protocols are served by their own handlers
    }
    return true;
}

void GigeDriver::HandleArp(GigeAdapter& a, const ReceivedFrame& f, Completions& done) {
    PostDriverMessage(&a, kMsgArpStart, done);
    const uint8_t* arp = f.Bytes().data() + kEthernetHeader;
    if (Get16(arp) != 1 || Get16(arp + 2) != kEtherTypeIpv4 || arp[4] != 6 || arp[5] != 4) return;
    const uint16_t op = Get16(arp + 6);
    const uint8_t* senderMac = arp + 8;
    const uint32_t senderIp = GetAddr(arp + 14);
    const uint32_t targetIp = GetAddr(arp + 24);

    if (a.dhcpClientActive && op == 2 && a.ip != 0 && senderIp == a.ip) {
        // Someone else answers for our address: the client starts over.
        a.Timer(AdapterTimer::DhcpRetry) = 0;
        a.Timer(AdapterTimer::Announce) = 0;
        a.ForgetLease();
        ArmTimer(a, AdapterTimer::DhcpSend, 5);
        return;
    }
    if (op == 1 && !a.windowsManaged && a.ip != 0 && targetIp == a.ip) {
        PostDriverMessage(&a, kMsgArpResponse, done);
        SendArp(a, senderMac, 2, senderMac, senderIp);
        return;
    }
    if (op == 1 && senderIp == targetIp && !a.serverProbeRunning) {
        MacAddress mac;
        std::memcpy(mac.data(), senderMac, 6);
        auto it = std::find_if(a.devices.begin(), a.devices.end(),
                               [&](const GigeDeviceEntry& e) { return e.mac == mac; });
        const uint64_t now = clock_.Now();
        if (it != a.devices.end()) {
            if (it->owner == 0 && (it->lastSeen == kNever || now - it->lastSeen > clock_.MsToTicks(20000)))
                ArmTimer(a, AdapterTimer::BusEvent, params_.dhcpWait);
            it->lastSeen = now;
            if (params_.dhcp == 0 || a.windowsManaged) it->ip = senderIp;
            PostDriverMessage(&a, kMsgArpDevOk, done);
        } else {
            PostDriverMessage(&a, kMsgArpNewDev, done);
            if (a.windowsManaged || a.dhcpClientActive) ArmTimer(a, AdapterTimer::BusEvent, params_.dhcpWait);
        }
    }
}

bool GigeDriver::SendArp(GigeAdapter& a, const uint8_t* dstMac, uint16_t op, const uint8_t* targetMac,
                         uint32_t targetIp) {
    uint8_t frame[kMinFrame] = {};
    std::memcpy(frame, dstMac, 6);
    std::memcpy(frame + 6, a.mac.data(), 6);
    Put16(frame + 12, kEtherTypeArp);
    uint8_t* r = frame + kEthernetHeader;
    Put16(r, 1);
    Put16(r + 2, kEtherTypeIpv4);
    r[4] = 6;
    r[5] = 4;
    Put16(r + 6, op);
    std::memcpy(r + 8, a.mac.data(), 6);
    PutAddr(r + 14, a.ip);
    std::memcpy(r + 18, targetMac, 6);
    PutAddr(r + 24, targetIp);
    return SendRawFrame(a, frame, sizeof frame);
}

void GigeDriver::HandleIcmp(GigeAdapter& a, const ReceivedFrame& f) {
    // Only echo requests addressed to this adapter's own address are answered;
    // the adapter sees every frame on the wire, including pings for others.
    if (a.ip == 0 || f.DestinationIp() != a.ip) return;
    const uint8_t* ip = f.Bytes().data() + kEthernetHeader;
    if ((Get16(ip + 6) & 0x3FFF) != 0) return; // a fragment: no whole message to echo
    auto icmp = f.IpPayload();
    if (icmp.size() < 8 || icmp[0] != 8) return;
    // The reply is as long as the request, bounded by the adapter's MTU.
    const size_t ipTotal = kIpv4Header + icmp.size();
    if (ipTotal > a.maxFrameSize) return;
    std::vector<uint8_t> reply(std::max(kMinFrame, kEthernetHeader + ipTotal), 0);
    std::memcpy(reply.data(), f.SourceMac(), 6);
    std::memcpy(reply.data() + 6, a.mac.data(), 6);
    Put16(reply.data() + 12, kEtherTypeIpv4);
    uint8_t* rip = reply.data() + kEthernetHeader;
    rip[0] = 0x45;
    Put16(rip + 4, 0); // identification 0
    rip[8] = ip[8];    // TTL
    rip[9] = ip[9];    // protocol
    PutAddr(rip + 12, a.ip);
    PutAddr(rip + 16, f.SourceIp());
    uint8_t* ricmp = rip + kIpv4Header;
    std::memcpy(ricmp, icmp.data(), icmp.size());
    ricmp[0] = 0; // echo reply; code, identifier, sequence and data as received
    size_t length = FinishIpv4Frame(reply, ipTotal);
    if (length) SendRawFrame(a, reply, length);
}

uint64_t GigeDriver::RunTimers() {
    Completions done;
    {
        std::lock_guard lock(mutex_);
        const uint64_t now = clock_.Now();
        for (auto& a : adapters_) {
            for (size_t t = 0; t < a.timerDue.size(); ++t) {
                if (a.timerDue[t] == 0 || a.timerDue[t] > now) continue;
                a.timerDue[t] = 0;
                if (!a.closing) FireTimer(a, static_cast<AdapterTimer>(t), done);
            }
            if (!a.closing) RunDeviceTimers(a, now, done);
        }
        if (listRoundDue_ != 0 && listRoundDue_ <= now) FinishDeviceListRound(done);
    }
    CompleteAll(done);
    std::lock_guard lock(mutex_);
    plannedWake_ = NextTimerDueLocked();
    return plannedWake_;
}

uint64_t GigeDriver::NextTimerDue() const {
    std::lock_guard lock(mutex_);
    return NextTimerDueLocked();
}

uint64_t GigeDriver::NextTimerDueLocked() const {
    uint64_t next = listRoundDue_ ? listRoundDue_ : kNever;
    for (const auto& a : adapters_) {
        for (uint64_t due : a.timerDue)
            if (due != 0) next = std::min(next, due);
        for (const auto& e : a.devices) {
            if (e.heartbeatDue) next = std::min(next, e.heartbeatDue);
            if (e.lostDue) next = std::min(next, e.lostDue);
        }
    }
    return next;
}

void GigeDriver::TickWork(GigeAdapter& a, Completions& done) {
    const uint64_t now = clock_.Now();
    // While stream frames wait to be read the silence of a block is not yet known: the receive path
    // times blocks out as it catches up.
    // A port that times its blocks out itself is left to it.
    const bool blocks = !(a.port && a.port->TimesOutBlocks());
    const bool behind = blocks && a.port && a.port->StreamBacklog();
    if (blocks && !behind) CheckBlockTimeouts(a, now, now, done);
    const uint64_t commandDue = CheckCommandResends(a, done);
    // The tick runs only while there is something to look at: commands awaiting their answers when
    // the first of them is due to be sent again (a command answered in time costs no wake-up),
    // blocks in progress when they may time out (unless the port times them out itself).
    uint64_t next = blocks ? NextBlockDue(a) : kNever;
    if (behind && next != kNever) next = std::max(next, now + clock_.MsToTicks(5));
    next = std::min(next, commandDue);
    a.Timer(AdapterTimer::Tick) = next == kNever ? 0 : std::max(next, now + 1);
}

void GigeDriver::FireTimer(GigeAdapter& a, AdapterTimer t, Completions& done) {
    switch (t) {
    case AdapterTimer::Start:
        StartAdapterAddressing(a);
        break;
    case AdapterTimer::BusEvent:
        CompleteBusEventWaiters(STATUS_SUCCESS, done);
        break;
    case AdapterTimer::Tick:
        TickWork(a, done);
        break;
    case AdapterTimer::Probe:
        ServerProbeStep(a);
        break;
    case AdapterTimer::DhcpSend:
        DhcpClientSend(a);
        break;
    case AdapterTimer::DhcpRetry:
        // Three unanswered rounds: start over from the discovery.
        if (++a.dhcpRetryCount > 3) {
            a.ForgetLease();
        }
        DhcpClientSend(a);
        break;
    case AdapterTimer::Announce:
        AnnounceAddress(a, done);
        break;
    case AdapterTimer::Discovery:
        if (!a.otherServerPresent)
            SendBroadcastDiscovery(a, kGvcpCameraPort, kFlagAckWanted | kFlagBroadcastAck);
        break;
    default:
        break; // discovery, DHCP and announcements belong to the address management
    }
}

void GigeDriver::PowerDown() {
    std::lock_guard lock(mutex_);
    if (unloading_ || poweredDown_) return;
    poweredDown_ = true;
    auto park = [&](std::deque<GigeRequestPtr>& queue) {
        for (auto& r : queue)
            powerParked_.push_back(r);
        queue.clear();
    };
    park(deviceListRequests_);
    listRoundRequest_.reset();
    listRoundDue_ = 0;
    for (auto& w : busEventWaiters_)
        park(w.requests);
    busEventWaiters_.clear();
    for (auto& a : adapters_) {
        park(a.commandQueue);
        for (auto& c : a.awaitingAck)
            powerParked_.push_back(c.request);
        a.awaitingAck.clear();
        park(a.testPacketQueue);
        park(a.toolQueue);
        for (auto& c : a.streamChannels) {
            for (auto& b : c.blockRequests)
                powerParked_.push_back(b.request);
            park(c.leaderRequests);
        }
        a.streamChannels.clear();
        for (auto& c : a.eventChannels)
            park(c.requests);
        a.eventChannels.clear();
        a.paused = true; // received frames are ignored and commands refused until the wake-up
        const bool forgetIp = params_.dhcp == 0 || a.windowsManaged;
        for (auto& e : a.devices) {
            e.owner = 0;
            if (forgetIp) e.ip = 0;
            e.commandTimeout = clock_.MsToTicks(params_.cmdTimeout);
            e.heartbeatInterval = e.lostTimeout = 0;
            e.heartbeatDue = e.lostDue = 0;
            e.heartbeatPendingId = 0;
            e.heartbeatUnanswered = 0;
        }
    }
}

void GigeDriver::PowerUp() {
    Completions done;
    {
        std::lock_guard lock(mutex_);
        if (!poweredDown_) return; // a wake-up without a sleep before it changes nothing
        poweredDown_ = false;
        for (auto& r : powerParked_)
            done.push_back({r, STATUS_POWER_PARKED, 0, 0});
        powerParked_.clear();
        for (auto& a : adapters_) {
            if (a.closing) continue;
            // Addressing starts over once the link has had time to come back.
            a.paused = false;
            a.resume = false;
            a.Timer(AdapterTimer::DhcpSend) = 0;
            a.Timer(AdapterTimer::DhcpRetry) = 0;
            if (!a.windowsManaged && !a.notConnected) ArmTimer(a, AdapterTimer::Start, 3000);
        }
    }
    CompleteAll(done);
    WakeTimerIfMoved();
}

size_t GigeDriver::PowerParkedCount() const {
    std::lock_guard lock(mutex_);
    return powerParked_.size();
}

void GigeDriver::Unload() {
    Completions done;
    {
        std::lock_guard lock(mutex_);
        if (unloading_) return;
        unloading_ = true;
        for (auto& a : adapters_) {
            a.closing = true;
            a.timerDue.fill(0);
            a.devices.clear();
            DrainAdapter(a, done);
        }
        Drain(registrations_, STATUS_CANCELLED, done);
        Drain(deviceListRequests_, STATUS_CANCELLED, done);
        listRoundRequest_.reset();
        listRoundDue_ = 0;
        for (auto& w : busEventWaiters_)
            Drain(w.requests, STATUS_CANCELLED, done);
        busEventWaiters_.clear();
        Drain(discoveryAnswers_, STATUS_CANCELLED, done);
        Drain(messages_, STATUS_CANCELLED, done);
        Drain(actionAcks_, STATUS_CANCELLED, done);
        Drain(powerParked_, STATUS_POWER_PARKED, done);
        adapters_.clear();
    }
    CompleteAll(done);
}

size_t GigeDriver::AdapterCount() const {
    std::lock_guard lock(mutex_);
    return adapters_.size();
}
size_t GigeDriver::RegistrationCount() const {
    std::lock_guard lock(mutex_);
    return registrations_.size();
}
size_t GigeDriver::PortCount() const {
    std::lock_guard lock(mutex_);
    return ports_.size();
}
size_t GigeDriver::MulticastCount() const {
    std::lock_guard lock(mutex_);
    return multicasts_.size();
}
size_t GigeDriver::BusEventWaiterCount() const {
    std::lock_guard lock(mutex_);
    return busEventWaiters_.size();
}

} // namespace qorcam::gige
