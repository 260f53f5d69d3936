// Tests of the protocol pieces without I/O: event packets, stream transfer plans, descriptor walk, pipes,
// settings.
#include "HardwareInfo.h"
#include "StreamLayout.h"
#include "U3vPackets.h"
#include "UsbParameters.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace qorcam::usbdrv {
namespace {

using namespace devio;

std::vector<std::uint8_t> EventPacket(std::uint16_t flags, std::uint16_t requestId, std::size_t data,
                                      std::uint16_t declared, std::uint32_t prefix = kU3vPrefixEvent) {
    std::vector<std::uint8_t> p = {static_cast<std::uint8_t>(prefix),
                                   static_cast<std::uint8_t>(prefix >> 8),
                                   static_cast<std::uint8_t>(prefix >> 16),
                                   static_cast<std::uint8_t>(prefix >> 24),
                                   static_cast<std::uint8_t>(flags),
                                   static_cast<std::uint8_t>(flags >> 8),
                                   0x00,
                                   0x0C,
                                   static_cast<std::uint8_t>(declared),
                                   static_cast<std::uint8_t>(declared >> 8),
                                   static_cast<std::uint8_t>(requestId),
                                   static_cast<std::uint8_t>(requestId >> 8)};
    p.resize(12 + data, 0x5A);
    return p;
}

TEST(EventPacket, JudgedByPrefixLengthRepeatAndAcknowledgeFlag) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> packet;
        std::optional<std::uint16_t> last;
        bool valid, deliver, acknowledge;
        std::size_t size;
    };
    const std::vector<Case> cases = {
        {"first event", EventPacket(0x4000, 3, 12, 12), std::nullopt, true, true, true, 24},
        {"new id", EventPacket(0x4000, 4, 12, 12), 3, true, true, true, 24},
        {"repeat of the last id is acknowledged, not delivered", EventPacket(0x4000, 3, 12, 12), 3, true,
         false, true, 24},
        {"no acknowledge asked", EventPacket(0, 5, 0, 0), 3, true, true, false, 12},
        {"transfer longer than the packet", EventPacket(0, 5, 20, 4), 3, true, true, false, 16},
        {"foreign prefix", EventPacket(0x4000, 5, 12, 12, kU3vPrefixControl), 3, false, false, false, 0},
        {"header counts more than arrived", EventPacket(0x4000, 5, 12, 13), 3, false, false, false, 0},
        {"shorter than a header",
         {0x55, 0x33, 0x56, 0x45, 0, 0x40, 0, 0x0C, 0, 0, 5},
         3,
         false,
         false,
         false,
         0},
    };
    for (const auto& c : cases) {
        const auto d = JudgeEvent(c.packet, c.last);
        EXPECT_EQ(d.valid, c.valid) << c.name;
        EXPECT_EQ(d.deliver, c.deliver) << c.name;
        EXPECT_EQ(d.acknowledge, c.acknowledge) << c.name;
        EXPECT_EQ(d.size, c.size) << c.name;
    }
}

TEST(EventPacket, AcknowledgeCarriesTheEventsRequestId) {
    const auto ack = BuildEventAck(0xBEEF);
    EXPECT_EQ(std::vector<std::uint8_t>(ack.begin(), ack.end()),
              (std::vector<std::uint8_t>{0x55, 0x33, 0x56, 0x45, 0, 0, 0x01, 0x0C, 0, 0, 0xEF, 0xBE}));
}

std::string Plan(const StreamLayout& layout, std::uint64_t length) {
    std::vector<StreamTransfer> transfers;
    const NtStatus status = PlanStreamRead(layout, length, transfers);
    if (status != STATUS_SUCCESS) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", status);
        return text;
    }
    std::string out;
    for (const auto& t : transfers)
        out += std::to_string(static_cast<int>(t.kind)) + "@" + std::to_string(t.offset) + "+" +
               std::to_string(t.length) + " ";
    return out;
}

