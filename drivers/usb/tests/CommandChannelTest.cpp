// Tests of the command channel over a scripted pair of control pipes: resends, time-outs, pending and stray
// acknowledges.
#include "CommandChannel.h"
#include "U3vPackets.h"
#include "UsbDeviceControl.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <vector>

namespace qorcam::usbdrv {
namespace {

using namespace devio;

/// A camera's control pipes as a script: each wait either times out (no
/// acknowledge scripted) or brings the next scripted acknowledge.
class ScriptedPort : public CommandPort {
public:
    struct Step {
        std::vector<std::uint8_t> ack; ///< empty with timeout
        bool timeout = false;
        NtStatus readStatus = STATUS_SUCCESS;
    };

    std::deque<Step> script;
    std::vector<std::vector<std::uint8_t>> sent;
    std::vector<std::uint32_t> waits;
    int posts = 0;
    bool pending = false;
    bool cancelAfterFirstWait = false;
    NtStatus sendStatus = STATUS_SUCCESS;

    NtStatus Send(std::span<const std::uint8_t> packet, std::uint32_t) override {
        sent.emplace_back(packet.begin(), packet.end());
        return sendStatus;
    }
    bool AckReadPending() override { return pending; }
    NtStatus PostAckRead() override {
        ++posts;
        pending = true;
        return STATUS_SUCCESS;
    }
    Wake WaitAck(std::uint32_t timeoutMs) override {
        waits.push_back(timeoutMs);
        if (cancelAfterFirstWait) {
            cancelled = true;
            return Wake::Cancelled;
        }
        if (script.empty() || script.front().timeout) {
            if (!script.empty()) script.pop_front();
            return Wake::Timeout;
        }
        current = script.front();
        script.pop_front();
        pending = false;
        return Wake::Ack;
    }
    NtStatus AckStatus() override { return current.readStatus; }
    std::span<const std::uint8_t> AckBytes() override { return current.ack; }
    bool Cancelled() override { return cancelled; }

    bool cancelled = false;
    Step current;
};

std::vector<std::uint8_t> Ack(std::uint16_t command, std::uint16_t requestId, std::vector<std::uint8_t> body,
                              std::uint16_t status = 0, std::uint32_t prefix = kU3vPrefixControl) {
    std::vector<std::uint8_t> bytes = {
        static_cast<std::uint8_t>(prefix),       static_cast<std::uint8_t>(prefix >> 8),
        static_cast<std::uint8_t>(prefix >> 16), static_cast<std::uint8_t>(prefix >> 24),
        static_cast<std::uint8_t>(status),       static_cast<std::uint8_t>(status >> 8),
        static_cast<std::uint8_t>(command),      static_cast<std::uint8_t>(command >> 8),
        static_cast<std::uint8_t>(body.size()),  static_cast<std::uint8_t>(body.size() >> 8),
        static_cast<std::uint8_t>(requestId),    static_cast<std::uint8_t>(requestId >> 8)};
    for (const std::uint8_t b : body) // (insert of a short list trips a false bounds warning of GCC 12)
        bytes.push_back(b);
    return bytes;
}
std::vector<std::uint8_t> Pending(std::uint16_t requestId, std::uint16_t timeoutMs) {
    return Ack(kU3vPendingAck, requestId,
               {0, 0, static_cast<std::uint8_t>(timeoutMs), static_cast<std::uint8_t>(timeoutMs >> 8)});
}

constexpr std::uint16_t kId = 7;
const CommandSettings kSettings{5, 100, 250, 1024};
const CommandOrder kRead4{kUsbCmdReadMemory, 0x144, 4, {}};

std::uint16_t Flags(const std::vector<std::uint8_t>& packet) {
    return GetLe16(packet, 4);
}

TEST(CommandChannel, UnansweredCommandIsSentCmdRetryTimesThenFailsWithRetry) {
    ScriptedPort port;
    std::vector<std::uint8_t> out(8, 0xEE);
    const auto result = UsbSendCmd(port, kSettings, kRead4, kId, out);
    EXPECT_EQ(result.status, STATUS_RETRY);
    EXPECT_EQ(result.information, 0u);
    ASSERT_EQ(port.sent.size(), 5u);
    for (std::size_t i = 0; i < port.sent.size(); ++i) {
        EXPECT_EQ(Flags(port.sent[i]), i == 0 ? 0x4000 : 0xC000) << i;
        EXPECT_EQ(GetLe16(port.sent[i], 10), kId) << "every attempt keeps the request id";
        EXPECT_EQ(port.waits[i], 250u);
    }
    EXPECT_EQ(port.posts, 1) << "the acknowledge read stays posted across time-outs";
    EXPECT_EQ(out[0], 0xEE) << "a failed command writes no answer";
}

TEST(CommandChannel, ReadAcknowledgeFillsTheAnswerAndAZeroBehindIt) {
    ScriptedPort port;
    port.script.push_back({Ack(kU3vReadMemAck, kId, {1, 2, 3, 4}), false});
    std::vector<std::uint8_t> out(9, 0xEE);
    const auto result = UsbSendCmd(port, kSettings, kRead4, kId, out);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.information, 8u);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0, 0, 4, 0, 1, 2, 3, 4, 0}));
    // The packet as the camera receives it: READMEM_CMD, length 12, address, 0, count.
    ASSERT_EQ(port.sent.size(), 1u);
    EXPECT_EQ(port.sent[0],
              (std::vector<std::uint8_t>{0x55, 0x33, 0x56, 0x43, 0x00, 0x40, 0x00, 0x08, 12, 0, kId, 0,
                                         0x44, 0x01, 0,    0,    0,    0,    0,    0,    0,  0, 4,   0}));
}

