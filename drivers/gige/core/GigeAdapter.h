// One bound adapter and the camera-side records it holds.
#pragma once

#include "DriverProfile.h"
#include "FramePort.h"
#include "GigeRecords.h"
#include "GigeRequest.h"

#include <array>
#include <cstdint>
#include <deque>
#include <list>
#include <span>
#include <string>

namespace qorcam::gige {

inline constexpr uint64_t kNever = ~0ull;

// One camera seen on an adapter's network.
struct GigeDeviceEntry {
    uint64_t lastSeen = kNever;
    uint64_t leaseTime = kNever;
    uint64_t commandTimeout = 0; // ticks
    uint32_t owner = 0;           // the controlling process; 0 = none
    uint32_t ownerUser = 0;       // its user
    uint64_t ownerConnection = 0; // the handle it opened the camera on
    uint32_t heartbeatInterval = 0;
    uint32_t lostTimeout = 0;
    uint32_t heartbeatUnanswered = 0;
    uint16_t heartbeatPort = 0;
    uint16_t heartbeatPendingId = 0;
    uint64_t heartbeatDue = 0; // 0 = timer not armed
    uint64_t lostDue = 0;
    uint16_t versionMajor = 0;
    uint16_t versionMinor = 0;
    uint32_t deviceMode = 0;
    std::array<uint8_t, 176> text{};
    MacAddress mac{};
    uint32_t ip = 0; // network order
    bool answered = false;
    bool lost = false;
};

// One pended command: the request waits for its acknowledge, and is sent
// again with the same request id when none comes in time.
struct CommandContext {
    GigeRequestPtr request;
    uint16_t requestId = 0;
    uint32_t resendsLeft = 0;
    uint64_t extendedWait = 0; // ticks; 0 = the entry's command time-out applies
    uint64_t lastSend = 0;
};

// One pended stream buffer. It is free (block id 0) until a leader binds a
// block to it; from then on its output is mapped and packets are placed in it.
struct BlockContext {
    GigeRequestPtr request;
    uint64_t outputLength = 0;
    uint32_t infoOffset = 0;
    uint32_t packetCount = 0; // of the block; a trailer may lower it below the buffer's
    uint32_t bufferPackets = 0; // as the request laid the buffer out
    uint32_t missing = 0;
    uint32_t nextExpected = 0; // packet id - 1 of the next packet in order
    uint32_t requestedAgain = 0;
    uint32_t resendCommands = 0;
    uint32_t resendsLeft = 0;
    uint64_t blockId = 0;
    uint64_t lastPacket = ~0ull; // when its last packet came, or later: when packets were asked for again
    uint64_t lastRequest = 0;     // when packets were last asked for again (0: never)
    bool extended = false; // the leader came with 64-bit block ids
    bool chunkLengthArrived = false;
    bool trailerWordsArrived = false;
    GigeBlockInfo info{};
    std::span<uint8_t> output;
};

// A stream channel: GVSP of one host port placed into pended buffers.
struct GigeStreamChannel {
    uint32_t cameraIp = 0;
    uint16_t hostPort = 0;
    uint16_t channelIndex = 0;
    uint32_t packetPayloadSize = 0;
    bool resendEnable = false;
    bool enabled = false;
    uint64_t lastBlockId = 0; // of the last leader since the channel was enabled; 0 = none yet
    bool extendedIds = false;
    uint32_t blockPackets = 0; // packets per block of the channel's buffers, for blocks that were lost
    std::list<BlockContext> blockRequests;
    std::deque<GigeRequestPtr> leaderRequests;
    uint64_t packets = 0;
    uint64_t missingOrRequested = 0;
    uint64_t resendCommands = 0;
    // Whose channel it is: only processes of that user (or root) use it.
    uint32_t ownerUser = 0;
    bool ownerKnown = false; // false: set up by the service itself
};

// An event channel: camera events of one host port for one process.
struct GigeEventChannel {
    uint32_t owner = 0;
    uint64_t ownerConnection = 0;
    uint16_t hostPort = 0;
    uint16_t cameraPort = 0;
    uint16_t lastEventId = 0;
    uint16_t lastEventDataId = 0;
    std::deque<GigeRequestPtr> requests;
};

// The adapter's timers; Probe paces the start-up's search for another DHCP server.
enum class AdapterTimer {
    Start,
    Tick,
    Discovery,
    DhcpSend,
    Announce,
    DhcpRetry,
    BusEvent,
    Settings,
    Probe,
    Count
};

// The state of one bound adapter. The service's lock guards all of it.
struct GigeAdapter {
    uint32_t number = 0;
    std::string bindName; // "\DEVICE\" + the interface name
    std::string displayName;
    FramePort* port = nullptr;

    uint16_t gvcpRequestId = 0;
    uint16_t ipId = 0;

    std::deque<GigeRequestPtr> commandQueue;
    std::list<CommandContext> awaitingAck;
    std::deque<GigeRequestPtr> testPacketQueue;
    std::deque<GigeRequestPtr> toolQueue;
    std::list<GigeDeviceEntry> devices;
    std::list<GigeStreamChannel> streamChannels;
    // When the newest stream frame handed to the logic reached the machine; while the receive path
    // is behind, block time-outs count up to it, not up to now.
    uint64_t streamArrived = 0;
    uint64_t streamCheckDue = 0; // the receive path's next look at block time-outs, in arrival time
    std::list<GigeEventChannel> eventChannels;

    std::array<uint64_t, static_cast<size_t>(AdapterTimer::Count)> timerDue{}; // 0 = not armed

    uint32_t linkSpeed = 0; // units of 100 bit/s
    uint32_t maxFrameSize = 0;

    uint32_t ip = 0;       // network order, 0 = none
    uint32_t mask = 0;     // network order
    uint32_t systemIp = 0; // the address the system's stack holds on it
    uint32_t systemMask = 0;
    MacAddress mac{};
    uint32_t dhcpTransactionId = 0;
    MacAddress dhcpServerMac{};
    uint32_t dhcpServerIp = 0;
    uint32_t offeredIp = 0;
    uint8_t dhcpRetryCount = 0;
    uint8_t announceCount = 0;

    bool windowsManaged = true;
    bool dhcpClientActive = false;
    bool otherServerPresent = false;
    bool startedOnce = false;
    bool resume = false;
    bool paused = false;
    bool closing = false;
    bool serverProbeRunning = false;
    uint8_t probeSends = 0;
    bool startedBeforeProbe = false;
    uint32_t notConnected = 0; // 1 = no link
    uint32_t lastNotConnected = 0;

    // The name by which user mode names the adapter.
    std::string ShortName() const { return bindName.size() > 8 ? bindName.substr(8) : std::string(); }
    uint64_t& Timer(AdapterTimer t) { return timerDue[static_cast<size_t>(t)]; }
    // The DHCP client forgets its offer, its server and its address.
    void ForgetLease() {
        offeredIp = 0;
        dhcpServerIp = 0;
        dhcpServerMac = {};
        ip = 0;
        dhcpRetryCount = 0;
    }
};

} // namespace qorcam::gige