TEST(StreamLayout, TransfersFollowTheLayoutAndStayInsideTheBuffer) {
    auto layout = [](std::uint32_t l, std::uint32_t t, std::uint32_t s, std::uint32_t n, std::uint32_t f1,
                     std::uint32_t f2) {
        StreamLayout x;
        x.set = true;
        x.leaderOffset = l;
        x.trailerOffset = t;
        x.transferSize = s;
        x.transferCount = n;
        x.final1Size = f1;
        x.final2Size = f2;
        return x;
    };
    const std::vector<std::tuple<const char*, StreamLayout, std::uint64_t, std::string>> cases = {
        {"two payload transfers and both finals", layout(1000, 1100, 400, 2, 100, 20), 1200,
         "0@1000+100 1@0+400 1@400+400 2@800+100 3@900+20 4@1100+100 "},
        {"no final transfers", layout(800, 900, 400, 2, 0, 0), 1000,
         "0@800+100 1@0+400 1@400+400 4@900+100 "},
        {"finals only", layout(600, 700, 0, 0, 512, 8), 800, "0@600+100 2@0+512 3@512+8 4@700+100 "},
        {"no layout stored", StreamLayout{}, 1000, "0xC000000D"},
        {"leader area empty", layout(800, 800, 400, 2, 0, 0), 1000, "0xC000000D"},
        {"trailer at the end of the buffer", layout(800, 1000, 400, 2, 0, 0), 1000, "0xC000000D"},
        {"buffer ends before the trailer offset", layout(800, 900, 400, 2, 0, 0), 850, "0xC000000D"},
        {"payload beyond the buffer", layout(800, 900, 400, 3, 0, 0), 1000, "0xC000000D"},
        {"payload sizes that overflow 32 bits", layout(800, 900, 0x80000000u, 2, 0x80000000u, 0), 1000,
         "0xC000000D"},
        {"count without size", layout(800, 900, 0, 5, 0, 0), 1000, "0xC000000D"},
        {"too many transfers", layout(0x7FFFF000, 0x7FFFF100, 1, 0x100000, 0, 0), 0x80000000ull,
         "0xC000009A"},
    };
    for (const auto& [name, l, length, expected] : cases)
        EXPECT_EQ(Plan(l, length), expected) << name;
}

std::vector<std::uint8_t> Configuration(std::vector<std::vector<std::uint8_t>> descriptors) {
    std::vector<std::uint8_t> bytes = {9, 2, 0, 0, 3, 1, 0, 0x80, 50};
    for (const auto& d : descriptors)
        bytes.insert(bytes.end(), d.begin(), d.end());
    bytes[2] = static_cast<std::uint8_t>(bytes.size());
    bytes[3] = static_cast<std::uint8_t>(bytes.size() >> 8);
    return bytes;
}

std::vector<std::uint8_t> Interface(std::uint8_t number, std::uint8_t alternate, std::uint8_t protocol,
                                    std::uint8_t endpoints) {
    return {9, 4, number, alternate, endpoints, 0xEF, 0x05, protocol, 0};
}
std::vector<std::uint8_t> Endpoint(std::uint8_t address, std::uint16_t maxPacket, std::uint8_t type = 2) {
    return {
        7, 5, address, type, static_cast<std::uint8_t>(maxPacket), static_cast<std::uint8_t>(maxPacket >> 8),
        0};
}
std::vector<std::uint8_t> DeviceInfo(std::uint8_t guidIndex, std::uint8_t length = 20) {
    std::vector<std::uint8_t> d(length, 0);
    d[0] = length;
    d[1] = 0x24;
    if (length > 11) d[11] = guidIndex;
    return d;
}