TEST(CommandChannel, PendingAcknowledgesExtendTheWaitWithoutCostingAnAttempt) {
    ScriptedPort port;
    port.script.push_back({Pending(kId, 500), false});
    port.script.push_back({Pending(kId, 700), false});
    port.script.push_back({Ack(kU3vReadMemAck, kId, {9, 9, 9, 9}), false});
    std::vector<std::uint8_t> out(8);
    const auto result = UsbSendCmd(port, kSettings, kRead4, kId, out);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(port.sent.size(), 1u) << "no resend";
    EXPECT_EQ(port.waits, (std::vector<std::uint32_t>{250, 500, 700}));
    EXPECT_EQ(port.posts, 3);
}

TEST(CommandChannel, AcknowledgesThatDoNotAnswerTheCommandCostOneAttemptEach) {
    // Foreign request id, foreign prefix, too short for a header, a write acknowledge without its value.
    const std::vector<std::vector<std::uint8_t>> strays = {
        Ack(kU3vReadMemAck, kId + 1, {1, 2, 3, 4}),
        Ack(kU3vReadMemAck, kId, {1, 2, 3, 4}, 0, kU3vPrefixEvent),
        {0x55, 0x33, 0x56, 0x43, 0, 0},
        Ack(0x0803, kId, {0, 0}),
    };
    for (const auto& stray : strays) {
        ScriptedPort port;
        port.script.push_back({stray, false});
        port.script.push_back({Ack(0x0803, kId, {0, 0, 4, 0}), false});
        std::vector<std::uint8_t> data = {1, 2, 3, 4};
        std::vector<std::uint8_t> out(4);
        const auto result = UsbSendCmd(port, kSettings, {kUsbCmdWriteMemory, 0x184, 4, data}, kId, out);
        EXPECT_EQ(result.status, STATUS_SUCCESS);
        EXPECT_EQ(result.information, 4u);
        ASSERT_EQ(port.sent.size(), 2u);
        EXPECT_EQ(Flags(port.sent[0]), 0x4000);
        EXPECT_EQ(Flags(port.sent[1]), 0xC000) << "a write resend is marked";
        EXPECT_EQ(GetLe16(port.sent[1], 10), kId);
        EXPECT_EQ(out, (std::vector<std::uint8_t>{0, 0, 4, 0}));
    }
}

TEST(CommandChannel, WriteWithoutAcknowledgeEndsOnceSent) {
    ScriptedPort port;
    std::vector<std::uint8_t> data = {0xAA, 0xBB};
    std::vector<std::uint8_t> out(4, 0xEE);
    const auto result = UsbSendCmd(port, kSettings, {kUsbCmdWriteMemoryNoAck, 0x10, 2, data}, kId, out);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.information, 0u);
    EXPECT_EQ(port.posts, 0);
    EXPECT_TRUE(port.waits.empty());
    ASSERT_EQ(port.sent.size(), 1u);
    EXPECT_EQ(port.sent[0].size(), 22u);
    EXPECT_EQ(Flags(port.sent[0]), 0);
    EXPECT_EQ(GetLe16(port.sent[0], 8), 10) << "length counts the address and the data";
}

TEST(CommandChannel, FailuresEndTheCommandWithTheirStatus) {
    struct Case {
        const char* name;
        std::function<void(ScriptedPort&)> setup;
        CommandOrder order;
        std::size_t output;
        CommandSettings settings;
        NtStatus expected;
    };
    static const std::vector<std::uint8_t> big(100);
    const std::vector<Case> cases = {
        {"send fails", [](ScriptedPort& p) { p.sendStatus = 0xC00000B5; }, kRead4, 8, kSettings, 0xC00000B5},
        {"acknowledge read fails",
         [](ScriptedPort& p) {
             p.script.push_back({{}, false, STATUS_DEVICE_NOT_CONNECTED});
         },
         kRead4, 8, kSettings, STATUS_DEVICE_NOT_CONNECTED},
        {"answer larger than the output",
         [](ScriptedPort& p) {
             p.script.push_back({Ack(kU3vReadMemAck, kId, std::vector<std::uint8_t>(8)), false});
         },
         kRead4, 8, kSettings, STATUS_BUFFER_TOO_SMALL},
        {"cancelled while waiting", [](ScriptedPort& p) { p.cancelAfterFirstWait = true; }, kRead4, 8,
         kSettings, STATUS_CANCELLED},
        {"cancelled before the first attempt", [](ScriptedPort& p) { p.cancelled = true; }, kRead4, 8,
         kSettings, STATUS_CANCELLED},
        {"packet beyond the command buffer",
         [](ScriptedPort&) {},
         {kUsbCmdWriteMemory, 0, 100, big},
         4,
         {5, 100, 100, 64},
         STATUS_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        ScriptedPort port;
        c.setup(port);
        std::vector<std::uint8_t> out(c.output, 0xEE);
        const auto result = UsbSendCmd(port, c.settings, c.order, kId, out);
        EXPECT_EQ(result.status, c.expected) << c.name;
        EXPECT_EQ(result.information, 0u) << c.name;
        EXPECT_EQ(out, std::vector<std::uint8_t>(c.output, 0xEE)) << c.name;
    }
}

TEST(CommandChannel, CameraErrorStatusReachesTheClientAsSuccess) {
    ScriptedPort port;
    port.script.push_back({Ack(0x0803, kId, {0, 0, 0, 0}, 0x8003), false});
    std::vector<std::uint8_t> data = {1, 2, 3, 4};
    std::vector<std::uint8_t> out(4);
    const auto result = UsbSendCmd(port, kSettings, {kUsbCmdWriteMemory, 0xFFFF0000, 4, data}, kId, out);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(GetLe16(out, 0), 0x8003);
}

} // namespace
} // namespace qorcam::usbdrv
