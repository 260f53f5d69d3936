// DriverSourceTest: how driver message records become log lines.
#include "DriverSource.h"
#include "TracelogTestSupport.h"

#include <gtest/gtest.h>

namespace qorcam::tracelog {
namespace {

using test::Record;

TEST(DriverSourceTest, GigeAndUsbLines) {
    EXPECT_EQ(FormatGigeMessage(Record({0x1A2B, 0}, u"abc")), "Number =0x00001A2B Status=0x00000000 abc\n");
    EXPECT_EQ(FormatUsbMessage(Record({0x2A1B, 0xFFFFFFFE, 0xC0000001}, u"pipe")),
              "Vendor=0x2A1B SerialNumber=-2 Status=0xC0000001 pipe\n");
}

TEST(DriverSourceTest, TextEndsAtItsZeroOrAtTheReturnedBytes) {
    auto bytes = Record({1, 2}, u"abc");
    bytes.resize(8 + 4); // "ab" without a terminator
    EXPECT_EQ(FormatGigeMessage(bytes), "Number =0x00000001 Status=0x00000002 ab\n");
    bytes.resize(8 + 3); // half a character
    EXPECT_EQ(FormatGigeMessage(bytes), "Number =0x00000001 Status=0x00000002 a\n");
    // Too short for the fixed fields: no line at all.
    EXPECT_FALSE(FormatGigeMessage(std::vector<std::uint8_t>(7)).has_value());
    EXPECT_FALSE(FormatUsbMessage(std::vector<std::uint8_t>(11)).has_value());
}

TEST(DriverSourceTest, WideTextBecomesUtf8) {
    const std::u16string text = u"\u00e4\u20ac\U0001F600";
    auto bytes = Record({}, text);
    EXPECT_EQ(WideToNarrow(bytes), "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(WideToNarrow({reinterpret_cast<const std::uint8_t*>(lone), sizeof lone}), "a?b?");
}

TEST(DriverSourceTest, RequestSizes) {
    EXPECT_EQ(kGigeSource.bufferSize, 802u);
    EXPECT_EQ(kGigeSource.requestLength, 540u);
    EXPECT_EQ(kUsbSource.bufferSize, 1012u);
    EXPECT_EQ(kUsbSource.requestLength, 1012u);
}

} // namespace
} // namespace qorcam::tracelog
