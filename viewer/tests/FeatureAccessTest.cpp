// Guarded getters and one-attempt setters: neutral values, one attempt, the failure text.
#include "ViewerFixture.h"

#include "FeatureAccess.h"

#include <gtest/gtest.h>

using namespace qorcam::viewer;
using namespace qorcam::viewer::testing;
using namespace qorcam::genapi;

namespace {

/// Every getter on one node, as its value turned to text.
std::vector<std::string> ReadAll(FakeHost& h) {
    auto node = [&h](const char* n) { return h.map._GetNode(n); };
    return {
        std::to_string(SafeGetIntValue(node("Width"))),
        std::to_string(SafeGetIntMin(node("Width"))),
        std::to_string(SafeGetIntMax(node("Width"))),
        std::to_string(SafeGetIntInc(node("Width"))),
        std::to_string(SafeGetBoolValue(node("Flip"))),
        std::to_string(SafeGetFloatValue(node("Gain"))),
        std::to_string(SafeFloatHasInc(node("Gain"))),
        std::to_string(SafeGetFloatInc(node("Gain"))),
        SafeGetStringValue(node("DeviceUserID")),
        SafeStringToString(node("DeviceUserID")),
        std::to_string(SafeGetStringMaxLength(node("DeviceUserID"))),
        SafeGetRegister(node("Blob")),
        std::to_string(SafeGetRegisterLength(node("Blob"))),
        SafeValueToString(node("Temperature")),
        std::to_string(SafeGetIntRepresentation(node("Address"))),
        SafeGetEnumEntrySymbolic(SafeGetEnumCurrentEntry(node("PixelFormat"))),
    };
}

} // namespace

TEST(FeatureAccess, GettersAnswerOnlyWhileTheWindowIsLive) {
    FakeHost h;
    std::vector<std::string> live = ReadAll(h);
    EXPECT_EQ(live[0], "22");
    EXPECT_EQ(live[4], "0");
    EXPECT_EQ(live[8], "cam");
    EXPECT_EQ(live[13], "40");
    EXPECT_EQ(live[14], std::to_string(IPV4Address));
    EXPECT_EQ(live[15], "Mono8");

    // No active window: neutral values, and the device is not asked.
    h.active = nullptr;
    const int reads = h.port.reads;
    std::vector<std::string> neutral = ReadAll(h);
    EXPECT_EQ(h.port.reads, reads);
    for (size_t i = 0; i < neutral.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(neutral[i].empty() || neutral[i] == "0" || neutral[i] == "0.000000") << neutral[i];
    }
}

TEST(FeatureAccess, AFailingNodeGivesTheNeutralValueAfterOneAttempt) {
    FakeHost h;
    h.port.fail = true;
    h.map.InvalidateNodes();
    EXPECT_EQ(SafeGetIntValue(h.map._GetNode("Width")), 0);
    EXPECT_EQ(LastFeatureFailure(), "[Width]\n\rGet node value error\n\rTryNum:1");
    EXPECT_EQ(SafeGetRegister(h.map._GetNode("Blob")), "");
    EXPECT_EQ(LastFeatureFailure(), "[Blob]\n\rGet content string error\n\rTryNum:1");
    // A view of the wrong kind holds nothing: same neutral answer, no name.
    EXPECT_EQ(SafeGetIntValue(h.map._GetNode("Gain")), 0);
    EXPECT_EQ(LastFeatureFailure(), "[]\n\rGet node value error\n\rTryNum:1");
    EXPECT_FALSE(SafeGetEnumCurrentEntry(h.map._GetNode("Width")).IsValid());
}

TEST(FeatureAccess, SettersWriteOnceAndReportRefusal) {
    FakeHost h;
    EXPECT_TRUE(TrySetIntValue(h.map._GetNode("Width"), 30));
    EXPECT_EQ(h.port.Get32LE(0x00), 30u);
    EXPECT_TRUE(TrySetEnumValue(h.map._GetNode("PixelFormat"), "RGB8"));
    EXPECT_TRUE(TrySetStringValue(h.map._GetNode("DeviceUserID"), "abc"));
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    EXPECT_TRUE(TrySetRegister(h.map._GetNode("Blob"), bytes, 5));
    uint8_t back[5] = {};
    EXPECT_TRUE(TryGetRegister(h.map._GetNode("Blob"), back, 5));
    EXPECT_EQ(back[4], 5);
    NodeList_t entries;
    EXPECT_TRUE(TryGetEnumEntries(h.map._GetNode("PixelFormat"), entries));
    EXPECT_EQ(entries.size(), 3u);

    // Refused values: out of range, unknown entry, read-only node, failing port.
    EXPECT_FALSE(TrySetIntValue(h.map._GetNode("Width"), 1000));
    EXPECT_FALSE(TrySetEnumValue(h.map._GetNode("PixelFormat"), "Nope"));
    EXPECT_FALSE(TrySetIntValue(h.map._GetNode("Fixed"), 1));
    EXPECT_FALSE(TrySetFloatValue(h.map._GetNode("Width"), 1.0)); // no float view
    h.port.fail = true;
    const int writes = h.port.writes;
    EXPECT_FALSE(TryExecuteCommand(h.map._GetNode("DeviceReset"), false));
    EXPECT_EQ(LastFeatureFailure(), "[DeviceReset]\n\rExecute the command error\n\rTryNum:1");
    EXPECT_FALSE(TryExecuteCommand(h.map._GetNode("AcquisitionStart"), true));
    EXPECT_EQ(LastFeatureFailure(), "[AcquisitionStart]\n\rExecute the command error\n\rTryNum:1");
    EXPECT_FALSE(TrySetBoolValue(h.map._GetNode("Flip"), true));
    EXPECT_EQ(h.port.writes, writes);
}
