// The integer and register text forms and their parsers, as tables of cases.
#include "ValueText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace qorcam::viewer;

TEST(ValueText, FormatIntValueAndItsParserAgree) {
    struct Case {
        int64_t value;
        bool isSigned;
        const char* text;
    } cases[] = {
        {2147483646, true, "2147483646"},
        {2147483647, true, "0x 7fff ffff"},
        {-2147483647, true, "-2147483647"},
        {-2147483648LL, true, "-0x 8000 0000"},
        {-1, true, "-1"},
        {0, true, "0"},
        {INT64_MIN, true, "-0x 8000 0000 0000 0000"},
        {INT64_MAX, true, "0x 7fff ffff ffff ffff"},
        {2147483646, false, "2147483646"},
        {-1, false, "0x ffff ffff ffff ffff"},
        {0x100000000LL, false, "0x 0001 0000 0000"},
        {0xFFFFFFFFLL, false, "0x ffff ffff"},
        {0x0001000000000000LL, false, "0x 0001 0000 0000 0000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FormatIntValue(c.value, c.isSigned), c.text);
        EXPECT_EQ(ParseDecimalValue(c.text, c.isSigned), c.value);
    }
}

TEST(ValueText, ParsersOfTaggedAndTypedTexts) {
    EXPECT_EQ(ParseHexValue("[HEX] 0001 0002 0003 0004"), 0x0001000200030004ULL);
    EXPECT_EQ(ParseHexValue("[HEX] 1234 5678 9abc def0 FFFF"), 0x123456789abcdef0ULL); // first 16 digits
    EXPECT_EQ(ParseHexValue("12zz34"), 0x1234u);                                       // others skipped
    EXPECT_EQ(ParseHexValue(FormatHexValue(0x00ab00cd00ef0012LL)), 0x00ab00cd00ef0012ULL);
    EXPECT_EQ(ParseIPv4Value("[IPv4] 192.168.0.1"), 0xC0A80001);
    EXPECT_EQ(ParseIPv4Value("1.2.3.4.5"), 0x01020304);
    EXPECT_EQ(ParseIPv4Value("10.300"), 10 * 256 + 300); // a part above 255 is added unchanged
    EXPECT_EQ(ParseIPv4Value(FormatIPv4Value(0xA9FE0102)), 0xA9FE0102);
    EXPECT_EQ(FormatIPv4Value(0xC0A80001), "[IPv4] 192.168.0.1");
    EXPECT_EQ(ParseDecimalValue("12abc", true), 12); // stops at the first non-digit
    EXPECT_EQ(ParseDecimalValue("", true), 0);
    EXPECT_EQ(ParseDecimalValue("99999999999999999999999", true), INT64_MAX); // saturates, no overflow
}

TEST(ValueText, RegisterBytesRoundTrip) {
    const uint8_t bytes[] = {0x41, 0x00, 0x5C, 0x7E, 0x20};
    const std::string text = FormatRegisterBytes(bytes, sizeof bytes);
    EXPECT_EQ(text, "A\\00\\5C~\\20");
    uint8_t back[5] = {};
    ASSERT_EQ(ParseRegisterBytes(back, sizeof back, text), 5u);
    EXPECT_EQ(0, std::memcmp(back, bytes, sizeof bytes));

    struct Case {
        const char* text;
        size_t capacity;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"AB\\4", 8, {'A', 'B'}}, // an escape without its two digits ends the text
        {"\\", 8, {}},
        {"ABCDEF", 3, {'A', 'B', 'C'}}, // never more than the register holds
        {"\\ff\\FF", 8, {0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<uint8_t> out(c.capacity, 0xEE);
        size_t n = ParseRegisterBytes(out.data(), out.size(), c.text);
        out.resize(n);
        EXPECT_EQ(out, c.bytes);
    }
}