TEST(HardwareInfo, DeviceGuidIndexFromTheFirstDeviceInfoDescriptor) {
    EXPECT_EQ(FindDeviceGuidIndex(Configuration({Interface(0, 0, 0, 0), DeviceInfo(4), DeviceInfo(9)})), 4);
    EXPECT_EQ(FindDeviceGuidIndex(Configuration({Interface(0, 0, 0, 0)})), std::nullopt);
    EXPECT_EQ(FindDeviceGuidIndex(Configuration({DeviceInfo(4, 11)})), std::nullopt)
        << "too short for byte 11";
    // A descriptor of length 0 would stop a walk by length bytes forever.
    auto zero = Configuration({Interface(0, 0, 0, 0), {0, 0x24}, DeviceInfo(4)});
    EXPECT_EQ(FindDeviceGuidIndex(zero), std::nullopt);
    auto cut = Configuration({DeviceInfo(4)});
    cut.resize(cut.size() - 5);
    EXPECT_EQ(FindDeviceGuidIndex(cut), std::nullopt) << "a descriptor running past the bytes";
}

TEST(HardwareInfo, PipesByInterfaceProtocol) {
    const auto all = usb::ParseConfiguration(Configuration(
        {Interface(0, 0, 0, 2), Endpoint(0x01, 1024), Endpoint(0x81, 512), Interface(1, 0, 1, 1),
         Endpoint(0x82, 64), Interface(2, 0, 2, 2), Endpoint(0x84, 1024, 3), Endpoint(0x83, 1024),
         Interface(2, 1, 2, 1), Endpoint(0x85, 1024)}));
    ASSERT_TRUE(all);
    const UsbPipes pipes = FindPipes(*all);
    EXPECT_EQ(pipes.controlOut, 0x01);
    EXPECT_EQ(pipes.controlOutMaxPacket, 1024);
    EXPECT_EQ(pipes.controlIn, 0x81);
    EXPECT_EQ(pipes.controlInMaxPacket, 512);
    EXPECT_EQ(pipes.event, 0x82);
    EXPECT_EQ(pipes.eventMaxPacket, 64);
    EXPECT_EQ(pipes.stream, 0x83) << "interrupt endpoints and other alternate settings are not taken";
    EXPECT_TRUE(pipes.Complete());

    const auto noEvent = usb::ParseConfiguration(
        Configuration({Interface(0, 0, 0, 2), Endpoint(0x01, 1024), Endpoint(0x81, 1024),
                       Interface(2, 0, 2, 1), Endpoint(0x83, 1024)}));
    ASSERT_TRUE(noEvent);
    EXPECT_TRUE(FindPipes(*noEvent).Complete());
    EXPECT_EQ(FindPipes(*noEvent).event, 0);

    const auto noControlIn = usb::ParseConfiguration(Configuration(
        {Interface(0, 0, 0, 1), Endpoint(0x01, 1024), Interface(2, 0, 2, 1), Endpoint(0x83, 1024)}));
    ASSERT_TRUE(noControlIn);
    EXPECT_FALSE(FindPipes(*noControlIn).Complete());
}

TEST(UsbParameters, MissingAndZeroValuesMeanTheDefaults) {
    const std::vector<std::tuple<std::map<std::string, std::uint32_t>, std::uint32_t, std::uint32_t>> cases =
        {
            {{}, 5, 100},
            {{{"CMDRETRY", 0}, {"CMDTIMEOUT", 0}}, 5, 100},
            {{{"CMDRETRY", 3}, {"CMDTIMEOUT", 250}}, 3, 250},
        };
    for (const auto& [values, retry, timeout] : cases) {
        const auto p = UsbParameters::FromValues([&](std::string_view name) -> std::optional<std::uint32_t> {
            const auto found = values.find(std::string(name));
            if (found == values.end()) return std::nullopt;
            return found->second;
        });
        EXPECT_EQ(p.cmdRetry, retry);
        EXPECT_EQ(p.cmdTimeoutMs, timeout);
    }
}

} // namespace
} // namespace qorcam::usbdrv
