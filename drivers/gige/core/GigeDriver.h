// The GigE network service's logic: global state, device control and the frame path.
#pragma once

#include "DriverProfile.h"
#include "GigeAdapter.h"
#include "GigeClock.h"
#include "GigeParameters.h"
#include "GigeRecords.h"
#include "GigeRequest.h"
#include "Gvcp.h"
#include "ReceivedFrame.h"

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qorcam::gige {

// What the service knows of an adapter when it binds it.
struct AdapterBinding {
    std::string name;        // interface name; the bind name is "\DEVICE\" + name
    std::string displayName; // shown to people; the name when empty
    MacAddress mac{};
    uint32_t maxFrameSize = 1500;
    uint32_t linkSpeed = 0; // units of 100 bit/s
    bool connected = false;
    FramePort* port = nullptr;
};

// The service's whole logic, driven by requests, frames and time, with no
// sockets, threads or sleeps of its own. Every entry point may be called from
// any thread: one lock guards the state, and requests are completed only
// after it is released. Frames go out through each adapter's FramePort.
class GigeDriver {
public:
    GigeDriver(const GigeParameters& parameters, DriverProfile profile, const GigeClock& clock);
    ~GigeDriver();
    GigeDriver(const GigeDriver&) = delete;
    GigeDriver& operator=(const GigeDriver&) = delete;

    // One device-control request: completes it at once and returns its status,
    // or pends it and returns STATUS_PENDING.
    uint32_t DeviceControl(const GigeRequestPtr& request);
    // The caller cancelled the request: when it is still pended it leaves its
    // queue and completes with STATUS_CANCELLED (the registration request
    // first frees everything its process holds).
    void Cancel(const GigeRequestPtr& request);
    // A caller's handle closed: everything taken on it (camera control, host
    // ports with their stream channels, multicast groups, event channels) is
    // given back.
    void ConnectionClosed(uint64_t connection);

    // Binding: the new adapter's number, or empty with the failure status.
    std::optional<uint32_t> BindAdapter(const AdapterBinding& binding, uint32_t* status = nullptr);
    void UnbindAdapter(uint32_t number);
    void LinkStateChanged(uint32_t number, bool connected);
    // The address the system gives the adapter (adapters served beside the
    // system's own stack take it as theirs).
    void SystemAddressChanged(uint32_t number, uint32_t ip, uint32_t mask);
    // One received frame (the bytes of its first buffer).
    void Receive(uint32_t number, std::span<const uint8_t> frame);
    // Frames received together, in order: the same as one Receive each, with the lock taken once for
    // them all and the requests they finish completed after the last. arrived: when the last of them
    // reached the machine, in the clock's ticks (0: now); a receive path that is behind tells by it
    // how old they are, so that their blocks' time-outs count from when their packets came.
    void ReceiveBatch(uint32_t number, std::span<const std::span<const uint8_t>> frames, uint64_t arrived = 0);
    // For a port that times its blocks out itself (FramePort::TimesOutBlocks), called by its stream
    // receive path between reads: handles the blocks in progress that have timed out (unless stream
    // frames still wait to be read) and returns how many ms it may wait for packets before the next
    // block may time out (-1: no block in progress).
    int CheckStreamTimeouts(uint32_t number);

    // Runs the timers that are due; returns the time of the next one (kNever: none). Nothing is due
    // before it unless the wake routine is called.
    uint64_t RunTimers();
    uint64_t NextTimerDue() const;
    // When the most recently sent of the commands that await their camera's answer was sent, in the
    // clock's ticks (0: none awaits one): a service may poll for the answer a while rather than sleep.
    uint64_t CommandAwaitingSince() const;
    // Called (outside the lock) whenever a call arms a timer due before the time the last RunTimers
    // returned, so that a timer thread may sleep until then.
    void SetTimerWake(std::function<void()> wake);

    // The machine is about to sleep: every pended request of the adapters,
    // the device list and the bus-event waiters leaves service, to complete
    // with STATUS_POWER_PARKED at the wake-up; stream and event channels go,
    // cameras lose their owners (and, where the service does not assign
    // them, their addresses), running heartbeats stop.
    void PowerDown();
    // Full power again: the parked requests complete and every adapter
    // starts over as after binding once its link has settled.
    void PowerUp();
    size_t PowerParkedCount() const;

    // A line of the service's own for the trace (no adapter's): it goes to the
    // first reader asking for messages, now or once one does, so a notice
    // given at start-up is not lost for want of a reader. At most a few wait.
    void PostServiceMessage(std::u16string text);

    // Stops the service's logic: every later request fails, pended ones complete.
    void Unload();

    // Views for the service and tests.
    size_t AdapterCount() const;
    size_t RegistrationCount() const;
    size_t PortCount() const;
    size_t MulticastCount() const;
    size_t BusEventWaiterCount() const;
    const GigeParameters& Parameters() const { return params_; }

private:
    struct Completion {
        GigeRequestPtr request;
        uint32_t status;
        uint32_t bytes;
        size_t written = 0; // output bytes that carry the answer, when more than bytes
    };
    using Completions = std::vector<Completion>;
    struct BusEventWaiter {
        uint32_t processId;
        std::deque<GigeRequestPtr> requests;
    };
    struct HostPortEntry {
        uint32_t processId;
        uint16_t port;
        uint32_t userId = 0;
        uint64_t connection = 0;
    };
    struct MulticastEntry {
        uint32_t processId;
        uint32_t group;
        uint64_t connection = 0;
    };

    static void CompleteAll(Completions& completions);
    // Under the lock, at the end of a call: whether a timer is now due before the timer thread wakes.
    bool TimerMovedUpLocked();
    uint64_t NextTimerDueLocked() const;
    // Completes what was collected, then wakes the timer thread when a call moved a timer up.
    void Finish(Completions& completions, bool timerMoved);
    // The same for a call that completed what it collected: looks under the lock again.
    void WakeTimerIfMoved();

    uint32_t Dispatch(const GigeRequestPtr& r, Completions& done, uint32_t& bytes, size_t& written);
    uint32_t Pend(std::deque<GigeRequestPtr>& queue, const GigeRequestPtr& r, Completions& done);
    bool RemoveFrom(std::deque<GigeRequestPtr>& queue, const GigeRequestPtr& r);
    void Drain(std::deque<GigeRequestPtr>& queue, uint32_t status, Completions& done);
    // Completes every request still pended on an adapter that goes away.
    void DrainAdapter(GigeAdapter& a, Completions& done);

    void CancelRegistration(uint32_t processId, Completions& done);
    // Frees the host ports (with their channels) and multicast groups for which held(process, handle) is true.
    void FreePortsAndGroups(const std::function<bool(uint32_t process, uint64_t connection)>& held,
                            Completions& done);
    // Whether the caller may use a stream channel: the channel's user or root.
    static bool MayUseChannel(const GigeRequest& r, const GigeStreamChannel& c);
    void ReleaseDevice(GigeAdapter& a, GigeDeviceEntry& e, bool releaseControl);
    void RemovePortChannels(uint16_t port, Completions& done);
    void UpdateMulticastList(Completions& done);
    void CompleteBusEventWaiters(uint32_t status, Completions& done);
    void PostDriverMessage(const GigeAdapter* adapter, const char16_t* text, Completions& done);
    // Hands the waiting service messages to the readers there are.
    void PostServiceMessages(Completions& done);

    GigeAdapter* AdapterByNumber(uint32_t number);
    GigeAdapter* AdapterByShortName(std::span<const char16_t> name);
    // The first device entry with that address (and that owner, when given), in adapter order.
    GigeDeviceEntry* FindDevice(uint32_t ip, std::optional<uint32_t> owner, GigeAdapter** adapter = nullptr);
    GigeStreamChannel* StreamChannel(uint16_t port, GigeAdapter** adapter = nullptr);
    bool PortListed(uint16_t port) const;
    bool AddressTaken(const GigeAdapter& adapter, uint32_t ip) const;
    void ArmTimer(GigeAdapter& a, AdapterTimer t, uint32_t ms);
    void FireTimer(GigeAdapter& a, AdapterTimer t, Completions& done);
    void LinkStateWork(GigeAdapter& a, Completions& done);
    void StartAdapterAddressing(GigeAdapter& a);
    std::pair<uint16_t, uint16_t> NextGvcpIds(GigeAdapter& a);
    // Sends a frame built in a buffer: length 0 finishes an IPv4 frame (total
    // length and checksums) first; short frames are padded to 60 bytes.
    bool SendRawFrame(GigeAdapter& a, std::span<uint8_t> frame, size_t length = 0);

    void HandleArp(GigeAdapter& a, const ReceivedFrame& f, Completions& done);
    void HandleIcmp(GigeAdapter& a, const ReceivedFrame& f);
    // An ARP frame from this adapter's MAC and address, padded to 60 bytes.
    bool SendArp(GigeAdapter& a, const uint8_t* dstMac, uint16_t op, const uint8_t* targetMac,
                 uint32_t targetIp);
    // Sends a frame laid out by UdpFrame (length and checksums are finished here).
    bool SendUdp(GigeAdapter& a, UdpFrame& frame);
    void TickWork(GigeAdapter& a, Completions& done);

    // Camera control: device entries, discovery, commands, heartbeat, actions, events.
    GigeDeviceEntry* DeviceOn(GigeAdapter& a, uint32_t ip);
    void ProcessCommandQueue(GigeAdapter& a, Completions& done);
    bool SendCommandFrame(GigeAdapter& a, const GigeDeviceEntry& e, std::span<const uint8_t> block,
                          uint16_t requestId);
    void HandleCommandAck(GigeAdapter& a, const ReceivedFrame& f, Completions& done);
    void HandleHeartbeatAck(GigeAdapter& a, uint16_t hostPort, uint16_t ackId, std::span<const uint8_t> gvcp,
                            Completions& done);
    // Sends again (or fails) the commands awaiting answers that are due; returns when the first
    // of those left is due (kNever: none).
    uint64_t CheckCommandResends(GigeAdapter& a, Completions& done);
    uint64_t CommandDue(const CommandContext& c, const GigeDeviceEntry& e) const;
    void RunDeviceTimers(GigeAdapter& a, uint64_t now, Completions& done);
    void HeartbeatTimer(GigeAdapter& a, GigeDeviceEntry& e);
    void LostTimer(GigeAdapter& a, GigeDeviceEntry& e, Completions& done);
    void ReArmOnAnswer(GigeDeviceEntry& e);
    void SendReleaseControl(GigeAdapter& a, const GigeDeviceEntry& e, uint16_t hostPort);
    void UpdateDeviceList(GigeAdapter& a, const ReceivedFrame& f);
    void StartDeviceListRound(Completions& done);
    void FinishDeviceListRound(Completions& done);
    void SendActionCommand(uint32_t cameraIp, uint32_t deviceKey, uint32_t groupKey, uint32_t groupMask);
    void HandleActionAck(GigeAdapter& a, const ReceivedFrame& f, Completions& done);
    void HandleCameraEvent(GigeAdapter& a, const ReceivedFrame& f, Completions& done);
    void SendToolCommand(GigeAdapter& a, Completions& done);
    void HandleToolAnswer(GigeAdapter& a, const ReceivedFrame& f, Completions& done);
    void SendBroadcastDiscovery(GigeAdapter& a, uint16_t srcPort, uint8_t flags);
    void Rediscover(GigeAdapter& a, Completions& done);
    void ForceIpReset(GigeAdapter& a, const ReceivedFrame& f);
    void AnswerDriverDiscovery(GigeAdapter& a, const ReceivedFrame& f);

    // Address management: server probe, DHCP client and server, announcements.
    void StartServerProbe(GigeAdapter& a);
    void ServerProbeStep(GigeAdapter& a);
    void FinishServerProbe(GigeAdapter& a, bool otherServer);
    void SendDhcpDiscover(GigeAdapter& a, uint32_t srcIp);
    void DhcpClientSend(GigeAdapter& a);
    void DhcpClientReceive(GigeAdapter& a, const ReceivedFrame& f);
    void DhcpServerReceive(GigeAdapter& a, const ReceivedFrame& f, Completions& done);
    bool ChooseCameraAddress(GigeAdapter& a, GigeDeviceEntry& e);
    void AnnounceAddress(GigeAdapter& a, Completions& done);
    uint32_t NextRandom();

    // Stream channels: placement, resends and block time-outs.
    // One received frame under the lock; false when the adapter takes no frames (gone, closing, paused).
    // The times of one batch of received frames, and the block its last stream packet went to, so
    // that the packets of one block find it at once (valid during the batch only).
    struct ReceivePass {
        uint64_t arrived = 0; // when the frames reached the machine
        uint64_t now = 0;     // when they are handled
        GigeStreamChannel* channel = nullptr;
        std::list<BlockContext>::iterator block{}; // of channel, when hasBlock
        bool hasBlock = false;
    };
    bool ReceiveLocked(uint32_t number, std::span<const uint8_t> bytes, Completions& done, ReceivePass& pass);
    void HandleStreamPacket(GigeAdapter& a, const ReceivedFrame& f, Completions& done, ReceivePass& pass);
    // Resend rounds and time-outs of the blocks whose last packet came more than the block time-out
    // before upTo; a round sent now waits a whole time-out from now.
    void CheckBlockTimeouts(GigeAdapter& a, uint64_t upTo, uint64_t now, Completions& done);
    // When the adapter's tick must next look at its blocks (kNever: no block is started).
    uint64_t NextBlockDue(const GigeAdapter& a) const;
    void CompleteBlock(GigeStreamChannel& c, BlockContext& b, Completions& done);
    void ResendMissing(GigeAdapter& a, GigeStreamChannel& c, BlockContext& b, uint64_t now);
    void SendPacketResend(GigeAdapter& a, GigeStreamChannel& c, BlockContext& b, uint32_t from, uint32_t to,
                          uint64_t now);
    static void ResetBlock(BlockContext& b, uint32_t streamRetry);
    // The block has `packets` data packets, fewer than its buffer was laid out for: the packets past
    // them are no longer missing.
    static void EndBlockAt(BlockContext& b, uint32_t packets);
    static void CountLostBlocks(GigeStreamChannel& c, uint64_t blocks);

    const GigeParameters params_;
    const DriverProfile profile_;
    const GigeClock& clock_;

    mutable std::mutex mutex_;
    bool unloading_ = false;
    std::list<GigeAdapter> adapters_;
    std::deque<GigeRequestPtr> registrations_;
    std::list<BusEventWaiter> busEventWaiters_;
    std::vector<HostPortEntry> ports_;
    std::vector<MulticastEntry> multicasts_;
    std::deque<GigeRequestPtr> deviceListRequests_;
    std::deque<GigeRequestPtr> discoveryAnswers_;
    std::deque<GigeRequestPtr> messages_;
    std::deque<GigeRequestPtr> actionAcks_;
    std::deque<GigeRequestPtr> powerParked_; // completed at the next power-up
    bool poweredDown_ = false;
    uint32_t messageLevel_ = 0;
    std::deque<std::u16string> serviceMessages_; // waiting for a reader
    // The device-list round in progress: the request it answers and when.
    GigeRequestPtr listRoundRequest_;
    uint64_t listRoundDue_ = 0;
    // The cameras (MAC, address) the last round listed, to tell a change.
    std::vector<std::pair<MacAddress, uint32_t>> lastListed_;
    bool listedOnce_ = false;
    uint64_t blockTimeout_ = 0; // ticks
    std::function<void()> timerWake_;
    uint64_t plannedWake_ = 0; // what the last RunTimers returned: the timer thread sleeps until then
    uint64_t randomState_ = 0;
};

} // namespace qorcam::gige
